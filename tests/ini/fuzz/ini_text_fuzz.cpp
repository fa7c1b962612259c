// Fuzzes the INI store's line reader, name matching and number parsing with
// their invariants; built with clang's libFuzzer, ASan and UBSan.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ini/ini_text.h"

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

void CheckLines(std::string_view text) {
    const std::vector<std::string> lines = zini::SplitLines(text);
    std::size_t visited = 0;
    zini::ForEachLine(text, [&](std::string_view line) {
        Require(visited < lines.size() && lines[visited] == line);
        ++visited;
        return false;
    });
    Require(visited == lines.size());
    // Joining the lines with LF gives the text with every line ending made LF.
    std::string normalized;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalized += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normalized += text[i];
        }
    }
    if (!normalized.empty() && normalized.back() == '\n')
        normalized.pop_back();
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Require(lines[i].find_first_of("\r\n") == std::string::npos);
        if (i)
            joined += '\n';
        joined += lines[i];
    }
    Require(joined == normalized);
    for (const std::string& line : lines) {
        std::string_view name;
        if (zini::EntryName(line, name)) {
            Require(name.find('=') == std::string_view::npos);
            Require(zini::SameName(name, name));
        } else {
            Require(line.find('=') == std::string::npos);
        }
    }
}

void CheckNumber(std::string_view text, const zini::TNumberSeparators& seps) {
    const std::string clean = zini::CleanNumberText(text, seps);
    Require(clean.find_first_of("% \r\n") == std::string::npos);
    const double value = zini::NumberTextToFloat(text, seps);
    Require(std::isfinite(value));
    const std::int32_t asInt = zini::NumberTextToInt(text, seps);
    const double t = std::trunc(value);
    if (t >= -2147483648.0 && t <= 2147483647.0)
        Require(asInt == static_cast<std::int32_t>(t));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckLines(text);
    CheckNumber(text, {",", "."});
    CheckNumber(text, {".", ","});
    CheckNumber(text, {"\u202F", ","});
    CheckNumber(text, {"", "."});
    // Two names from the input: the comparison is symmetric.
    const std::size_t half = size / 2;
    const std::string_view a = text.substr(0, half), b = text.substr(half);
    Require(zini::SameName(a, b) == zini::SameName(b, a));
    return 0;
}
