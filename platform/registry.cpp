#include "platform/registry.h"

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
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/product.h"

namespace win {

namespace {

enum class Root { ClassesRoot, CurrentUser, LocalMachine };

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// An open key: its root, its path from the root ("" for the root itself) as
// the caller spelled it, and whether it was opened for writing.
struct OpenKey {
    Root root;
    std::string path;
    bool write;
};

// Open keys by handle number. Handles count up from 1 and stay far below the
// predefined roots (0x80000000...).
std::mutex g_keysLock;  // guards g_keys and g_nextKey
std::map<ULONG_PTR, std::unique_ptr<OpenKey>> g_keys;
ULONG_PTR g_nextKey = 1;

std::optional<Root> PredefinedRoot(HKEY key) {
    if (key == HKEY_CLASSES_ROOT)
        return Root::ClassesRoot;
    if (key == HKEY_CURRENT_USER)
        return Root::CurrentUser;
    if (key == HKEY_LOCAL_MACHINE)
        return Root::LocalMachine;
    return std::nullopt;
}

// The key a handle stands for (a copy: another thread may close it).
std::optional<OpenKey> Lookup(HKEY key) {
    if (const auto root = PredefinedRoot(key))
        return OpenKey{*root, {}, true};
    std::lock_guard guard(g_keysLock);
    const auto it = g_keys.find(reinterpret_cast<ULONG_PTR>(key));
    if (it == g_keys.end())
        return std::nullopt;
    return *it->second;
}

// The key of a handle that was opened for writing; else nullopt and why.
std::optional<OpenKey> LookupForWriting(HKEY key, LONG& refused) {
    auto open = Lookup(key);
    refused = !open ? ERROR_INVALID_HANDLE : !open->write ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    return refused == ERROR_SUCCESS ? open : std::nullopt;
}

HKEY AddKey(OpenKey key) {
    std::lock_guard guard(g_keysLock);
    const ULONG_PTR number = g_nextKey++;
    g_keys.emplace(number, std::make_unique<OpenKey>(std::move(key)));
    return reinterpret_cast<HKEY>(number);
}

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

std::string ConfigFolder(Root root) {
    return root == Root::LocalMachine ? MachineConfigFolder() : UserConfigFolder();
}

// Machine-wide files must be readable by every user; the user's own are private.
unsigned FileMode(Root root) {
    return root == Root::LocalMachine ? 0644 : 0600;
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

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// Creates the folder and those above it; 0 or the errno.
int MakeFolders(const std::string& path, unsigned mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int err = MakeFolders(path.substr(0, slash), mode))
            return err;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return errno;
    return 0;
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
// Hive text

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

// A line of a key: a value, or text kept as it was (a comment, a damaged line).
struct Item {
    std::optional<Value> value;
    std::string raw;
};

struct Key {
    std::string path;
    std::vector<Item> items;
};

struct Hive {
    std::vector<std::string> preamble;  // lines before the first key, kept
    std::vector<Key> keys;

    Key* Find(std::string_view path) {
        for (Key& k : keys) {
            if (SameName(k.path, path))
                return &k;
        }
        return nullptr;
    }
    bool Exists(std::string_view path) const {
        if (path.empty())
            return true;
        return std::any_of(keys.begin(), keys.end(),
                           [&](const Key& k) { return IsAtOrBelow(k.path, path); });
    }
};

const char kHex[] = "0123456789abcdef";

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

// ---------------------------------------------------------------------------
// Reading and changing a hive

// 0 with the hive as it is on disk (empty when there is none), or the errno.
int LoadHive(Root root, Hive& hive) {
    const std::string path = HivePath(root);
    if (path.empty())
        return ENOENT;
    std::string text;
    if (const int err = ReadFileContents(path, text); err && err != ENOENT)
        return err;
    hive = ParseHive(text);
    return 0;
}

// The whole round of a write: the hive's lock, then load, change, replace.
// `change` returns false when it changed nothing (nothing is written then) or
// sets `result` to the call's answer. ERROR_ACCESS_DENIED where the caller
// cannot write.
template <class Change>
LONG ChangeHive(Root root, Change change) {
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

// ---------------------------------------------------------------------------
// The start-up key: autostart entries

bool IsRunKey(const OpenKey& key) {
    return key.root != Root::ClassesRoot && key.path.size() == kRunKey.size() &&
           SameName(key.path, kRunKey);
}

std::string AutostartFolder(Root root) {
    const std::string config = ConfigFolder(root);
    return config.empty() ? std::string() : config + "/autostart";
}

// The entry's file name: the value name with every byte that could change
// the path's meaning written %XX.
std::string AutostartFileName(std::string_view name) {
    std::string file;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(name[i]);
        if (std::isalnum(u) || u == '-' || u == '_' || (u == '.' && i > 0)) {
            file += static_cast<char>(u);
        } else {
            file += '%';
            file += static_cast<char>(std::toupper(kHex[u >> 4]));
            file += static_cast<char>(std::toupper(kHex[u & 15]));
        }
    }
    return file + ".desktop";
}

// The entry of a value: the file of that name, else one whose name differs
// only in case (value names are case-blind, file names are not).
std::string AutostartPath(Root root, std::string_view name) {
    const std::string folder = AutostartFolder(root);
    if (folder.empty())
        return {};
    const std::string file = AutostartFileName(name);
    struct stat st {};
    if (::lstat((folder + "/" + file).c_str(), &st) == 0)
        return folder + "/" + file;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string other = e.path().filename().string();
        if (SameName(other, file))
            return folder + "/" + other;
    }
    return folder + "/" + file;
}

// A Windows command line split into its arguments, by the rules of the
// Windows C run-time: blanks separate, double quotes group, 2n backslashes
// before a quote are n backslashes, 2n+1 are n and a literal quote.
std::vector<std::string> SplitWindowsCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::string arg;
    bool inArg = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            std::size_t n = 0;
            while (i < line.size() && line[i] == '\\') {
                ++n;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(n / 2, '\\');
                if (n % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
            } else {
                arg.append(n, '\\');
                --i;
            }
            inArg = true;
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                arg += '"';  // "" inside quotes is a literal quote
                ++i;
            } else {
                quoted = !quoted;
            }
            inArg = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArg)
                args.push_back(std::move(arg));
            arg.clear();
            inArg = false;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (inArg)
        args.push_back(std::move(arg));
    return args;
}

