// The upgrade helper: started by the upgrader as
//     <helper> <program path> +<restart parameters><method digit>
// it waits until the program has ended, puts every "<name>.uTMP" of the
// program's folder in place of <name>, and starts the program again (or, in
// the external-setup mode, runs the downloaded setup program first). A path
// with blanks arrives as several arguments and is joined again.
//
// It writes only inside the program's folder, keeps a replaced file's
// permissions (so the program stays executable), waits with short pauses
// rather than spinning, and removes its own file when it was written out by
// the upgrader. It has no window; without arguments it names itself on the
// standard error.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/shell_execute.h"

extern char** environ;

namespace {

// Until the file can be opened for writing: a running executable refuses
// that with ETXTBSY. Any other answer ends the wait (the file is free, or
// waiting will not change it); bounded at ten minutes.
void WaitUntilFree(const std::string& path) {
    ::setpriority(PRIO_PROCESS, 0, 19);
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (std::chrono::steady_clock::now() < end) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        if (errno != ETXTBSY)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::setpriority(PRIO_PROCESS, 0, 0);
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void Start(const std::string& program, const std::string& params) {
    win::ShellExecuteA(0, "open", program.c_str(), params.c_str(), nullptr, win::SW_SHOWNORMAL);
}

// Runs the setup program as our own child, its arguments cut from `params` as
// the program's own start cuts them, and waits for its end. A busy file is no
// sign of a running setup on Linux (a script's file is free while its
// interpreter runs it), so the helper waits for the process itself. Returns
// at once when it cannot be started.
void RunToEnd(const std::string& setup, const std::string& params) {
    std::vector<std::string> args = win::CommandLineToArgvA(params);
    args.insert(args.begin(), setup);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, setup.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Upgrader v3.4.1: the Quilvane upgrade helper\n");
        return 0;
    }
    std::string line;
    for (int i = 1; i < argc; ++i)
        line += std::string(argv[i]) + " ";
    const bool externalSetup = line.size() >= 2 && line[line.size() - 2] == '1';
    const size_t plus = line.find('+');
    if (plus == std::string::npos || plus == 0 || line.size() - plus < 3)
        return 1;
    const std::string params = line.substr(plus + 1, line.size() - plus - 3);
    std::string program = line.substr(0, plus - 1);
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    if (folder.empty())
        return 1;

    struct stat st {};
    if (::stat(program.c_str(), &st) == 0)
        WaitUntilFree(program);

    std::string setup;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() <= 5 || !EndsWith(name, ".uTMP"))
                continue;
            const std::string target = name.substr(0, name.size() - 5);
            if (target == "." || target == "..")
                continue;
            const std::string from = folder + name, to = folder + target;
            mode_t mode = 0644;
            if (::stat(to.c_str(), &st) == 0)
                mode = st.st_mode & 07777;
            else if (to == program)
                mode = 0755;
            const bool isSetup = externalSetup && setup.empty() && EndsWith(target, "exe");
            if (isSetup) {
                setup = to;
                mode = 0700;
            }
            if (::rename(from.c_str(), to.c_str()) == 0)
                ::chmod(to.c_str(), mode);
        }
        ::closedir(dir);
    }

    if (externalSetup && !setup.empty()) {
        // A setup that cannot be started has ended as far as we can tell.
        RunToEnd(setup, params);
        ::unlink(setup.c_str());
    }
    Start(program, params);

    // The copy the upgrader wrote out goes with us.
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        if (EndsWith(self, "/Upgrader3"))
            ::unlink(self);
    }
    return 0;
}
