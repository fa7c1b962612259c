#pragma once
// Dates of HTTP headers ("Date", "Last-Modified", "Expires") read into local
// time as a TDateTime.
//
// Accepted: an optional weekday name, then the day, the month name and the
// year in any order (separated by blanks, "-" or ","), and the time as
// hours:minutes:seconds, before or after the year (so RFC 1123, RFC 850 and
// asctime() dates all read); two-digit years below 80 are 2000 onwards, 80 to
// 99 are 1900 onwards; the zone is "GMT", "UTC", "UT", "Z" or a numeric offset
// (sign and four digits), and no zone means GMT. Anything else, or a date that
// does not exist, reads as 0.
//
// Threads: any thread.

#include <string_view>

// Days since 30 December 1899, the time of day as the fraction.
using TDateTime = double;

TDateTime HTTPDateToDateTime(std::string_view Text);
