#include "app/list_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/headless.h"
#include "app/install_location.h"
#include "app/record_rules.h"
#include "app/settings_file.h"
#include "ini/ini_store.h"
#include "monitor/connection_table.h"
#include "platform/kernel.h"
#include "platform/text.h"

namespace quilvane {
namespace {

// A refusal: its message goes to standard error and the command ends with
// its status, the file untouched.
struct TRefusal {
    int Status;
    std::string Message;
};

[[noreturn]] void Refuse(int status, std::string message) {
    throw TRefusal{status, std::move(message)};
}

enum class TCommand { None, List, Add, Edit, Remove };

enum class TPasswordSource { Keep, Terminal, Stdin };

struct TOptions {
    TCommand Command = TCommand::None;
    std::string Number;  // --edit and --remove
    bool Json = false;
    std::optional<std::string> Host, User, UNC, Drive, MaxPing;
    TPasswordSource Password = TPasswordSource::Keep;
};

const char* CommandName(TCommand c) {
    switch (c) {
        case TCommand::List:
            return "--list";
        case TCommand::Add:
            return "--add";
        case TCommand::Edit:
            return "--edit";
        case TCommand::Remove:
            return "--remove";
        case TCommand::None:
            break;
    }
    return "";
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions o;
    const auto setCommand = [&o](TCommand c) {
        if (o.Command != TCommand::None && o.Command != c)
            Refuse(2, std::string("give one of --list, --add, --edit and --remove, not ") +
                          CommandName(o.Command) + " and " + CommandName(c));
        o.Command = c;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> attached;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            attached = arg.substr(eq + 1);
            arg.resize(eq);
        }
        // The option's value: attached (--host=H) or the next argument.
        const auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 >= argc)
                Refuse(2, arg + " needs a value");
            return argv[++i];
        };
        const auto noValue = [&] {
            if (attached)
                Refuse(2, arg + " takes no value");
        };
        if (arg == "--list") {
            noValue();
            setCommand(TCommand::List);
        } else if (arg == "--add") {
            noValue();
            setCommand(TCommand::Add);
        } else if (arg == "--edit") {
            setCommand(TCommand::Edit);
            o.Number = value();
        } else if (arg == "--remove") {
            setCommand(TCommand::Remove);
            o.Number = value();
        } else if (arg == "--json") {
            noValue();
            o.Json = true;
        } else if (arg == "--host") {
            o.Host = value();
        } else if (arg == "--user") {
            o.User = value();
        } else if (arg == "--unc") {
            o.UNC = value();
        } else if (arg == "--drive") {
            o.Drive = value();
        } else if (arg == "--max-ping") {
            o.MaxPing = value();
        } else if (arg == "--password") {
            // A password on the command line would be readable by every user
            // of the machine (/proc/PID/cmdline) and stay in shell histories.
            if (attached || (i + 1 < argc && argv[i + 1][0] != '-'))
                Refuse(2,
                       "a password is never taken from the command line: --password asks for "
                       "it on the terminal, --password-stdin reads it from standard input");
            o.Password = TPasswordSource::Terminal;
        } else if (arg == "--password-stdin") {
            noValue();
            o.Password = TPasswordSource::Stdin;
        } else {
            Refuse(2, "unknown option '" + std::string(argv[i]) + "' (see quilvane --help)");
        }
    }
    const bool fields =
        o.Host || o.User || o.UNC || o.Drive || o.MaxPing || o.Password != TPasswordSource::Keep;
    if (o.Command == TCommand::List || o.Command == TCommand::Remove) {
        if (fields)
            Refuse(2, std::string(CommandName(o.Command)) + " takes no record fields");
    }
    if (o.Json && o.Command != TCommand::List)
        Refuse(2, "--json goes with --list");
    if (o.Command == TCommand::Add) {
        for (const auto& [given, name] :
             {std::pair{&o.Host, "--host"}, std::pair{&o.User, "--user"},
              std::pair{&o.UNC, "--unc"}, std::pair{&o.Drive, "--drive"}}) {
            if (!*given)
                Refuse(2, std::string("--add needs ") + name + " (" + AddCommandExample + ")");
        }
        // A new record always gets a password, asked for on the terminal
        // unless it comes on standard input.
        if (o.Password == TPasswordSource::Keep)
            o.Password = TPasswordSource::Terminal;
    }
    if (o.Command == TCommand::Edit && !fields)
        Refuse(2,
               "--edit needs at least one field to change (--host, --user, --unc, --drive, "
               "--max-ping, --password or --password-stdin)");
    return o;
}

