// The RAW product writer: data scans packed into 6144-byte records.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "pvol/i16stream.h"
#include "orva_header_ops.h"
#include "pvol_check.h"
#include "pvol_prod_io_internal.h"
#include "pvol_handles.h"
#include "pvol_save_internal.h"

namespace {

using pvol_internal::report;

constexpr int kIdhdrWords = IDHDR_SIZE / 2;
constexpr int kMaxSweepsPerSweepFiles = 100;

// Writes one record's worth of bytes at record index: the record starts with the given bytes
// and is zero beyond them.
bool write_record(FILE *file, int record, const void *bytes, size_t size) {
    std::vector<unsigned char> buffer(RAW_RECORD_SIZE, 0);
    std::memcpy(buffer.data(), bytes, size);
    return std::fseek(file, static_cast<long>(record) * RAW_RECORD_SIZE, SEEK_SET) == 0 &&
           std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
}

// One sweep's stream: the data headers, then per ray position each block's compressed ray.
bool write_sweep(i16stream *stream, int sweep_number, std::vector<const dblock *> blocks,
                 bool sort_by_code) {
    raw_record_header record{};
    record.isweep = static_cast<int16_t>(sweep_number);
    i16stream_set_bhdr(stream, &record);
    if (sort_by_code)
        std::stable_sort(blocks.begin(), blocks.end(), [](const dblock *a, const dblock *b) {
            return dblock_get_ihdr(a)->idata_type < dblock_get_ihdr(b)->idata_type;
        });
    for (const dblock *block : blocks) {
        uint16_t words[kIdhdrWords];
        std::memcpy(words, dblock_get_ihdr(block), sizeof words);
        if (i16stream_write(stream, words, kIdhdrWords) != kIdhdrWords)
            return false;
    }
    const int positions = dblock_get_ray_count(blocks.front());
    for (int p = 0; p < positions; ++p) {
        for (const dblock *block : blocks) {
            const uint16_t *ray = dblock_get_ingest_ray(block, p);
            uint64_t words = 0;
            if (ray != nullptr) {
                ingest_ray_header header;
                std::memcpy(&header, ray, sizeof header);
                words = ingest_ray_size(dblock_get_ihdr(block)->ibits_bin, header.ibins) / 2;
            }
            if (i16stream_pack(stream, ray, words) != words)
                return false;
        }
    }
    i16stream_finish_record(stream);
    return true;
}

// A complete RAW file of the sweeps [first, first + count) of ds. The data records go first;
// the headers that make the file readable are written only once they are all out.
bool write_file(FILE *file, product_header header, const data_scan &ds, int first, int count,
                bool sort_by_code) {
    if (std::fseek(file, static_cast<long>(RAW_FIRST_DATA_RECORD) * RAW_RECORD_SIZE, SEEK_SET) != 0)
        return false;
    StreamHandle stream(i16stream_new_frecord(file, RAW_FIRST_DATA_RECORD));
    if (stream == nullptr)
        return false;
    for (int k = first; k < first + count; ++k) {
        const std::vector<const dblock *> blocks(ds.sweeps[k].begin(), ds.sweeps[k].end());
        if (!write_sweep(stream.get(), k + 1, blocks, sort_by_code))
            return false;
    }
    if (std::fflush(file) != 0 || std::ferror(file))
        return false;
    header.hdr.ibytes = (i16stream_getpos(stream.get()) - 1) * RAW_RECORD_SIZE;
    return write_record(file, 0, &header, sizeof header) &&
           write_record(file, 1, &ds.ih, sizeof ds.ih) && std::fflush(file) == 0 &&
           !std::ferror(file);
}

// Closes file; a file that failed is cut to nothing first, so that it cannot pass for a
// complete product.
bool close_file(FILE *file, bool written) {
    if (!written) {
        std::fflush(file);
        const int descriptor = fileno(file);
        if (descriptor >= 0 && ftruncate(descriptor, 0) != 0) {
            // Nothing more can be done: the headers were never written, so a reader refuses it.
        }
    }
    return std::fclose(file) == 0 && written;
}

// The output callbacks name a task's per-sweep files by the first two digits of the sweep number,
// so a task of more than 100 sweeps would write two sweeps to one file.
bool per_sweep_names_are_distinct(const data_scan_group &group, pvol_message_callback message) {
    for (size_t j = 0; j < group.scans.size(); ++j) {
        const size_t sweeps = group.scans[j]->sweeps.size();
        if (sweeps > kMaxSweepsPerSweepFiles) {
            report(message,
                   "Task %zu has %zu sweeps; one file per sweep tells at most %d sweeps of a "
                   "task apart.\n",
                   j + 1, sweeps, kMaxSweepsPerSweepFiles);
            return false;
        }
    }
    return true;
}

bool save_group(const data_scan_group &group, void *io, const char *site, int mode,
                raw_output_callback output, pvol_message_callback message) {
    const int count = static_cast<int>(group.scans.size());
    for (int j = 0; j < count; ++j) {
        data_scan &ds = *group.scans[j];
        const int group_index = count > 1 ? j : -1;
        ds.ih.tcf.end.ihybrid = static_cast<int16_t>(count);
        product_header header;
        __product_header(&header, &ds.ih, site);
        const int sweeps = static_cast<int>(ds.sweeps.size());
        if (mode == RAW_SAVE_ONE_FILE) {
            FILE *file = output(io, group_index, mode, -1);
            if (file == nullptr) {
                report(message, "No output file for task %d.\n", j + 1);
                return false;
            }
            if (!close_file(file, write_file(file, header, ds, 0, sweeps, true))) {
                report(message, "Writing the file of task %d failed.\n", j + 1);
                return false;
            }
            continue;
        }
        // One sweep per file, marked so that a reader takes exactly one sweep from it.
        header.pcf.raw_flags |= RAW_FLAG_ONE_SWEEP;
        for (int k = 0; k < sweeps; ++k) {
            FILE *file = output(io, group_index, mode, k);
            if (file == nullptr) {
                report(message, "No output file for sweep %d of task %d.\n", k + 1, j + 1);
                return false;
            }
            if (!close_file(file, write_file(file, header, ds, k, 1, false))) {
                report(message, "Writing the file of sweep %d of task %d failed.\n", k + 1, j + 1);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" {

int pvol_save_raw2(const radar_scan *scan, void *io, const char *site, int mode, int bin_format,
                   raw_output_callback output, pvol_message_callback message) {
    if (scan == nullptr || output == nullptr ||
        (mode != RAW_SAVE_ONE_FILE && mode != RAW_SAVE_PER_SWEEP) ||
        (bin_format != BITS_8 && bin_format != BITS_16)) {
        report(message, "Bad arguments to the RAW writer.\n");
        return 1;
    }
    try {
        // Everything that can refuse the scan happens here, before any file is asked for.
        ScanGroupHandle group(data_scan_group_build(scan, bin_format, message));
        if (group == nullptr)
            return 1;
        if (mode == RAW_SAVE_PER_SWEEP && !per_sweep_names_are_distinct(*group, message))
            return 1;
        return save_group(*group, io, site, mode, output, message) ? 0 : 1;
    } catch (...) {
        report(message, "Out of memory while writing the scan.\n");
        return 1;
    }
}

int pvol_save_raw(const radar_scan *scan, void *io, const char *site, int mode, int bin_format,
                  raw_output_callback output) {
    return pvol_save_raw2(scan, io, site, mode, bin_format, output, nullptr);
}

int pvol_save_ingest(void) {
    return -1;
}

}  // extern "C"
