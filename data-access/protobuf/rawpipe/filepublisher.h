// The RAW volume publisher: checks of the input files, and the file publisher that groups checked
// files into volumes and publishes each through a PerScanPublisher.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

#include <boost/uuid/uuid.hpp>

#include "publisher.h"
#include "pvol_handles.h"
#include "pvol/pvol.h"
#include "pvol/radar_utils.h"

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

// Reads the product and ingest headers of `path`. Throws std::domain_error, naming the file, when
// it cannot be opened (with the system's reason) or read, or is not an ORVA RAW product file.
RawProdFile check_file(const std::string &path);

// The paths of `files` cut into volumes, in file order: a file starts a new volume when its task
// differs from the previous file's, when it is a complete volume of its own, when it starts a new
// run of a hybrid task (a smaller minor identifier; equal ones continue the run), or when it is a
// single sweep of another volume start.
std::vector<std::vector<std::string>> group_into_volumes(const std::vector<RawProdFile> &files);

// Why one input file is missing from a volume, or only partly in it: one line of text that names
// the file, in the check's or the reader's own words.
struct FileProblem {
    std::string path;
    std::string message;
};

// One volume read from its files, and what went wrong on the way.
struct CheckedVolume {
    std::vector<RawProdFile> files;     // the files that passed the check, in input order
    ScanHandle scan;                    // null when nothing could be read
    std::vector<FileProblem> problems;  // one per bad file, in input order
    // Every file passed the check and was read in full.
    bool whole() const { return scan != nullptr && problems.empty(); }
};

// How read_checked_volume keeps 8-bit moment data: widened to 16-bit codes (the stream's), or as
// stored (ODIM_H5 keeps the 8-bit codes with their own scale).
enum class EightBitData { widened, as_stored };

// Checks every path and reads the files that pass as one volume (several files: the parts of a
// hybrid volume or the sweep files of one task, in order), the one reading of RAW inputs that
// every program shares. Each file that fails the check, makes the reader stop or drop data, or is
// not read because the reader stopped earlier, is listed with its reason. When the reader's
// failure cost the whole scan, the scan is read again from the files before the failing one, so
// that the sweeps read can still be used; it is null only when nothing could be read.
//
// The reader's message callback takes no argument of its own, so its messages reach the read in
// progress through a pointer that is set, on the calling thread only, while the reader runs: reads
// on several threads at once keep their messages apart.
CheckedVolume read_checked_volume(const std::vector<std::string> &paths,
                                  EightBitData eight_bit = EightBitData::widened);

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

// Checks input files and publishes them, volume by volume, to a sink.
class FilePublisher {
  public:
    // Checks every path; each bad file is reported on standard error and left out. Throws
    // std::domain_error when none passes. `sink` is not owned.
    FilePublisher(Publisher *sink, const std::vector<std::string> &paths);
    // One path: a file, or a directory whose entries are taken in sorted order.
    FilePublisher(Publisher *sink, const std::string &path);

    void set_delay_multiplier(double multiplier);
    void set_selected_moment(const std::string &moment);

    // Publishes `paths` as one volume. A failure to read or publish it is reported on standard
    // error and ends the volume's envelopes with one ERROR envelope.
    void publish_scan(const std::vector<std::string> &paths);

    // Publishes the checked files, cut into volumes: a file starts a new volume when its task
    // differs from the previous file's, when it is a complete volume of its own, when it starts a
    // new run of a hybrid task, or when it is a single sweep of another volume start.
    void run();

    const std::vector<RawProdFile> &files() const { return files_; }

  private:
    boost::uuids::uuid identifier_;  // namespace of the radar identifiers
    Publisher *sink_;
    std::vector<RawProdFile> files_;
    double delay_multiplier_ = 1.0;
    std::string selected_moment_ = "all";
};

}  // namespace azm
