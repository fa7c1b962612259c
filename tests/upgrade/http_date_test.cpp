// HTTP dates into local time: the usual forms, the century rule for two-digit
// years, numeric zones, and what reads as 0.
#include "upgrade/http_date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets the local zone for one test and puts the old one back.
class LocalZone {
public:
    explicit LocalZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old, hadOld_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~LocalZone() {
        if (hadOld_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

// 1994-11-06 08:49:37 as a TDateTime.
constexpr double kNov6 = 34644 + (8 * 3600 + 49 * 60 + 37) / 86400.0;

struct DateCase {
    const char* text;
    double expected;  // in UTC
};

class HttpDate : public ::testing::TestWithParam<DateCase> {};

TEST_P(HttpDate, ReadsAsExpected) {
    LocalZone utc("UTC");
    EXPECT_NEAR(HTTPDateToDateTime(GetParam().text), GetParam().expected, 1e-9) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, HttpDate,
    ::testing::Values(
        DateCase{"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},    // RFC 1123
        DateCase{"Sunday, 06-Nov-94 08:49:37 GMT", kNov6},   // RFC 850
        DateCase{"Sun Nov  6 08:49:37 1994", kNov6},         // asctime
        DateCase{"06 Nov 1994 08:49:37", kNov6},             // no weekday, no zone
        DateCase{"Nov 06 1994 08:49:37 UTC", kNov6},         // month first
        DateCase{"Sun, 06 Nov 1994 09:49:37 +0100", kNov6},  // offsets are honoured
        DateCase{"Sun, 06 Nov 1994 03:19:37 -0530", kNov6},
        DateCase{"Thu, 01 Jan 1970 00:00:00 GMT", 25569},
        DateCase{"Fri, 31 Dec 1999 23:59:59 GMT", 36525 + 86399 / 86400.0},
        DateCase{"Sat, 29 Feb 2020 12:00:00 GMT", 43890.5},
        // Unreadable dates read as 0.
        DateCase{"", 0}, DateCase{"yesterday", 0}, DateCase{"Sun, 06 Nov 1994", 0},
        DateCase{"Sun, 31 Nov 1994 08:49:37 GMT", 0}, DateCase{"Sat, 29 Feb 2019 12:00:00 GMT", 0},
        DateCase{"Sun, 06 Foo 1994 08:49:37 GMT", 0}, DateCase{"Sun, 06 Nov 1994 25:00:00 GMT", 0},
        DateCase{"Sun, 06 Nov 1994 08:49:37 EST", 0}, DateCase{"06 06 Nov 1994 08:49:37", 0}));

TEST(HttpDateYears, TwoDigitYearsBelowEightyAreThisCentury) {
    LocalZone utc("UTC");
    const double y79 = HTTPDateToDateTime("Mon, 01-Jan-79 00:00:00 GMT");
    const double y2079 = HTTPDateToDateTime("Mon, 01 Jan 2079 00:00:00 GMT");
    const double y80 = HTTPDateToDateTime("Tue, 01-Jan-80 00:00:00 GMT");
    const double y1980 = HTTPDateToDateTime("Tue, 01 Jan 1980 00:00:00 GMT");
    EXPECT_NE(y79, 0);
    EXPECT_EQ(y79, y2079);
    EXPECT_EQ(y80, y1980);
    EXPECT_NE(HTTPDateToDateTime("Thu, 01-Jan-70 00:00:00 GMT"), 25569);  // 2070, not 1970
}

TEST(HttpDateZones, ResultIsLocalTime) {
    LocalZone berlin("Europe/Berlin");  // UTC+1 in November
    EXPECT_NEAR(HTTPDateToDateTime("Sun, 06 Nov 1994 08:49:37 GMT"), kNov6 + 1 / 24.0, 1e-9);
}

}  // namespace
