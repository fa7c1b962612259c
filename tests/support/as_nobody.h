#pragma once
// The second user of the tests that check what another user can bend: runs a
// function in a child process that has become `nobody` (no supplementary
// groups). Needs root.
//
// Threads: the test thread; the child runs only `plant`.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace quilvane_test {

inline constexpr uid_t kNobody = 65534;

// Runs `plant` as nobody; false when it failed or the child could not become
// nobody. With `exactModes` the child's umask is 0, so what it makes has
// exactly the modes it asks for.
inline bool AsNobody(const std::function<bool()>& plant, bool exactModes = false) {
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(10);
        if (exactModes)
            ::umask(0);
        ::_exit(plant() ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quilvane_test
