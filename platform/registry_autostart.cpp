// Registry: the start-up key of the user and of the machine, whose values are
// freedesktop autostart entries, one .desktop file each.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/file.h"
#include "platform/registry_internal.h"
#include "platform/shell_execute.h"
#include "platform/text.h"

namespace win::reg {
namespace {

// The entry's file name: the value name with every byte that could change
// the path's meaning written %XX.
std::string AutostartFileName(std::string_view name) {
    return FileNameOf(name) + ".desktop";
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

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF).
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        if (length >= 3) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]);
            if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
                (c == 0xF4 && c1 >= 0x90))
                return false;
        }
        i += length;
    }
    return true;
}

// Whether every argument can stand in an Exec line so that every reader
// starts the same: the entry is UTF-8 text; a control character other than
// tab, line feed and carriage return has no escape that the readers agree on;
// and systemd's autostart generator (252) unescapes a backslash once more than
// GLib does, so no way of writing one reaches both as the same argument.
bool FitsExecLine(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        for (const char c : arg) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F || c == '\\')
                return false;
        }
        if (!IsUtf8(arg))
            return false;
    }
    return !args.empty();
}

// The Exec line for the arguments, quoted by the Desktop Entry rules: an
// argument with a reserved character is put in double quotes with ", `, $
// and \ escaped; "%" is doubled, as it would start a field code. The string
// escapes (EscapeDesktopString) come on top, when the line is written.
std::string DesktopExec(const std::vector<std::string>& args) {
    static constexpr std::string_view kReserved = " \t\n\r\"'\\><~|&;$*?#()`";
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
    err = ReadFileContents(path, text, MaxHiveSize);
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

}  // namespace

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
    std::vector<std::string> args = CommandLineToArgvA(data);
    if (!FitsExecLine(args))
        return ERROR_BAD_PATHNAME;
    // GLib and systemd's autostart generator look the program up by its name
    // as the line holds it, before "%%" becomes "%", so a program whose name
    // holds "%" would never be found; and systemd refuses to start a program
    // whose name holds a quote or a control character, though it passes them
    // in arguments. `env` (which both find on the PATH) starts such a program
    // with the same arguments. env takes an argument holding "=" for a
    // variable, so such a name cannot be written at all.
    const bool plainName = std::none_of(args[0].begin(), args[0].end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '%' || c == '"' || c == '\'' || byte < 0x20 || byte == 0x7F;
    });
    if (!plainName) {
        if (args[0].find('=') != std::string::npos)
            return ERROR_BAD_PATHNAME;
        args.insert(args.begin(), "env");
    }
    if (const int err = MakeFolders(FolderOf(path), key.root == Root::LocalMachine ? 0755 : 0700))
        return Code(err);
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=" + EscapeDesktopString(name) +
        "\nExec=" + EscapeDesktopString(DesktopExec(args)) + "\n";
    return Code(ReplaceFileContents(path, entry, FileMode(key.root)));
}

LONG DeleteAutostart(const OpenKey& key, std::string_view name) {
    const std::string path = AutostartPath(key.root, name);
    int err = 0;
    if (!ReadAutostart(path, err))
        return err ? Code(err) : ERROR_FILE_NOT_FOUND;
    return ::unlink(path.c_str()) == 0 ? ERROR_SUCCESS : Code(errno);
}

}  // namespace win::reg