// --- values -------------------------------------------------------------

// Refuses a record that breaks one of the editor's rules, naming the option.
void Check(const TRecordInput& input, const fw::TRxMemoryData& table, int own) {
    const auto broken = CheckRecord(input, table, own);
    if (!broken)
        return;
    static const char* const options[] = {"--host", "--user",  "the password",
                                          "--unc",  "--drive", "--max-ping"};
    Refuse(2, std::string(options[static_cast<int>(broken->Item)]) + " " + broken->Rule);
}

// The record number `text` of a table of `count` records.
int RecordNumber(const std::string& text, int count, TCommand command) {
    const bool digits = text.size() <= 9 && win::IsAllDigits(text);
    const int n = digits ? std::stoi(text) : 0;
    if (n < 1 || n > count) {
        Refuse(2, std::string(CommandName(command)) + " '" + text + "': " +
                      (count == 0
                           ? std::string("the list is empty")
                           : "no such record; the list has records 1 to " + std::to_string(count)) +
                      " (see quilvane --list)");
    }
    return n;
}

// The file holds one value a line: a value whose enciphered bytes hold a line
// break or NUL cannot be stored, and is refused before the file is touched,
// with the option's name (the store's own message names its key).
void RefuseUnstorable(const std::string& value, const char* option) {
    const std::string stored = TzIni::EncryptValue(value);
    if (stored.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        Refuse(2, std::string(option) +
                      " holds a character that the settings file cannot store in a line "
                      "(a control character such as a line break, or one whose enciphered "
                      "form is one); give it without that character");
}

// --- the password ----------------------------------------------------------

// The terminal's settings while echo is off, put back by the signal handler
// when the user breaks off.
int g_ttyFd = -1;
termios g_ttySaved;

void RestoreTerminalAndDie(int signo) {
    ::tcsetattr(g_ttyFd, TCSANOW, &g_ttySaved);
    ::signal(signo, SIG_DFL);
    ::raise(signo);
}

// One line of fd without its line end (LF, or CR LF).
std::optional<std::string> ReadLine(int fd, bool wholeInput) {
    std::string line;
    bool any = false;
    for (;;) {
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        any = true;
        if (c == '\n' && !wholeInput)
            break;
        line += c;
        if (line.size() > 4096)
            Refuse(2, "the password is too long: at most 20 characters");
    }
    if (!any)
        return std::nullopt;
    if (line.ends_with('\n'))
        line.pop_back();
    if (line.ends_with('\r'))
        line.pop_back();
    return line;
}

std::string PasswordFromStdin() {
    // All of standard input, so a password holding no line end of its own is
    // read as it was sent: only one final line end is dropped.
    std::optional<std::string> p = ReadLine(STDIN_FILENO, true);
    if (!p)
        Refuse(2,
               "--password-stdin: standard input is empty (an empty password is one empty "
               "line)");
    if (p->find('\n') != std::string::npos)
        Refuse(2, "--password-stdin: the password is one line; standard input holds more");
    return *p;
}

std::string PasswordFromTerminal(const std::string& host) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        Refuse(2,
               "no terminal to ask for the password on: give it on standard input with "
               "--password-stdin");
    struct Closer {
        int Fd;
        ~Closer() { ::close(Fd); }
    } closer{tty};
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0)
        Refuse(2,
               "cannot switch off the terminal's echo; give the password on standard input "
               "with --password-stdin");
    g_ttyFd = tty;
    g_ttySaved = saved;
    struct sigaction restore {};
    restore.sa_handler = &RestoreTerminalAndDie;
    sigemptyset(&restore.sa_mask);
    struct sigaction old[4];
    const int signals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int i = 0; i < 4; ++i)
        ::sigaction(signals[i], &restore, &old[i]);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt shows, so nothing typed after it is
    // echoed; and nothing typed is thrown away.
    ::tcsetattr(tty, TCSANOW, &quiet);
    const std::string prompt = "Password for " + host + ": ";
    [[maybe_unused]] ssize_t n = ::write(tty, prompt.data(), prompt.size());
    std::optional<std::string> p = ReadLine(tty, false);
    ::tcsetattr(tty, TCSANOW, &saved);
    for (int i = 0; i < 4; ++i)
        ::sigaction(signals[i], &old[i], nullptr);
    if (!p)
        Refuse(2, "no password was given");
    return *p;
}

