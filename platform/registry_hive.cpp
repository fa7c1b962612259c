// Registry: key names, the hive files (one text file per root) and the locked
// read-change-replace round of every write.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/product.h"
#include "platform/registry_internal.h"

namespace win::reg {
namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string UserConfigFolder() {
    char dir[4096];
    const UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    return n == 0 || n >= sizeof dir ? std::string() : std::string(dir, n);
}

std::string MachineConfigFolder() {
    std::string dirs;
    if (const char* x = std::getenv("XDG_CONFIG_DIRS"))
        dirs = x;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        std::string dir = dirs.substr(start, end - start);
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        if (!dir.empty() && dir[0] == '/')
            return dir;
        start = end + 1;
    }
    return "/etc/xdg";
}

std::string HivePath(Root root) {
    const char* name = root == Root::ClassesRoot   ? "HKEY_CLASSES_ROOT"
                       : root == Root::CurrentUser ? "HKEY_CURRENT_USER"
                                                   : "HKEY_LOCAL_MACHINE";
    const std::string config = ConfigFolder(root);
    if (config.empty())
        return {};
    return config + "/" + ProductName() + "/registry/" + name + ".reg";
}

// ---------------------------------------------------------------------------
// Hive text

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at pos; pos ends after the closing quote.
std::optional<std::string> Unquote(std::string_view line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return std::nullopt;
        if (line[pos] == 'x') {
            if (pos + 2 >= line.size() || HexDigit(line[pos + 1]) < 0 ||
                HexDigit(line[pos + 2]) < 0)
                return std::nullopt;
            out += static_cast<char>(HexDigit(line[pos + 1]) * 16 + HexDigit(line[pos + 2]));
            pos += 2;
        } else {
            out += line[pos];
        }
    }
    return std::nullopt;
}

std::string FormatValue(const Value& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += '=';
    const bool plainText = v.type == REG_SZ && !v.data.empty() && v.data.back() == '\0' &&
                           v.data.find('\0') == v.data.size() - 1;
    if (plainText)
        return line + Quote(std::string_view(v.data).substr(0, v.data.size() - 1));
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD n = 0;
        std::memcpy(&n, v.data.data(), 4);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", n);
        return line + text;
    }
    line += "hex(" + std::to_string(v.type) + "):";
    for (std::size_t i = 0; i < v.data.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(v.data[i]);
        if (i)
            line += ',';
        line += kHex[u >> 4];
        line += kHex[u & 15];
    }
    return line;
}

std::optional<Value> ParseValue(std::string_view line) {
    Value v;
    std::size_t pos = 0;
    if (line.substr(0, 1) == "@") {
        pos = 1;
    } else {
        auto name = Unquote(line, pos);
        if (!name || name->empty())
            return std::nullopt;
        v.name = std::move(*name);
    }
    if (pos >= line.size() || line[pos] != '=')
        return std::nullopt;
    const std::string_view rest = line.substr(pos + 1);
    if (rest.substr(0, 1) == "\"") {
        std::size_t at = pos + 1;
        auto text = Unquote(line, at);
        if (!text || at != line.size())
            return std::nullopt;
        v.type = REG_SZ;
        v.data = std::move(*text) + '\0';
        return v;
    }
    if (rest.substr(0, 6) == "dword:") {
        const std::string_view digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        DWORD n = 0;
        for (const char c : digits) {
            if (HexDigit(c) < 0)
                return std::nullopt;
            n = n * 16 + static_cast<DWORD>(HexDigit(c));
        }
        v.type = REG_DWORD;
        v.data.assign(reinterpret_cast<const char*>(&n), 4);
        return v;
    }
    if (rest.substr(0, 4) != "hex(")
        return std::nullopt;
    const std::size_t close = rest.find("):");
    if (close == std::string_view::npos || close == 4 || close > 14)
        return std::nullopt;
    unsigned long type = 0;
    for (const char c : rest.substr(4, close - 4)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        type = type * 10 + static_cast<unsigned long>(c - '0');
    }
    if (type > 0xFFFFFFFFul)
        return std::nullopt;
    v.type = static_cast<DWORD>(type);
    const std::string_view bytes = rest.substr(close + 2);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        if (i + 2 > bytes.size() || HexDigit(bytes[i]) < 0 || HexDigit(bytes[i + 1]) < 0 ||
            (i + 2 < bytes.size() && bytes[i + 2] != ','))
            return std::nullopt;
        v.data += static_cast<char>(HexDigit(bytes[i]) * 16 + HexDigit(bytes[i + 1]));
    }
    return v;
}

Hive ParseHive(const std::string& text) {
    Hive hive;
    Key* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        std::string_view line = raw;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;  // blank lines carry nothing; the writer puts its own
        if (line.front() == '[' && line.back() == ']') {
            if (const auto path = CleanPath(line.substr(1, line.size() - 2))) {
                current = hive.Find(*path);
                if (!current) {
                    hive.keys.push_back({*path, {}});
                    current = &hive.keys.back();
                }
                continue;
            }
        }
        if (!current) {
            hive.preamble.push_back(raw);
            continue;
        }
        current->items.push_back({ParseValue(line), raw});
    }
    return hive;
}

