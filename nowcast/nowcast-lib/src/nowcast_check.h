// Always-on precondition checks of libnowcast (internal).
#ifndef NOWCAST_CHECK_H
#define NOWCAST_CHECK_H

namespace azm::detail {

// Prints the text of a broken precondition and aborts; kept in release builds, because the
// caller has already broken the contract and any result would be meaningless.
[[noreturn]] __attribute__((visibility("hidden"))) void checkFailed(const char *condition,
                                                                    const char *file, int line);

}  // namespace azm::detail

#define NOWCAST_CHECK(condition)                                        \
    do {                                                                \
        if (!(condition))                                               \
            ::azm::detail::checkFailed(#condition, __FILE__, __LINE__); \
    } while (0)

#endif  // NOWCAST_CHECK_H
