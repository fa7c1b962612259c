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

// Keys are short ("#sha256" and a number at most); a longer run before a
// "=" holds none, which bounds the work per "=".
constexpr size_t kMaxKey = 24;

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

Info::Info(std::string_view text) : text_(text) {
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (static_cast<unsigned char>(c) < 32)
            stops_.push_back(at);
        if (c != '=')
            continue;
        // Every "#..." ending here is a key; the first "=" of each counts.
        const size_t from = at > kMaxKey ? at - kMaxKey : 0;
        for (size_t k = from; k < at; ++k) {
            if (text[k] != '#')
                continue;
            std::string key(text.substr(k, at - k));
            for (char& ch : key)
                ch = Lower(ch);
            if (message_ == std::string_view::npos && key == "#message" && at + 1 < text.size() &&
                text[at + 1] == '{')
                message_ = at + 2;
            keys_.emplace(std::move(key), at + 1);
        }
    }
}

std::string_view Info::Value(std::string_view key) const {
    std::string lower(key);
    for (char& ch : lower)
        ch = Lower(ch);
    const auto found = keys_.find(lower);
    if (found == keys_.end())
        return {};
    const size_t from = found->second;
    const auto stop = std::lower_bound(stops_.begin(), stops_.end(), from);
    const size_t to = stop == stops_.end() ? text_.size() : *stop;
    return text_.substr(from, to - from);
}

std::string Info::Message() const {
    if (message_ == std::string_view::npos)
        return {};
    const size_t to = text_.find('}', message_);
    return std::string(text_.substr(message_, to == std::string_view::npos ? to : to - message_));
}

TacUpgradeMethod Info::Method() const {
    const std::string_view value = Value("#method");
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

std::vector<FileEntry> Info::Files() const {
    std::vector<FileEntry> files;
    auto add = [&](const std::string& suffix) {
        const std::string_view url = Value("#url" + suffix);
        if (url.empty() || files.size() >= kMaxFiles)
            return false;
        FileEntry entry;
        if (url.size() <= kMaxUrl)
            entry.url.assign(url);
        else
            entry.url.clear();
        entry.sha256.assign(Value("#sha256" + suffix).substr(0, 65));
        const std::string_view size = Value("#size" + suffix);
        if (!size.empty() && size.size() <= 18 &&
            std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; }))
            entry.size = std::stoll(std::string(size));
        files.push_back(std::move(entry));
        return true;
    };
    add("");
    add("0");
    for (size_t n = files.size() + 1; add(std::to_string(n)); ++n) {
    }
    return files;
}

std::string Value(std::string_view text, std::string_view key) {
    return std::string(Info(text).Value(key));
}

std::string Message(std::string_view text) {
    return Info(text).Message();
}

TacUpgradeMethod Method(std::string_view text) {
    return Info(text).Method();
}

std::vector<FileEntry> Files(std::string_view text) {
    return Info(text).Files();
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
