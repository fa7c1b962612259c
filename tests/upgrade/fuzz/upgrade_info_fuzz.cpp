// libFuzzer target for the upgrade information file reader and the version
// comparisons: any bytes, without a fault, and the readers' promises hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "upgrade/upgrade_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using namespace upgrade_info;
    for (const char* key : {"#version", "#date", "#method", "#url"})
        for (const char c : Value(text, key))
            if (static_cast<unsigned char>(c) < 32)
                std::abort();
    if (Message(text).find('}') != std::string::npos)
        std::abort();
    Method(text);
    for (const auto& f : Files(text))
        if (f.url.empty())
            std::abort();
    // The text's two halves as two versions and two dates.
    const std::string_view a = text.substr(0, size / 2), b = text.substr(size / 2);
    if (IsNewerNumber(a, a) || (IsNewerNumber(a, b) && IsNewerNumber(b, a)))
        std::abort();
    const auto today = std::chrono::year_month_day{std::chrono::year(2026), std::chrono::month(12),
                                                   std::chrono::day(10)};
    if (!ReadDate(a, today).ok() || IsNewerDate(a, a, today))
        std::abort();
    return 0;
}
