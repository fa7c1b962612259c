#include "upgrade/http_date.h"

#include <cctype>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr const char* kLongDays[] = {"monday", "tuesday",  "wednesday", "thursday",
                                     "friday", "saturday", "sunday"};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Number of a run of at most 9 digits.
long Number(std::string_view s) {
    long n = 0;
    for (char c : s)
        n = n * 10 + (c - '0');
    return n;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Leap(long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(long y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && Leap(y) ? 29 : days[m - 1];
}

// "hh:mm:ss"
bool ReadTime(std::string_view s, int& h, int& m, int& sec) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == ':') {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() != 3)
        return false;
    for (auto p : parts)
        if (!win::IsAllDigits(p) || p.size() > 2)
            return false;
    h = static_cast<int>(Number(parts[0]));
    m = static_cast<int>(Number(parts[1]));
    sec = static_cast<int>(Number(parts[2]));
    return h < 24 && m < 60 && sec <= 60;
}

}  // namespace

TDateTime HTTPDateToDateTime(std::string_view Text) {
    // Blanks and commas separate; "-" too, except as the sign of a zone.
    std::vector<std::string_view> tokens;
    auto split = [](std::string_view text, auto isSep, auto&& emit) {
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || isSep(text[i])) {
                if (i > start)
                    emit(text.substr(start, i - start));
                start = i + 1;
            }
        }
    };
    split(
        Text, [](char c) { return c == ' ' || c == '\t' || c == ','; },
        [&](std::string_view word) {
            if (word.size() == 5 && (word[0] == '+' || word[0] == '-') &&
                win::IsAllDigits(word.substr(1))) {
                tokens.push_back(word);
                return;
            }
            split(
                word, [](char c) { return c == '-'; },
                [&](std::string_view part) { tokens.push_back(part); });
        });

    std::optional<long> day, year;
    std::optional<int> month;
    std::optional<long> offsetMinutes;
    int hh = 0, mm = 0, ss = 0;
    bool haveTime = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string_view tok = tokens[i];
        const std::string low = Lower(tok);
        if (tok.find(':') != std::string_view::npos) {
            if (haveTime || !ReadTime(tok, hh, mm, ss))
                return 0;
            haveTime = true;
            continue;
        }
        if ((tok[0] == '+' || tok[0] == '-') && tok.size() == 5 &&
            win::IsAllDigits(tok.substr(1))) {
            if (offsetMinutes || !haveTime)
                return 0;
            const long hhmm = Number(tok.substr(1));
            if (hhmm / 100 > 23 || hhmm % 100 > 59)
                return 0;
            offsetMinutes = (hhmm / 100 * 60 + hhmm % 100) * (tok[0] == '-' ? -1 : 1);
            continue;
        }
        if (win::IsAllDigits(tok)) {
            if (tok.size() > 4)
                return 0;
            const long n = Number(tok);
            if (!day && tok.size() <= 2 && n >= 1 && n <= 31) {
                day = n;
            } else if (!year && (tok.size() == 2 || tok.size() == 4)) {
                year = tok.size() == 2 ? (n < 80 ? 2000 + n : 1900 + n) : n;
            } else {
                return 0;
            }
            continue;
        }
        bool known = false;
        for (int m = 0; m < 12 && !known; ++m) {
            if (low == kMonths[m]) {
                if (month)
                    return 0;
                month = m + 1;
                known = true;
            }
        }
        for (int d = 0; d < 7 && !known; ++d)
            known = i == 0 && (low == kDays[d] || low == kLongDays[d]);
        if (!known && (low == "gmt" || low == "utc" || low == "ut" || low == "z") && haveTime &&
            !offsetMinutes) {
            offsetMinutes = 0;
            known = true;
        }
        if (!known)
            return 0;
    }
    if (!day || !month || !year || !haveTime || *year < 1601)
        return 0;
    if (*day > DaysInMonth(*year, *month))
        return 0;
    if (ss == 60)
        ss = 59;  // a leap second has no place in a TDateTime

    const std::int64_t utc =
        DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day)) * 86400 +
        hh * 3600 + mm * 60 + ss - offsetMinutes.value_or(0) * 60;
    const std::time_t t = static_cast<std::time_t>(utc);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    const std::int64_t localDays =
        DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday));
    // TDateTime day 0 is 1899-12-30, 25569 days before 1970-01-01.
    return static_cast<double>(localDays + 25569) +
           (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}
