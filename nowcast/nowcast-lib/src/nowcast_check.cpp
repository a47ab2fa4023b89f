#include "nowcast_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace azm::detail {

namespace {

// The file as named inside the source tree, without the folders of the machine that built it
// (the compiler may have been given an absolute path or one relative to the build tree).
const char *sourceTreeName(const char *file) {
    static constexpr char kLibraryFolder[] = "nowcast/nowcast-lib/";
    const char *name = file;
    for (const char *found = std::strstr(file, kLibraryFolder); found != nullptr;
         found = std::strstr(found + 1, kLibraryFolder)) {
        name = found;
    }
    return name;
}

}  // namespace

void checkFailed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: nowcast: check failed: %s\n", sourceTreeName(file), line,
                 condition);
    std::abort();
}

}  // namespace azm::detail
