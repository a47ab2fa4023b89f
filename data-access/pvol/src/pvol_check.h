// Always-on invariant checks of libpvol (internal).
#ifndef PVOL_CHECK_H
#define PVOL_CHECK_H

#include <cstdio>
#include <cstdlib>

namespace pvol_internal {

// Stops the process with the text of a broken invariant; kept in release builds on purpose,
// because a broken invariant means the caller's model is already corrupt.
[[noreturn]] inline void check_failed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: pvol: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace pvol_internal

#define PVOL_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) ::pvol_internal::check_failed(#condition, __FILE__, __LINE__); \
    } while (0)

// Same check, reported with a text of its own: the library's check texts are the conditions as C
// writes them, and C++ spells some of them differently (nullptr, names such as new).
#define PVOL_CHECK_TEXT(condition, text)                             \
    do {                                                             \
        if (!(condition))                                            \
            ::pvol_internal::check_failed(text, __FILE__, __LINE__); \
    } while (0)

#endif  // PVOL_CHECK_H
