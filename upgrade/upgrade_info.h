#pragma once
// The upgrade information file a publisher puts beside the program's
// downloads, and the version comparisons the upgrader makes with it.
//
// The file is 8-bit text of "key=value" entries found anywhere in the text
// (the key's letter case does not matter); a value runs to the first
// character below 32. "#message={...}" may span lines. URLs of the files come
// as "#url", "#url0" and "#url1", "#url2", ...; beside each URL key, a
// "#sha256" key of the same suffix holds the file's SHA-256 in hex and an
// optional "#size" key its length in bytes.
//
// Reading is linear in the text's size: the text is indexed once, and a list
// names at most kMaxFiles files with URLs of at most kMaxUrl bytes (a longer
// URL is kept empty, so that it is refused).
//
// Pure functions of their arguments: any thread.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class TacUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };

namespace upgrade_info {

constexpr size_t kMaxFiles = 256;
constexpr size_t kMaxUrl = 8192;

struct FileEntry {
    std::string url;
    std::string sha256;      // as written (at most 64 characters kept), or empty
    std::int64_t size = -1;  // "#size", or -1 when not given or not a number
};

// One information file, indexed once. Views into the text: the text must
// outlive it.
class Info {
public:
    explicit Info(std::string_view text);
    std::string_view Value(std::string_view key) const;
    std::string Message() const;
    TacUpgradeMethod Method() const;
    std::vector<FileEntry> Files() const;

private:
    std::string_view text_;
    // Lower-case key (with its "#") -> offset just past its first "=".
    std::unordered_map<std::string, size_t> keys_;
    // Offsets of the characters below 32, which end values.
    std::vector<size_t> stops_;
    size_t message_ = std::string_view::npos;  // just past the first "#message={"
};

// The value of `key` ("#version", "#url0", ...); empty when missing.
std::string Value(std::string_view text, std::string_view key);
// The braced text of "#message={...}"; empty when missing.
std::string Message(std::string_view text);
// "#method": "1..." is the external setup, "2..." the web page, anything
// else the program's own replacement.
TacUpgradeMethod Method(std::string_view text);

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
