#pragma once
// Tests that need what a machine may lack (root, namespaces, a display, a
// server) call QUILVANE_SKIP_OR_FAIL with the reason when they cannot run:
// skipped on a developer's machine, failed in CI (CI=true), where every
// prerequisite must be there.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quilvane_test {

inline bool InCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

}  // namespace quilvane_test

#define QUILVANE_SKIP_OR_FAIL(reason)                          \
    do {                                                       \
        const std::string quilvaneReason_ = (reason);          \
        if (::quilvane_test::InCi())                           \
            FAIL() << "cannot run in CI: " << quilvaneReason_; \
        else                                                   \
            GTEST_SKIP() << quilvaneReason_;                   \
    } while (0)
