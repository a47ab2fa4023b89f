#include "filepublisher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "orva_records.h"
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

}  // namespace azm
