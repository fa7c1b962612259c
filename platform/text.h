#pragma once
// Small text checks shared by the layer and the components.
//
// Threads: any thread may call.

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace win {

// True when s is not empty and holds only the ASCII digits 0-9.
inline bool IsAllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// name as one file name of its own: every byte but the ASCII letters and
// digits, "-", "_" and "." is written %XX (upper-case hex), and so is a "."
// at the start, so that no name can become a path, a hidden file, "." or
// "..", and two names never share a file.
inline std::string FileNameOf(std::string_view name) {
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto u = static_cast<unsigned char>(name[i]);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            u == '-' || u == '_' || (u == '.' && i > 0)) {
            out += static_cast<char>(u);
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

}  // namespace win
