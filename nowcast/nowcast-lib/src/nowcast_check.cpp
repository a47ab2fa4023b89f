#include "nowcast_check.h"

#include <cstdio>
#include <cstdlib>

namespace azm::detail {

void checkFailed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: nowcast: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace azm::detail