// --- output ----------------------------------------------------------------

// Characters of a UTF-8 text, for the table's columns.
std::size_t Width(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

void PrintTable(fw::TRxMemoryData& table) {
    const TConnectionRecord r(table);
    std::vector<std::vector<std::string>> rows = {{"#", "Host", "User", "UNC", "Drive", "MaxPing"}};
    int number = 1;
    for (table.First(); !table.Eof(); table.Next(), ++number) {
        // Values as the headless lines show them: a blank or a control byte
        // puts the value in quotes, so every row splits one way.
        rows.push_back({std::to_string(number), LineValue(r.HostName.Value()),
                        LineValue(r.UserName.Value()), LineValue(r.UNC.Value()),
                        LineValue(r.Drive.Value()), std::to_string(r.MaxPing.Value())});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], Width(row[c]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - Width(row[c]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

// A JSON string of an 8-bit text: UTF-8 passes, control bytes are escaped,
// and a byte that is not part of valid UTF-8 becomes U+FFFD.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool valid = length > 0 && c <= 0xF4 && i + length <= text.size();
            for (std::size_t k = 1; valid && k < length; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (valid && length == 3) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                valid = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
            } else if (valid && length == 4) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                valid = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
            }
            if (valid) {
                out.append(text.substr(i, length));
                i += length;
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
    return out + "\"";
}

void PrintJson(fw::TRxMemoryData& table) {
    const TConnectionRecord r(table);
    std::string out = "[";
    int number = 1;
    for (table.First(); !table.Eof(); table.Next(), ++number) {
        out += number == 1 ? "\n" : ",\n";
        out += "  {\"Record\": " + std::to_string(number);
        for (const TRecordField<std::string>* f : {&r.HostName, &r.UserName, &r.UNC, &r.Drive})
            out += ", " + JsonString(f->Name()) + ": " + JsonString(f->Value());
        out += ", " + JsonString(r.MaxPing.Name()) + ": " + std::to_string(r.MaxPing.Value()) + "}";
    }
    out += number == 1 ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
}

// --- the command -----------------------------------------------------------

// Makes the command's change on a freshly loaded table; returns what the
// command says when done. The record as it is (an edit) or as the editor's
// Clear proposes it (an add), with the options' values, must follow the
// editor's rules; the password is checked when it is given.
std::string Change(fw::TRxMemoryData& table, const TOptions& o,
                   const std::optional<std::string>& password) {
    const TConnectionRecord r(table);
    if (o.Command == TCommand::Remove) {
        table.SetRecNo(RecordNumber(o.Number, table.RecordCount(), o.Command));
        const std::string done = "Removed record " + o.Number + " (" + r.HostName.Value() + ", " +
                                 r.Drive.Value() + ").";
        table.Delete();
        return done;
    }
    TRecordInput in{"", "", "", "", "", "5"};
    int own = 0;
    if (o.Command == TCommand::Edit) {
        own = RecordNumber(o.Number, table.RecordCount(), o.Command);
        table.SetRecNo(own);
        in = {r.HostName.Value(), r.UserName.Value(), r.Password.Value(),
              r.UNC.Value(),      r.Drive.Value(),    std::to_string(r.MaxPing.Value())};
    }
    const auto take = [](const std::optional<std::string>& option, std::string& value,
                         const char* name) {
        if (option) {
            value = *option;
            RefuseUnstorable(value, name);
        }
    };
    take(o.Host, in.HostName, "--host");
    take(o.User, in.UserName, "--user");
    take(o.UNC, in.UNC, "--unc");
    take(password, in.Password, "the password");
    if (o.Drive)
        in.Drive = NormalDrive(*o.Drive);
    if (o.MaxPing)
        in.MaxPing = *o.MaxPing;
    Check(in, table, own);
    if (o.Command == TCommand::Edit)
        table.Edit();
    else
        table.Append();
    r.HostName.Set(in.HostName);
    r.UserName.Set(in.UserName);
    r.Password.Set(in.Password);
    r.UNC.Set(in.UNC);
    r.Drive.Set(in.Drive);
    r.MaxPing.Set(static_cast<std::int32_t>(std::stoll(in.MaxPing)));
    table.Post();
    return o.Command == TCommand::Add ? "Added record " + std::to_string(table.RecordCount()) + "."
                                      : "Changed record " + o.Number + ".";
}

int Run(const TOptions& o) {
    const std::string folder = SettingsFolder();
    const std::string path = SettingsFilePath(folder);

    if (o.Command == TCommand::List) {
        // A reader takes no lock: a save replaces the file in one step, so
        // the list is read whole, and never waits for a writer.
        TzIni ini(nullptr);
        SetUpSettingsStore(ini);
        fw::TRxMemoryData table(nullptr, ConnectionFields());
        std::string infoFileURL = BuiltInInfoFileURL;
        LoadSettings(ini, table, infoFileURL, folder);
        if (o.Json)
            PrintJson(table);
        else
            PrintTable(table);
        if (table.IsEmpty() && !o.Json)
            std::fprintf(stderr, "The list in %s is empty. Add a record with:\n  %s\n",
                         path.c_str(), AddCommandExample);
        return 0;
    }

    // Every value is checked, and the password asked for, before the lock is
    // taken: a prompt waits for a person, and must hold up no other command
    // and no starting window.
    std::optional<std::string> password;
    {
        TzIni ini(nullptr);
        SetUpSettingsStore(ini);
        fw::TRxMemoryData table(nullptr, ConnectionFields());
        std::string infoFileURL = BuiltInInfoFileURL;
        LoadSettings(ini, table, infoFileURL, folder);
        Change(table, o, std::nullopt);
        if (o.Password == TPasswordSource::Stdin) {
            password = PasswordFromStdin();
        } else if (o.Password == TPasswordSource::Terminal) {
            const TConnectionRecord r(table);
            if (o.Command == TCommand::Edit)
                table.SetRecNo(RecordNumber(o.Number, table.RecordCount(), o.Command));
            else
                table.SetRecNo(table.RecordCount());
            password = PasswordFromTerminal(r.HostName.Value());
        }
    }

    const win::FileLock lock = SettingsChangeLock(path);
    if (!lock.Held())
        Refuse(1, "the list was not changed: " + SettingsLockProblem(path, lock.Error()));
    if (WindowRunning(path)) {
        Refuse(1,
               "Quilvane is running with its window, and its next Ok or Exit would write "
               "its own list over this change. Make the change in the window, or quit it "
               "(Exit) and run this command again.");
    }

    // The file as it is now, under the lock: another command may have
    // changed it while this one asked for the password.
    TzIni ini(nullptr);
    SetUpSettingsStore(ini);
    fw::TRxMemoryData table(nullptr, ConnectionFields());
    std::string infoFileURL = BuiltInInfoFileURL;
    LoadSettings(ini, table, infoFileURL, folder);
    const std::string done = Change(table, o, password);
    SaveSettings(ini, table, infoFileURL);
    std::printf("%s Saved to %s.\n", done.c_str(), path.c_str());
    if (MutexHeld(HeadlessMonitorMutex))
        std::printf("The running headless monitor reloads the list.\n");
    return 0;
}

}  // namespace

bool IsListCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        for (const char* command : {"--list", "--add", "--edit", "--remove"}) {
            if (arg == command || (arg.starts_with(command) && arg[std::strlen(command)] == '='))
                return true;
        }
    }
    return false;
}

int RunListCommand(int argc, char** argv) {
    TCommand command = TCommand::None;
    try {
        const TOptions options = ParseOptions(argc, argv);
        command = options.Command;
        return Run(options);
    } catch (const TRefusal& r) {
        std::fprintf(stderr, "quilvane: %s\n", r.Message.c_str());
        return r.Status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilvane: %s%s\n",
                     command == TCommand::List ? "" : "the list was not changed: ", e.what());
        return 1;
    }
}

bool MutexHeld(const char* name) {
    const win::HANDLE h = win::OpenMutexA(win::SYNCHRONIZE, win::FALSE, name);
    if (!h)
        return false;
    win::CloseHandle(h);
    return true;
}

}  // namespace quilvane
