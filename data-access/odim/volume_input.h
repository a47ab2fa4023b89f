// Reading one radar volume from RAW product files, with the input checks and failure rules of
// rawpipe: every path is checked first, and each bad file is reported on one line that names it
// and the reason.
#pragma once

#include <string>
#include <vector>

#include "pvol_handles.h"

namespace azm {

struct VolumeInput {
    ScanHandle scan;                    // what was read; null when nothing could be
    std::vector<std::string> failures;  // one line per bad file, naming it and the reason
};

// Checks every path (as rawpipe does) and reads the paths as the parts of one volume. When a
// path fails the check, nothing is read unless keep_partial is set, in which case the paths that
// passed are read. A file that stops the reader adds its line to the failures; the scan then holds
// what was read before, if anything.
VolumeInput read_volume(const std::vector<std::string> &paths, bool keep_partial);

}  // namespace azm
