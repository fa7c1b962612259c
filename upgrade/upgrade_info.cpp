#include "upgrade/upgrade_info.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace upgrade_info {
namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Offset just past "<key>=" (any letter case), or npos.
size_t FindAfterKey(std::string_view text, std::string_view key) {
    const size_t n = key.size() + 1;
    if (text.size() < n)
        return std::string_view::npos;
    for (size_t at = 0; at + n <= text.size(); ++at) {
        if (text[at + key.size()] != '=')
            continue;
        bool same = true;
        for (size_t i = 0; same && i < key.size(); ++i)
            same = Lower(text[at + i]) == Lower(key[i]);
        if (same)
            return at + n;
    }
    return std::string_view::npos;
}

// A decimal integer with an optional sign that fits 32 bits; empty is none.
std::optional<long long> Number(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i == s.size())
        return std::nullopt;
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return std::nullopt;
        value = value * 10 + (s[i] - '0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > 2147483647LL)
        return std::nullopt;
    return value;
}

// The version cut into four parts; a part beyond the last dot is "0".
std::vector<std::string_view> Parts(std::string_view version, std::string& withDot) {
    withDot.assign(version);
    withDot += '.';
    std::string_view rest = withDot;
    std::vector<std::string_view> parts;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = rest.find('.');
        if (dot == std::string_view::npos) {
            parts.push_back("0");
            continue;
        }
        parts.push_back(rest.substr(0, dot));
        rest.remove_prefix(dot + 1);
    }
    return parts;
}

}  // namespace

std::string Value(std::string_view text, std::string_view key) {
    const size_t from = FindAfterKey(text, key);
    if (from == std::string_view::npos)
        return {};
    size_t to = from;
    while (to < text.size() && static_cast<unsigned char>(text[to]) >= 32)
        ++to;
    return std::string(text.substr(from, to - from));
}

std::string Message(std::string_view text) {
    size_t from = FindAfterKey(text, "#message");
    // The value only counts in its braced form.
    while (from != std::string_view::npos && (from >= text.size() || text[from] != '{')) {
        const size_t next = FindAfterKey(text.substr(from), "#message");
        from = next == std::string_view::npos ? next : from + next;
    }
    if (from == std::string_view::npos)
        return {};
    ++from;
    const size_t to = text.find('}', from);
    return std::string(text.substr(from, to == std::string_view::npos ? to : to - from));
}

TacUpgradeMethod Method(std::string_view text) {
    const std::string value = Value(text, "#method");
    if (value.empty())
        return TacUpgradeMethod::umSelfUpgrade;
    switch (value[0]) {
        case '1':
            return TacUpgradeMethod::umUseExternalSetup;
        case '2':
            return TacUpgradeMethod::umRedirectToURL;
        default:
            return TacUpgradeMethod::umSelfUpgrade;
    }
}

std::vector<FileEntry> Files(std::string_view text) {
    std::vector<FileEntry> files;
    auto add = [&](const std::string& suffix) {
        std::string url = Value(text, "#url" + suffix);
        if (url.empty())
            return false;
        files.push_back({std::move(url), Value(text, "#sha256" + suffix)});
        return true;
    };
    add("");
    add("0");
    for (size_t n = files.size() + 1; add(std::to_string(n)); ++n) {
    }
    return files;
}

std::vector<std::string> FileUrls(const std::vector<FileEntry>& files) {
    std::vector<std::string> urls;
    urls.reserve(files.size());
    for (const auto& f : files)
        urls.push_back(f.url);
    return urls;
}

bool IsNewerNumber(std::string_view info, std::string_view own) {
    std::string infoText, ownText;
    const auto infoParts = Parts(info, infoText);
    const auto ownParts = Parts(own, ownText);
    for (int i = 0; i < 4; ++i) {
        const auto a = Number(infoParts[i]);
        const auto b = Number(ownParts[i]);
        if (!a || !b)
            return info > own;
        if (*a != *b)
            return *a > *b;
    }
    return false;
}

std::chrono::year_month_day ReadDate(std::string_view text, std::chrono::year_month_day today) {
    const size_t first = text.find('/');
    if (first == std::string_view::npos)
        return today;
    const size_t second = text.find('/', first + 1);
    if (second == std::string_view::npos)
        return today;
    const auto month = Number(text.substr(0, first));
    const auto day = Number(text.substr(first + 1, second - first - 1));
    const auto year = Number(text.substr(second + 1));
    if (!month || !day || !year || *month < 1 || *month > 12 || *day < 1 || *day > 31 ||
        *year < 1 || *year > 9999)
        return today;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    return date.ok() ? date : today;
}

bool IsNewerDate(std::string_view info, std::string_view own, std::chrono::year_month_day today) {
    return ReadDate(own, today) < ReadDate(info, today);
}

std::string FormatDate(std::chrono::year_month_day date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u/%04d", static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(date.year()));
    return text;
}

std::chrono::year_month_day Today() {
    const time_t now = ::time(nullptr);
    tm local{};
    ::localtime_r(&now, &local);
    return std::chrono::year_month_day{std::chrono::year(local.tm_year + 1900),
                                       std::chrono::month(static_cast<unsigned>(local.tm_mon + 1)),
                                       std::chrono::day(static_cast<unsigned>(local.tm_mday))};
}

}  // namespace upgrade_info
