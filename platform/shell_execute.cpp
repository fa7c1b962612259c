#include "platform/shell_execute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace win {
namespace {

// Whether `file` names a program: a path to an executable regular file, or a
// bare name found on PATH.
bool IsProgram(const std::string& file) {
    auto executable = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               ::access(path.c_str(), X_OK) == 0;
    };
    if (file.find('/') != std::string::npos)
        return executable(file);
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && executable(dir + "/" + file))
            return true;
        start = end + 1;
    }
    return false;
}

// Starts argv detached: a child starts a grandchild in a session of its own
// and ends at once, so the program is nobody's child here. 0, or the errno of
// a failed start.
int SpawnDetached(const std::vector<std::string>& args, const char* directory) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(report[0]);
        ::close(report[1]);
        return err;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 127 : 0);
        int err = 0;
        if (directory && *directory && ::chdir(directory) != 0)
            err = errno;
        if (err == 0) {
            ::execvp(argv[0], argv.data());
            err = errno;
        }
        [[maybe_unused]] const ssize_t n = ::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n != sizeof err)
        err = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
    return err;
}

}  // namespace

std::vector<std::string> CommandLineToArgvA(std::string_view line) {
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

HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory, int) {
    if (!lpFile || !*lpFile)
        return reinterpret_cast<HINSTANCE>(SE_ERR_FNF);
    const std::string file = lpFile;
    std::vector<std::string> args;
    if (IsProgram(file)) {
        args.push_back(file);
        for (auto& a : CommandLineToArgvA(lpParameters ? lpParameters : ""))
            args.push_back(std::move(a));
    } else {
        if (!IsProgram("xdg-open"))
            return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
        args = {"xdg-open", file};
    }
    if (SpawnDetached(args, lpDirectory) != 0)
        return reinterpret_cast<HINSTANCE>(SE_ERR_FNF);
    return reinterpret_cast<HINSTANCE>(INT_PTR{42});
}

}  // namespace win