std::string FormatHive(const Hive& hive, Root root) {
    std::string out;
    if (hive.preamble.empty()) {
        const char* name = root == Root::ClassesRoot   ? "HKEY_CLASSES_ROOT"
                           : root == Root::CurrentUser ? "HKEY_CURRENT_USER"
                                                       : "HKEY_LOCAL_MACHINE";
        out += std::string("; Registry hive ") + name +
               ". [key\\path] opens a key; then \"name\"=\"text\", \"name\"=dword:hex digits\n"
               "; or \"name\"=hex(type):bytes, one value a line (@ is the default value).\n";
    }
    for (const std::string& line : hive.preamble)
        out += line + "\n";
    for (const Key& key : hive.keys) {
        out += "\n[" + key.path + "]\n";
        for (const Item& item : key.items)
            out += (item.value ? FormatValue(*item.value) : item.raw) + "\n";
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        // Only non-ASCII letters can fold to a different byte length.
        return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
                   .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                            Qt::CaseInsensitive) == 0;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x == y)
            continue;
        if (x >= 0x80 || y >= 0x80) {
            return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
                       .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                                Qt::CaseInsensitive) == 0;
        }
        if (std::tolower(x) != std::tolower(y))
            return false;
    }
    return true;
}

// A key path without leading, trailing or doubled backslashes; nullopt for a
// name that cannot stand on a hive line.
std::optional<std::string> CleanPath(std::string_view path) {
    std::string out;
    std::size_t i = 0;
    while (i < path.size()) {
        if (path[i] == '\\') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(path.find('\\', i), path.size());
        if (!out.empty())
            out += '\\';
        out.append(path.substr(i, end - i));
        i = end;
    }
    for (const char c : out) {
        if (static_cast<unsigned char>(c) < 0x20)
            return std::nullopt;
    }
    return out;
}

std::string JoinPath(const std::string& parent, const std::string& sub) {
    if (parent.empty())
        return sub;
    if (sub.empty())
        return parent;
    return parent + "\\" + sub;
}

// True when `key` is `ancestor` or below it.
bool IsAtOrBelow(std::string_view key, std::string_view ancestor) {
    if (ancestor.empty())
        return true;
    if (key.size() < ancestor.size() || !SameName(key.substr(0, ancestor.size()), ancestor))
        return false;
    return key.size() == ancestor.size() || key[ancestor.size()] == '\\';
}

// ---------------------------------------------------------------------------
// Folders

std::string ConfigFolder(Root root) {
    return root == Root::LocalMachine ? MachineConfigFolder() : UserConfigFolder();
}

// Machine-wide files must be readable by every user; the user's own are private.
unsigned FileMode(Root root) {
    return root == Root::LocalMachine ? 0644 : 0600;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// Whether the caller may write in the folder that will hold path (the nearest
// folder that exists, when the folder is still to be made).
bool FolderWritable(const std::string& path) {
    std::string dir = FolderOf(path);
    while (!dir.empty()) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && ::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) == 0;
        dir = FolderOf(dir);
    }
    return false;
}

LONG Code(int err) {
    return static_cast<LONG>(WindowsErrorFromErrno(err));
}

// ---------------------------------------------------------------------------
// Reading and changing a hive

// 0 with the hive as it is on disk (empty when there is none), or the errno.
int LoadHive(Root root, Hive& hive) {
    const std::string path = HivePath(root);
    if (path.empty())
        return ENOENT;
    std::string text;
    if (const int err = ReadFileContents(path, text, MaxHiveSize); err && err != ENOENT)
        return err;
    hive = ParseHive(text);
    return 0;
}

// The whole round of a write: the hive's lock, then load, change, replace.
// `change` returns false when it changed nothing (nothing is written then) or
// sets `result` to the call's answer. ERROR_ACCESS_DENIED where the caller
// cannot write.
LONG ChangeHive(Root root, const std::function<bool(Hive&, LONG&)>& change) {
    const std::string path = HivePath(root);
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;
    const unsigned folderMode = root == Root::LocalMachine ? 0755 : 0700;
    if (const int err = MakeFolders(FolderOf(path), folderMode))
        return Code(err);
    const FileLock lock(path + ".lock", FileMode(root));
    if (!lock.Held())
        return Code(lock.Error());
    Hive hive;
    LONG result = ERROR_SUCCESS;
    if (const int err = LoadHive(root, hive)) {
        result = Code(err);
    } else if (change(hive, result)) {
        if (const int err = ReplaceFileContents(path, FormatHive(hive, root), FileMode(root)))
            result = Code(err);
    }
    return result;
}

Value* FindValue(Key& key, std::string_view name) {
    for (Item& item : key.items) {
        if (item.value && SameName(item.value->name, name))
            return &*item.value;
    }
    return nullptr;
}

// Whether the caller may write the hive of this root (where it is, or where
// it would be made).
bool HiveWritable(Root root) {
    const std::string path = HivePath(root);
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return (st.st_mode & 0222) != 0 &&
               ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 &&
               ::faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK, AT_EACCESS) == 0;
    }
    return FolderWritable(path);
}

}  // namespace win::reg