// The Exec line for the arguments, quoted by the Desktop Entry rules: an
// argument with a reserved character is put in double quotes with ", `, $
// and \ escaped; "%" is doubled, as it would start a field code.
std::string DesktopExec(const std::vector<std::string>& args) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string exec;
    for (const std::string& arg : args) {
        if (!exec.empty())
            exec += ' ';
        const bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string::npos;
        if (quote)
            exec += '"';
        for (const char c : arg) {
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
                exec += '\\';
            exec += c;
            if (c == '%')
                exec += '%';
        }
        if (quote)
            exec += '"';
    }
    return exec;
}

// A text as a Desktop Entry string value: \, newline, tab and CR escaped.
std::string EscapeDesktopString(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UnescapeDesktopString(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += text[i];
        }
    }
    return out;
}

// The Exec line of an entry, as it holds it; nullopt for a missing entry,
// one without an Exec line in its [Desktop Entry] group, or one marked
// Hidden=true (which the autostart rules treat as deleted).
std::optional<std::string> ReadAutostart(const std::string& path, int& err) {
    std::string text;
    err = ReadFileContents(path, text);
    if (err == ENOENT)
        err = 0;
    if (err || text.empty())
        return std::nullopt;
    std::optional<std::string> exec;
    bool inEntry = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ')
            key.remove_suffix(1);
        std::string_view value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        if (key == "Exec" && !exec)
            exec = UnescapeDesktopString(value);
        else if (key == "Hidden" && value == "true")
            return std::nullopt;
    }
    return exec;
}

LONG QueryAutostart(const OpenKey& key, std::string_view name, DWORD& type, std::string& data) {
    int err = 0;
    const auto exec = ReadAutostart(AutostartPath(key.root, name), err);
    if (err)
        return Code(err);
    if (!exec)
        return ERROR_FILE_NOT_FOUND;
    type = REG_SZ;
    data = *exec + '\0';
    return ERROR_SUCCESS;
}

LONG SetAutostart(const OpenKey& key, std::string_view name, DWORD type, std::string_view data) {
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_PARAMETER;
    if (const std::size_t nul = data.find('\0'); nul != std::string_view::npos)
        data = data.substr(0, nul);
    const std::string path = AutostartPath(key.root, name);
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;
    if (const int err = MakeFolders(FolderOf(path), key.root == Root::LocalMachine ? 0755 : 0700))
        return Code(err);
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=" + EscapeDesktopString(name) +
        "\nExec=" + EscapeDesktopString(DesktopExec(SplitWindowsCommandLine(data))) + "\n";
    return Code(ReplaceFileContents(path, entry, FileMode(key.root)));
}

