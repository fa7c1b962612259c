// Registry: the start-up key of the user and of the machine, whose values are
// freedesktop autostart entries, one .desktop file each.

#include <sys/stat.h>
#include <unistd.h>

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
    if (const int err = MakeFolders(FolderOf(path), key.root == Root::LocalMachine ? 0755 : 0700))
        return Code(err);
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=" + EscapeDesktopString(name) +
        "\nExec=" + EscapeDesktopString(DesktopExec(CommandLineToArgvA(data))) + "\n";
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
