#pragma once
// The text rules of the INI store that need no file and no component: how a
// file's bytes split into lines, how names compare, and how number texts are
// cleaned and converted. Kept apart from TzIni so that they can be exercised
// directly (tests, fuzzing) and with separators other than the user's.
//
// Threads: every function here may be called from any thread.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zini {

// Splits file contents into lines. A line ends at CR LF, a lone CR or a lone
// LF; a last line without an ending still counts, an ending at the very end
// adds no empty line. Every other byte, NUL included, belongs to its line.
std::vector<std::string> SplitLines(std::string_view text);

// Calls fn(line) for each line as SplitLines cuts them, stopping early when fn
// returns true. Returns whether fn stopped it.
template <typename Fn>
bool ForEachLine(std::string_view text, Fn&& fn) {
    std::size_t start = 0;
    const std::size_t n = text.size();
    while (start < n) {
        std::size_t end = start;
        while (end < n && text[end] != '\r' && text[end] != '\n')
            ++end;
        if (fn(text.substr(start, end - start)))
            return true;
        if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return false;
}

// The name part of an entry line: everything before its first "=". A line
// without "=" is not an entry; then the result is false.
bool EntryName(std::string_view line, std::string_view& name);

// Whether two names are the same for the store: they have the same length in
// bytes and their case-folded forms collate equal in the user's locale (the
// locale-aware comparison of the system's texts, which are UTF-8 here).
// Printable ASCII takes a fast path with the same result; a name that is no
// valid UTF-8 matches only the same bytes, ASCII letters in either case.
bool SameName(std::string_view a, std::string_view b);

// A file's lines, kept so that the first entry of a name is found without
// scanning every line: a whole list of names costs time in proportion to the
// lines, not to lines times names. Finding follows EntryName and SameName
// exactly: the first entry line whose name is the same name.
class TLineList {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    TLineList() = default;
    explicit TLineList(std::vector<std::string> lines);

    // The first entry named `name` (SameName), or npos.
    std::size_t Find(std::string_view name) const;
    const std::string& Line(std::size_t i) const { return Lines[i]; }
    // The value part of entry line i (after its first "=").
    std::string_view Value(std::size_t i) const;
    // Line i becomes `line`, which must have line i's entry name.
    void Replace(std::size_t i, std::string line) { Lines[i] = std::move(line); }
    void Erase(std::size_t i);
    void Append(std::string line);
    // The entry names, in line order.
    std::vector<std::string_view> EntryNames() const;
    // The lines in order, each followed by CR LF.
    std::string Text() const;

private:
    void Index(std::size_t i);

    std::vector<std::string> Lines;
    std::vector<bool> Gone;
    // Entries whose names are printable ASCII, by name in lower case: their
    // lines in order. SameName of two such names is case-blind equality.
    std::unordered_map<std::string, std::deque<std::size_t>> Ascii;
    // Entries with any other name, in order: they can match a name only by
    // the locale's rules, so they are compared one by one (rare in a file).
    std::vector<std::size_t> Other;
};

// The separators of number texts. Both may be several bytes (UTF-8) and the
// thousands separator may be empty.
struct TNumberSeparators {
    std::string Thousand;
    std::string Decimal;
};

// The user's separators, read once from Qt's QLocale::system() (which follows
// LC_ALL / LC_NUMERIC / LANG). Qt rather than the C library's localeconv():
// the C library's "C" locale has no thousands separator at all, while every
// Windows locale has one, and QLocale's "C" gives the usual "," and ".".
const TNumberSeparators& SystemSeparators();

std::string CleanNumberText(std::string_view text, const TNumberSeparators& seps);
double NumberTextToFloat(std::string_view text, const TNumberSeparators& seps);
// NumberTextToFloat truncated toward zero and kept to its low 32 bits, as a
// 64-bit truncation assigned to a 32-bit integer does; a number beyond the
// 64-bit range gives 0.
std::int32_t NumberTextToInt(std::string_view text, const TNumberSeparators& seps);

}  // namespace zini