LONG DeleteAutostart(const OpenKey& key, std::string_view name) {
    const std::string path = AutostartPath(key.root, name);
    int err = 0;
    if (!ReadAutostart(path, err))
        return err ? Code(err) : ERROR_FILE_NOT_FOUND;
    return ::unlink(path.c_str()) == 0 ? ERROR_SUCCESS : Code(errno);
}

// ---------------------------------------------------------------------------

LONG OpenOrCreate(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult,
                  LPDWORD lpdwDisposition, bool create) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const auto parent = Lookup(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    const auto sub = CleanPath(lpSubKey ? lpSubKey : "");
    if (!sub)
        return ERROR_INVALID_PARAMETER;
    OpenKey key{parent->root, JoinPath(parent->path, *sub),
                (samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0};
    const bool virtualKey = IsRunKey(key) || key.path.empty() || IsAtOrBelow(kRunKey, key.path);
    Hive hive;
    if (const int err = LoadHive(key.root, hive); err && !virtualKey)
        return Code(err);
    bool exists = virtualKey || hive.Exists(key.path);
    if (!exists && !create)
        return ERROR_FILE_NOT_FOUND;
    if (key.write && !(IsRunKey(key) ? FolderWritable(AutostartFolder(key.root) + "/x")
                                     : HiveWritable(key.root)))
        return ERROR_ACCESS_DENIED;
    if (!exists) {
        const LONG rc = ChangeHive(key.root, [&](Hive& h, LONG&) {
            exists = h.Exists(key.path);
            if (!exists)
                h.keys.push_back({key.path, {}});
            return !exists;
        });
        if (rc != ERROR_SUCCESS)
            return rc;
        if (lpdwDisposition)
            *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    } else if (lpdwDisposition) {
        *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    }
    *phkResult = AddKey(std::move(key));
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition, true);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
    return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, nullptr, false);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    const auto key = Lookup(hKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    const std::string_view name = lpValueName ? lpValueName : "";
    DWORD type = REG_NONE;
    std::string data;
    if (IsRunKey(*key) && !name.empty()) {
        if (const LONG rc = QueryAutostart(*key, name, type, data))
            return rc;
    } else {
        Hive hive;
        if (const int err = LoadHive(key->root, hive))
            return Code(err);
        Key* k = hive.Find(key->path);
        const Value* v = k ? FindValue(*k, name) : nullptr;
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        type = v->type;
        data = v->data;
    }
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(data.size());
    const bool fits = *lpcbData >= size;
    *lpcbData = size;
    if (!lpData)
        return ERROR_SUCCESS;
    if (!fits)
        return ERROR_MORE_DATA;
    std::memcpy(lpData, data.data(), size);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    LONG refused = ERROR_SUCCESS;
    const auto key = LookupForWriting(hKey, refused);
    if (!key)
        return refused;
    const std::string name = lpValueName ? lpValueName : "";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return ERROR_INVALID_PARAMETER;
    }
    const std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    if (IsRunKey(*key) && !name.empty())
        return SetAutostart(*key, name, dwType, data);
    return ChangeHive(key->root, [&](Hive& hive, LONG&) {
        Key* k = hive.Find(key->path);
        if (!k) {
            hive.keys.push_back({key->path, {}});
            k = &hive.keys.back();
        }
        Value* v = FindValue(*k, name);
        if (v) {
            v->type = dwType;
            v->data = data;
        } else {
            k->items.push_back({Value{name, dwType, data}, {}});
        }
        return true;
    });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    LONG refused = ERROR_SUCCESS;
    const auto key = LookupForWriting(hKey, refused);
    if (!key)
        return refused;
    const std::string name = lpValueName ? lpValueName : "";
    if (IsRunKey(*key) && !name.empty())
        return DeleteAutostart(*key, name);
    return ChangeHive(key->root, [&](Hive& hive, LONG& result) {
        Key* k = hive.Find(key->path);
        if (!k || !FindValue(*k, name)) {
            result = ERROR_FILE_NOT_FOUND;
            return false;
        }
        std::erase_if(k->items, [&](const Item& item) {
            return item.value && SameName(item.value->name, name);
        });
        return true;
    });
}

LONG RegCloseKey(HKEY hKey) {
    if (PredefinedRoot(hKey))
        return ERROR_SUCCESS;
    std::lock_guard guard(g_keysLock);
    return g_keys.erase(reinterpret_cast<ULONG_PTR>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace win
