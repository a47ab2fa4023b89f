#include "filepublisher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include <boost/uuid/random_generator.hpp>

#include "orva_records.h"
#include "per_scan_publisher.h"
#include "pipe_conversions.h"

namespace azm {

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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

}  // namespace

RawProdFile check_file(const std::string &path) {
    const FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw std::domain_error("Can not open " + path);

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
    std::vector<std::string> group;
    const RawProdFile *previous = nullptr;
    for (const RawProdFile &file : files_) {
        if (!group.empty()) {
            const bool other_task = file.task_name != previous->task_name;
            const bool whole_volume = file.task_minor == 0 && !file.single_sweep;
            const bool new_hybrid_run =
                file.task_minor != 0 && file.task_minor < previous->task_minor;
            const bool other_volume_sweep =
                file.single_sweep && file.volume_time.tv_sec != previous->volume_time.tv_sec;
            if (other_task || whole_volume || new_hybrid_run || other_volume_sweep) {
                publish_scan(group);
                group.clear();
            }
        }
        group.push_back(file.path);
        previous = &file;
    }
    if (!group.empty())
        publish_scan(group);
}

}  // namespace azm
