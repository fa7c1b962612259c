#pragma once
// The upgrade information file a publisher puts beside the program's
// downloads, and the version comparisons the upgrader makes with it.
//
// The file is 8-bit text of "key=value" entries found anywhere in the text
// (the key's letter case does not matter); a value runs to the first
// character below 32. "#message={...}" may span lines. URLs of the files come
// as "#url", "#url0" and "#url1", "#url2", ...; beside each URL key, an
// optional "#sha256" key of the same suffix holds the file's SHA-256 in hex.
//
// Pure functions of their arguments: any thread.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

enum class TacUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };

namespace upgrade_info {

// The value of `key` ("#version", "#url0", ...); empty when missing.
std::string Value(std::string_view text, std::string_view key);
// The braced text of "#message={...}"; empty when missing.
std::string Message(std::string_view text);
// "#method": "1..." is the external setup, "2..." the web page, anything
// else the program's own replacement.
TacUpgradeMethod Method(std::string_view text);

struct FileEntry {
    std::string url;
    std::string sha256;  // lower-case hex as written, or empty
};
// "#url" and "#url0" when present, then "#url<n>" from n = count + 1 on
// while the value is not empty.
std::vector<FileEntry> Files(std::string_view text);
std::vector<std::string> FileUrls(const std::vector<FileEntry>& files);

// Whether `info` names a newer version than `own`: four dotted parts compared
// as numbers, or, from the first part that is not a number, the whole texts
// byte by byte.
bool IsNewerNumber(std::string_view info, std::string_view own);

// "MM/DD/YYYY" read as a date; `today` when it cannot be read or is no
// valid date.
std::chrono::year_month_day ReadDate(std::string_view text, std::chrono::year_month_day today);
// Whether `own` is strictly earlier than `info` (both read as above).
bool IsNewerDate(std::string_view info, std::string_view own, std::chrono::year_month_day today);
// Today in "MM/DD/YYYY".
std::string FormatDate(std::chrono::year_month_day date);
std::chrono::year_month_day Today();

}  // namespace upgrade_info
