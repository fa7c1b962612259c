#include "ini/ini_text.h"

#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <charconv>
#include <cmath>

namespace zini {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    ForEachLine(text, [&](std::string_view line) {
        lines.emplace_back(line);
        return false;
    });
    return lines;
}

bool EntryName(std::string_view line, std::string_view& name) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    name = line.substr(0, eq);
    return true;
}

namespace {

bool IsPrintableAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool AsciiSameName(std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    // A name matches only a name of its own length in bytes (a line's "="
    // must stand right behind the name looked up).
    if (a.size() != b.size())
        return false;
    if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
        // The locale's collation orders printable ASCII without ignoring any
        // of it, so equality after folding is plain case-blind equality.
        return AsciiSameName(a, b);
    }
    // Bytes that are no UTF-8 would all decode to the same replacement
    // character and so match each other: compare such names byte by byte.
    if (!QByteArrayView(a.data(), static_cast<qsizetype>(a.size())).isValidUtf8() ||
        !QByteArrayView(b.data(), static_cast<qsizetype>(b.size())).isValidUtf8()) {
        return AsciiSameName(a, b);
    }
    const QString qa = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())).toCaseFolded();
    const QString qb = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())).toCaseFolded();
    if (qa == qb)
        return true;
    return QString::localeAwareCompare(qa, qb) == 0;
}

namespace {

std::string AsciiLowerCopy(std::string_view s) {
    std::string lower(s);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

}  // namespace

TLineList::TLineList(std::vector<std::string> lines)
    : Lines(std::move(lines)), Gone(Lines.size(), false) {
    for (std::size_t i = 0; i < Lines.size(); ++i)
        Index(i);
}

void TLineList::Index(std::size_t i) {
    std::string_view name;
    if (!EntryName(Lines[i], name))
        return;
    if (IsPrintableAscii(name))
        Ascii[AsciiLowerCopy(name)].push_back(i);
    else
        Other.push_back(i);
}

std::size_t TLineList::Find(std::string_view name) const {
    const auto same = [&](std::size_t i) {
        std::string_view lineName;
        return !Gone[i] && EntryName(Lines[i], lineName) && SameName(lineName, name);
    };
    if (!IsPrintableAscii(name)) {
        // Any line may match such a name by the locale's rules.
        for (std::size_t i = 0; i < Lines.size(); ++i) {
            if (same(i))
                return i;
        }
        return npos;
    }
    std::size_t first = npos;
    if (const auto hit = Ascii.find(AsciiLowerCopy(name));
        hit != Ascii.end() && !hit->second.empty())
        first = hit->second.front();
    for (const std::size_t i : Other) {
        if (i >= first)
            break;
        if (same(i))
            return i;
    }
    return first;
}

std::string_view TLineList::Value(std::size_t i) const {
    const std::string& line = Lines[i];
    return std::string_view(line).substr(line.find('=') + 1);
}

void TLineList::Erase(std::size_t i) {
    if (Gone[i])
        return;
    Gone[i] = true;
    std::string_view name;
    if (!EntryName(Lines[i], name) || !IsPrintableAscii(name))
        return;  // Other entries are skipped through Gone
    std::deque<std::size_t>& lines = Ascii[AsciiLowerCopy(name)];
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (*it == i) {
            lines.erase(it);
            break;
        }
    }
}

void TLineList::Append(std::string line) {
    Lines.push_back(std::move(line));
    Gone.push_back(false);
    Index(Lines.size() - 1);
}

std::vector<std::string_view> TLineList::EntryNames() const {
    std::vector<std::string_view> names;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        std::string_view name;
        if (!Gone[i] && EntryName(Lines[i], name))
            names.push_back(name);
    }
    return names;
}

std::string TLineList::Text() const {
    std::size_t size = 0;
    for (std::size_t i = 0; i < Lines.size(); ++i)
        size += Gone[i] ? 0 : Lines[i].size() + 2;
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (Gone[i])
            continue;
        text += Lines[i];
        text += "\r\n";
    }
    return text;
}

const TNumberSeparators& SystemSeparators() {
    static const TNumberSeparators seps = [] {
        const QLocale locale = QLocale::system();
        return TNumberSeparators{locale.groupSeparator().toStdString(),
                                 locale.decimalPoint().toStdString()};
    }();
    return seps;
}

namespace {

void RemoveAll(std::string& s, std::string_view what) {
    if (what.empty())
        return;
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = s.find(what, pos);
        if (hit == std::string::npos)
            break;
        out.append(s, pos, hit - pos);
        pos = hit + what.size();
    }
    out.append(s, pos, std::string::npos);
    s = std::move(out);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Strict decimal conversion: optional sign, digits with an optional fraction
// behind the decimal separator (at least one digit in all), optional exponent;
// nothing else, not even spaces. False when the text is no such number or its
// value does not fit a double.
bool TextToFloat(std::string_view text, std::string_view decimal, double& value) {
    std::string plain;  // the same number spelled for the C locale
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            plain += '-';
        ++i;
    }
    std::size_t digits = 0;
    while (i < n && IsDigit(text[i])) {
        plain += text[i++];
        ++digits;
    }
    if (!decimal.empty() && text.substr(i, decimal.size()) == decimal) {
        i += decimal.size();
        plain += '.';
        while (i < n && IsDigit(text[i])) {
            plain += text[i++];
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            plain += text[i++];
        std::size_t expDigits = 0;
        while (i < n && IsDigit(text[i])) {
            plain += text[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;
    const char* first = plain.data();
    const char* last = plain.data() + plain.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    return ec == std::errc() && ptr == last && std::isfinite(value);
}

}  // namespace

std::string CleanNumberText(std::string_view text, const TNumberSeparators& seps) {
    std::string rest(text);
    RemoveAll(rest, "%");
    RemoveAll(rest, seps.Thousand);
    RemoveAll(rest, " ");
    RemoveAll(rest, "\n");
    RemoveAll(rest, "\r");
    if (rest.empty() || rest == "-")
        return {};
    if (rest.front() == '(') {
        rest.front() = '-';
        if (rest.back() != ')')
            return {};
        RemoveAll(rest, ")");
    }
    return rest;
}

double NumberTextToFloat(std::string_view text, const TNumberSeparators& seps) {
    if (text.empty() || text == "-")
        return 0;
    const std::string clean = CleanNumberText(text, seps);
    if (clean.empty() || clean == "-")
        return 0;
    double value = 0;
    if (!TextToFloat(clean, seps.Decimal, value))
        return 0;
    return value;
}

std::int32_t NumberTextToInt(std::string_view text, const TNumberSeparators& seps) {
    const double value = std::trunc(NumberTextToFloat(text, seps));
    // Beyond the 64-bit range the conversion would be undefined.
    if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0))
        return 0;
    const auto wide = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

}  // namespace zini
