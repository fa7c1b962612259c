#pragma once
// Small text checks shared by the layer and the components.
//
// Threads: any thread may call.

#include <algorithm>
#include <cctype>
#include <string_view>

namespace win {

// True when s is not empty and holds only the ASCII digits 0-9.
inline bool IsAllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

}  // namespace win
