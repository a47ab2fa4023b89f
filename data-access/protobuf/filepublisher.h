// The RAW volume publisher: checks of the input files, and the file publisher that groups checked
// files into volumes and publishes each through a PerScanPublisher.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "radar_utils.h"

namespace azm {

// What the input check learned about one ORVA RAW product file.
struct RawProdFile {
    std::string path;         // as given
    std::string site_name;    // of the ingest configuration, trailing white space removed
    std::string task_name;    // without the suffix of a hybrid-task file
    std::string task_suffix;  // after the last "_" of a hybrid-task file's name; else empty
    std::int32_t task_major = 0;
    std::int32_t task_minor = 0;  // position within a hybrid task; 0 = not part of one
    bool single_sweep = false;    // the file holds one sweep only
    timeval volume_time{};        // UTC
};

// Reads the product and ingest headers of `path`. Throws std::domain_error when the file cannot be
// opened or read, or is not an ORVA RAW product file.
RawProdFile check_file(const std::string &path);

// A regular file as itself; a directory as the paths of its entries (one level), sorted byte-wise.
// Throws std::domain_error for a path that does not exist or is neither, and for file-system
// errors.
std::vector<std::string> file_list(const std::string &path);

// The POSIX time of an ORVA date record. The seconds of the day are read unsigned and wrap at a
// day; the date and time count as UTC, then `minutes_west` is added unless the record is flagged
// UTC. Independent of the process's time zone.
void ymds2timeval(timeval *out, const ymds_time &in, std::int16_t minutes_west);

// Message callback handed to the RAW reader: the pipe reports its own errors, so the reader's
// texts are dropped.
void error_report(const char *text);

}  // namespace azm
