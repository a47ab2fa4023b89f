#include "filepublisher.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <boost/uuid/random_generator.hpp>

#include "pvol/orva_records.h"
#include "per_scan_publisher.h"
#include "pipe_conversions.h"

namespace azm {

namespace {

// Reads exactly `size` bytes at the current position into `record`; false when the file ends
// first or a read fails.
template <typename Record>
bool read_record(std::FILE *file, Record &record) {
    unsigned char bytes[sizeof(Record)];
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes)
        return false;
    std::memcpy(&record, bytes, sizeof bytes);
    return true;
}

// One run of the RAW reader over a list of paths: which files it was handed, and what it said
// about each.
struct ReaderRun {
    ReaderRun(std::vector<std::string> paths_to_read, EightBitData eight_bit_data)
        : paths(std::move(paths_to_read)), eight_bit(eight_bit_data), messages(paths.size()) {}

    const std::vector<std::string> paths;
    const EightBitData eight_bit;
    std::size_t handed_out = 0;                      // files the reader asked for and got
    std::vector<std::vector<std::string>> messages;  // per path, without the final newline
    ScanHandle scan;
};

// The reader's message callback takes no argument of its own, so its messages reach the run in
// progress through this pointer, which is set only while the reader runs on this thread. The one
// such pointer of the toolkit: every program reads its RAW inputs through read_checked_volume.
thread_local ReaderRun *current_run = nullptr;

FILE *next_input(void *arg) {
    ReaderRun &run = *static_cast<ReaderRun *>(arg);
    if (run.handed_out == run.paths.size())
        return nullptr;
    const std::size_t index = run.handed_out;
    FILE *file = std::fopen(run.paths[index].c_str(), "rb");
    if (file == nullptr) {
        run.messages[index].push_back(std::string("cannot open: ") + std::strerror(errno));
        return nullptr;
    }
    ++run.handed_out;
    return file;
}

void collect_message(const char *text) {
    if (current_run == nullptr || text == nullptr)
        return;
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    // A message comes while the reader works on the file it was handed last.
    const std::size_t index = current_run->handed_out == 0 ? 0 : current_run->handed_out - 1;
    if (index < current_run->messages.size())
        current_run->messages[index].push_back(message);
}

// Reads run.paths as one scan, collecting the reader's messages per file.
void read_files(ReaderRun &run) {
    struct Collecting {
        explicit Collecting(ReaderRun *run) { current_run = run; }
        ~Collecting() { current_run = nullptr; }
    } collecting(&run);
    const int widen = run.eight_bit == EightBitData::widened ? 1 : 0;
    run.scan.reset(pvol_new_from_raw2(&run, next_input, collect_message, widen));
}

std::string joined(const std::vector<std::string> &parts, const char *separator) {
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

}  // namespace

RawProdFile check_file(const std::string &path) {
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw std::domain_error("Can not open " + path + ": " + std::strerror(errno));

    product_header product;
    if (!read_record(file.get(), product))
        throw std::domain_error("Failed to read product header from " + path);
    if (product.hdr.id != ST_PRODUCT_HDR)
        throw std::domain_error(path + "is not an ORVA product file!");
    if (product.pcf.iptype != PROD_RAW)
        throw std::domain_error(path + "is not an  ORVA RAW product file!");

    ingest_header ingest;
    if (std::fseek(file.get(), RAW_RECORD_SIZE, SEEK_SET) != 0 || !read_record(file.get(), ingest))
        throw std::domain_error("Failed to read ingest header from " + path);

    RawProdFile info;
    info.path = path;
    info.single_sweep = (product.pcf.raw_flags & RAW_FLAG_ONE_SWEEP) != 0;
    info.site_name = buf2string(ingest.icf.site_name, sizeof ingest.icf.site_name);
    info.task_major = ingest.tcf.end.id_major;
    info.task_minor = ingest.tcf.end.id_minor;
    ymds2timeval(&info.volume_time, ingest.icf.vol_time, ingest.icf.imin_west);

    const std::string task = buf2string(ingest.tcf.end.task_name, sizeof ingest.tcf.end.task_name);
    info.task_name = task;
    if (info.task_minor != 0) {
        // A task of a hybrid task is named "<hybrid task>_<suffix>".
        const std::size_t split = task.rfind('_');
        if (split == std::string::npos) {
            info.task_suffix = task;
        } else {
            info.task_name = task.substr(0, split);
            info.task_suffix = task.substr(split + 1);
        }
    }
    return info;
}

std::vector<std::string> file_list(const std::string &path) {
    namespace fs = std::filesystem;
    try {
        const fs::file_status status = fs::status(path);
        if (!fs::exists(status))
            throw std::domain_error(path + " does not exist!");
        if (fs::is_regular_file(status))
            return {path};
        if (!fs::is_directory(status))
            throw std::domain_error(path +
                                    " exists, but is neither a regular file nor a directory!");
        std::vector<std::string> entries;
        for (const fs::directory_entry &entry : fs::directory_iterator(path))
            entries.push_back((fs::path(path) / entry.path().filename()).string());
        std::sort(entries.begin(), entries.end());
        return entries;
    } catch (const fs::filesystem_error &e) {
        throw std::domain_error(e.what());
    }
}

void ymds2timeval(timeval *out, const ymds_time &in, std::int16_t minutes_west) {
    ymds_time within_day = in;
    within_day.seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(in.seconds) % 86400);
    ::ymds2timeval(out, &within_day, minutes_west);
}

