// Always-on invariant checks of the pipes.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace azm {

// Stops the process with the text of a broken invariant. Kept in release builds: a broken
// invariant means the radar model handed to the pipe is already corrupt.
[[noreturn]] inline void check_failed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace azm

#define AZM_CHECK(condition)                                     \
    do {                                                         \
        if (!(condition))                                        \
            ::azm::check_failed(#condition, __FILE__, __LINE__); \
    } while (0)