void error_report(const char * /*text*/) {}

// ---- FilePublisher -------------------------------------------------------------------------

FilePublisher::FilePublisher(Publisher *sink, const std::vector<std::string> &paths)
    : identifier_(boost::uuids::random_generator_mt19937()()), sink_(sink) {
    for (const std::string &path : paths) {
        try {
            files_.push_back(check_file(path));
        } catch (const std::domain_error &e) {
            std::cerr << e.what() << std::endl;
        }
    }
    if (files_.empty())
        throw std::domain_error("None of the files is a good ORVA RAW product file");
}

FilePublisher::FilePublisher(Publisher *sink, const std::string &path)
    : FilePublisher(sink, file_list(path)) {}

void FilePublisher::set_delay_multiplier(double multiplier) {
    delay_multiplier_ = multiplier;
}

void FilePublisher::set_selected_moment(const std::string &moment) {
    selected_moment_ = moment;
}

void FilePublisher::publish_scan(const std::vector<std::string> &paths) {
    try {
        PerScanPublisher publisher(sink_, paths, delay_multiplier_, identifier_,
                                   PerScanPublisher::PER_SWEEP_LZ4);
        if (selected_moment_ != "all")
            publisher.set_selected_moment(selected_moment_);
        publisher.publish();
    } catch (const std::runtime_error &e) {
        std::cerr << e.what() << std::endl;
        pb::Payload error;
        error.set_type(pb::Payload::ERROR);
        sink_->send_payload(error);
    }
}

void FilePublisher::run() {
    for (const std::vector<std::string> &volume : group_into_volumes(files_))
        publish_scan(volume);
}

std::vector<std::vector<std::string>> group_into_volumes(const std::vector<RawProdFile> &files) {
    std::vector<std::vector<std::string>> volumes;
    const RawProdFile *previous = nullptr;
    for (const RawProdFile &file : files) {
        bool starts_volume = previous == nullptr;
        if (previous != nullptr) {
            const bool other_task = file.task_name != previous->task_name;
            const bool whole_volume = file.task_minor == 0 && !file.single_sweep;
            const bool new_hybrid_run =
                file.task_minor != 0 && file.task_minor < previous->task_minor;
            const bool other_volume_sweep =
                file.single_sweep && file.volume_time.tv_sec != previous->volume_time.tv_sec;
            starts_volume = other_task || whole_volume || new_hybrid_run || other_volume_sweep;
        }
        if (starts_volume)
            volumes.emplace_back();
        volumes.back().push_back(file.path);
        previous = &file;
    }
    return volumes;
}

CheckedVolume read_checked_volume(const std::vector<std::string> &paths, EightBitData eight_bit) {
    CheckedVolume volume;
    std::vector<FileProblem> check_problems;
    for (const std::string &path : paths) {
        try {
            volume.files.push_back(check_file(path));
        } catch (const std::domain_error &e) {
            check_problems.push_back({path, e.what()});
        }
    }
    std::vector<std::string> good;
    for (const RawProdFile &file : volume.files)
        good.push_back(file.path);

    std::vector<FileProblem> read_problems;
    if (!good.empty()) {
        ReaderRun run(good, eight_bit);
        read_files(run);
        std::size_t first_failed = good.size();
        for (std::size_t i = 0; i < good.size(); ++i) {
            if (!run.messages[i].empty()) {
                read_problems.push_back({good[i], good[i] + ": " + joined(run.messages[i], "; ")});
                first_failed = std::min(first_failed, i);
            } else if (i >= run.handed_out) {
                read_problems.push_back(
                    {good[i], good[i] + ": not read, since an earlier file stopped the reader"});
            }
        }
        if (!run.scan && first_failed == good.size()) {
            // The reader gave up without a word: the last file it was handed is the one.
            first_failed = run.handed_out == 0 ? 0 : run.handed_out - 1;
            read_problems.push_back(
                {good[first_failed], good[first_failed] + ": cannot be read as a radar volume"});
        }
        volume.scan = std::move(run.scan);
        if (!volume.scan && first_failed > 0) {
            // The failure cost the sweeps of the files before it too: read those alone.
            ReaderRun before(std::vector<std::string>(good.begin(), good.begin() + first_failed),
                             eight_bit);
            read_files(before);
            volume.scan = std::move(before.scan);
        }
    }

    // Problems in input order.
    for (const std::string &path : paths) {
        for (auto *list : {&check_problems, &read_problems}) {
            const auto found = std::find_if(list->begin(), list->end(),
                                            [&](const FileProblem &p) { return p.path == path; });
            if (found != list->end()) {
                volume.problems.push_back(std::move(*found));
                list->erase(found);
                break;
            }
        }
    }
    return volume;
}

}  // namespace azm
