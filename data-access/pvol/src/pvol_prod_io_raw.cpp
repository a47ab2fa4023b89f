// The reader of ORVA RAW product files.
//
// Each file is read in whole records: the product header record, the ingest header record, then
// the data records through a record stream. Rays are unpacked into one buffer of the largest ray
// a file may hold and copied into the data blocks of their sweep, so that the work per ray
// allocates nothing; each block starts with the room its data type took in the sweep before, so
// that sweeps alike are not moved while they grow.
#include <cstdio>
#include <cstring>

#include "data_block_internal.h"
#include "pvol/i16stream.h"
#include "pvol/pvol_prod_io.h"
#include "pvol_boundary.h"
#include "pvol_handles.h"
#include "pvol_prod_io_internal.h"

namespace {

using pvol_internal::kTaskDataTypes;
using pvol_internal::report;

constexpr int kMaxBins = 4200;
constexpr int kUnpackCapacity = RAY_HEADER_WORDS + kMaxBins;
constexpr int kDataHeaderWords = IDHDR_SIZE / 2;
constexpr size_t kMaxScanName = 128;

// Sweeps a file holds: one when flagged so; otherwise the sweeps done when given and plausible,
// else the sweeps of the task. A negative count done is no count at all.
int sweeps_in_file(const product_header &ph, const ingest_header &ih) {
    if ((ph.pcf.raw_flags & RAW_FLAG_ONE_SWEEP) != 0)
        return 1;
    const int done = ih.icf.isweeps_done;
    const int planned = ih.tcf.scan.isweeps;
    return done > 0 && done <= planned ? done : planned;
}

bool is_all_zero(const void *bytes, size_t size) {
    const auto *p = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < size; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// The writer names the tasks of a hybrid NAME_A, NAME_B, ...; a scan combined from them takes
// back the plain name.
void strip_task_suffix(radar_scan *scan) {
    char name[kMaxScanName + 1] = {};
    if (pvol_get_name(scan, name, kMaxScanName) == nullptr)
        return;
    const size_t length = std::strlen(name);
    if (length > 3 && name[length - 2] == '_' && name[length - 1] >= 'A' &&
        name[length - 1] <= 'Z') {
        name[length - 2] = '\0';
        pvol_set_name(scan, name);
    }
}

class raw_reader {
  public:
    raw_reader(void *arg, raw_input_callback next_file, pvol_message_callback message,
               bool force_16_bit)
        : arg_(arg), next_file_(next_file), message_(message), force_16_bit_(force_16_bit) {}
    ~raw_reader() { release_blocks(); }
    raw_reader(const raw_reader &) = delete;
    raw_reader &operator=(const raw_reader &) = delete;

    radar_scan *read();

  private:
    // What a file leaves for the next one.
    enum class outcome {
        go_on,    // the file is read; read the next one
        stop,     // end reading, keep the scan read so far
        discard,  // the data is unusable: delete the scan and end reading
    };

    outcome read_file(FILE *file);
    bool read_sweep(i16stream *stream, int sweep_number, int type_count);
    bool read_data_headers(i16stream *stream, int sweep_number, int type_count, int *header_count,
                           int *xhdr_position, int *ray_positions);
    bool read_rays(i16stream *stream, int sweep_number, int header_count, int xhdr_position,
                   int ray_positions);
    void release_blocks();

    void *arg_;
    raw_input_callback next_file_;
    pvol_message_callback message_;
    bool force_16_bit_;

    ScanHandle scan_;
    int files_ = 0;
    int schedule_offset_ = 0;
    ingest_header previous_{};  // of the last file accepted
    ingest_header ih_{};        // of the file being read
    pvol_internal::shared_configs shared_;
    dblock *blocks_[kTaskDataTypes] = {};
    int block_count_ = 0;
    uint64_t last_block_sizes_[kTaskDataTypes] = {};  // bytes of each block of the sweep before
    unsigned char record_[RAW_RECORD_SIZE];
    uint16_t ray_[kUnpackCapacity];
};

radar_scan *raw_reader::read() {
    bool any_file = false;
    while (next_file_ != nullptr) {
        FileHandle file(next_file_(arg_));
        if (file == nullptr)
            break;
        any_file = true;
        const outcome result = read_file(file.get());
        file.reset();
        shared_.reset();
        release_blocks();
        if (result == outcome::discard)
            scan_.reset();
        if (result != outcome::go_on)
            break;
    }
    if (scan_) {
        pvol_set_scheduled_sweeps(scan_.get(), schedule_offset_ + previous_.tcf.scan.isweeps);
        if (files_ > 1 && pvol_get_sweepconf_count(scan_.get()) > 1)
            strip_task_suffix(scan_.get());
    } else if (!any_file) {
        report(message_, "No input files found.\n");
    }
    return scan_.release();
}

raw_reader::outcome raw_reader::read_file(FILE *file) {
    size_t got = std::fread(record_, 1, RAW_RECORD_SIZE, file);
    if (got < PRODUCT_HDR_SIZE) {
        report(message_, "File is too short for an ORVA product header.\n");
        return outcome::stop;
    }
    ++files_;
    product_header ph;
    std::memcpy(&ph, record_, sizeof ph);
    if (ph.hdr.id != ST_PRODUCT_HDR) {
        report(message_, "File has an invalid header ID, not an ORVA product.\n");
        return outcome::stop;
    }
    if (ph.pcf.iptype != PROD_RAW) {
        report(message_, "File is not a RAW ORVA product.\n");
        return outcome::stop;
    }
    got = got < RAW_RECORD_SIZE ? 0 : std::fread(record_, 1, RAW_RECORD_SIZE, file);
    if (got < INGEST_HDR_SIZE) {
        report(message_, "File is too short for an ingest header.\n");
        return outcome::stop;
    }
    std::memcpy(&ih_, record_, sizeof ih_);
    if (ih_.hdr.id != ST_INGEST_HDR) {
        report(message_, "File has an invalid ingest header ID.\n");
        return outcome::stop;
    }
    // A negative count would move the schedule of the later tasks of a hybrid backwards.
    if (ih_.tcf.scan.isweeps < 0) {
        report(message_, "File has a negative sweep count (%d).\n", ih_.tcf.scan.isweeps);
        return outcome::discard;
    }
    if (is_all_zero(&ih_.tcf.dsp.mask_orig, sizeof ih_.tcf.dsp.mask_orig))
        ih_.tcf.dsp.mask_orig = ih_.tcf.dsp.mask;

    if (!scan_) {
        scan_.reset(pvol_new_from_ingest_header(&ih_, message_));
        if (!scan_) {
            report(message_, "Cannot make a scan from the ingest header.\n");
            return outcome::stop;
        }
    } else if (!pvol_internal::continue_hybrid(previous_, ih_, &schedule_offset_)) {
        report(message_,
               "File does not continue the task of the previous files (task %d.%d after "
               "%d.%d).\n",
               ih_.tcf.end.id_major, ih_.tcf.end.id_minor, previous_.tcf.end.id_major,
               previous_.tcf.end.id_minor);
        return outcome::discard;
    }
    previous_ = ih_;

    int types[kTaskDataTypes];
    int formats[kTaskDataTypes];
    const int type_count = pvol_internal::task_data_types(ih_, types, formats);
    StreamHandle stream(i16stream_new_frecord(file, RAW_FIRST_DATA_RECORD));
    if (!stream)
        return outcome::discard;
    const int sweeps = sweeps_in_file(ph, ih_);
    for (int s = 0; s < sweeps; ++s) {
        if (!read_sweep(stream.get(), s + 1, type_count))
            return outcome::discard;
    }
    return outcome::go_on;
}

bool raw_reader::read_sweep(i16stream *stream, int sweep_number, int type_count) {
    if (type_count == 0) {
        report(message_, "File records no data types.\n");
        return false;
    }
    int header_count = 0;
    int xhdr_position = -1;
    int ray_positions = 0;
    if (!read_data_headers(stream, sweep_number, type_count, &header_count, &xhdr_position,
                           &ray_positions) ||
        !read_rays(stream, sweep_number, header_count, xhdr_position, ray_positions))
        return false;

    for (int i = 0; i < block_count_; ++i)
        dblock_get_ingest_data(blocks_[i], &last_block_sizes_[i]);

    for (int i = 0; i < block_count_; ++i) {
        if (force_16_bit_)
            dblock_force_16_bit(blocks_[i]);
        if (dblock_finalize(blocks_[i], &ih_) != 0) {
            report(message_, "Out of memory while reading sweep %d.\n", sweep_number);
            return false;
        }
    }
    radar_sweep *sweep =
        rsweep_new_from_blocks(&ih_, &shared_.sweep, &shared_.ray, block_count_, blocks_);
    release_blocks();
    if (sweep == nullptr) {
        report(message_, "Sweep %d cannot be built from its data.\n", sweep_number);
        return false;
    }
    if (schedule_offset_ != 0)
        rsweep_set_schedule_index(sweep, rsweep_get_schedule_index(sweep) + schedule_offset_);
    if (pvol_add_sweep(scan_.get(), sweep) == nullptr) {
        report(message_, "Error in pvol_add_sweep().\n");
        rsweep_delete(sweep);
    }
    i16stream_next_record(stream);
    return true;
}

// Reads the data headers of a sweep, one per data type plus the extended header when the mask
// announces one, wherever it stands among them, and makes an empty block for each data type.
bool raw_reader::read_data_headers(i16stream *stream, int sweep_number, int type_count,
                                   int *header_count, int *xhdr_position, int *ray_positions) {
    const bool xhdr_announced = lDspMaskTest(&ih_.tcf.dsp.mask, DATA_TYPE_XHDR) != 0;
    while (block_count_ < type_count || (xhdr_announced && *xhdr_position < 0)) {
        uint16_t words[kDataHeaderWords];
        if (i16stream_read(stream, words, kDataHeaderWords) != kDataHeaderWords) {
            report(message_, "File ends before the data headers of sweep %d.\n", sweep_number);
            return false;
        }
        IDhdr header;
        std::memcpy(&header, words, sizeof header);
        if (*header_count == 0)
            *ray_positions = header.irtotl;
        if (header.irtotl != *ray_positions || header.hdr.ibytes <= IDHDR_SIZE ||
            header.hdr.id != ST_INGEST_DATA || header.isweep <= 0 || header.irtotl <= 0) {
            report(message_, "Sweep %d has an inconsistent data header.\n", sweep_number);
            return false;
        }
        if (header.idata_type == DATA_TYPE_XHDR) {
            if (*xhdr_position >= 0) {
                report(message_, "Sweep %d has more than one extended header.\n", sweep_number);
                return false;
            }
            *xhdr_position = (*header_count)++;
            continue;
        }
        if (block_count_ == type_count) {
            report(message_, "Sweep %d has more data headers than data types.\n", sweep_number);
            return false;
        }
        if (header.ibits_bin != 8 && header.ibits_bin != 16) {
            report(message_, "bit count = %d\n", header.ibits_bin);
            report(message_, "Ingest file has bad bit count\n");
            return false;
        }
        dblock *block = dblock_new_from_ihdr(&header, nullptr, 0);
        if (block == nullptr) {
            report(message_, "Sweep %d has a data header of unknown data type code %d.\n",
                   sweep_number, header.idata_type);
            return false;
        }
        // The room is a size read before, with a margin for a slightly larger sweep; without it
        // the block grows as it goes.
        const uint64_t room = last_block_sizes_[block_count_];
        dblock_reserve(block, room + room / 8);
        blocks_[block_count_++] = block;
        ++*header_count;
    }
    return true;
}

// Unpacks the rays of every ray position, one per data header in header order, into the blocks;
// the rays of the extended header are passed over.
bool raw_reader::read_rays(i16stream *stream, int sweep_number, int header_count, int xhdr_position,
                           int ray_positions) {
    for (int p = 0; p < ray_positions; ++p) {
        int block = 0;
        for (int h = 0; h < header_count; ++h) {
            const int64_t words = i16stream_unpack(stream, ray_, kUnpackCapacity);
            if (words == I16STREAM_MALFORMED) {
                report(message_, "Sweep %d holds a malformed ray at ray position %d.\n",
                       sweep_number, p);
                return false;
            }
            if (words == I16STREAM_END_OF_DATA) {
                report(message_, "File ends inside sweep %d.\n", sweep_number);
                return false;
            }
            if (h == xhdr_position)
                continue;
            const int added = dblock_add_ingest_ray(blocks_[block++], words > 0 ? ray_ : nullptr,
                                                    static_cast<uint64_t>(words));
            if (added == DBLOCK_BAD_RAY) {
                report(message_,
                       "Sweep %d holds a ray at ray position %d with more bins than words.\n",
                       sweep_number, p);
                return false;
            }
            if (added != DBLOCK_ADDED) {
                report(message_, "Out of memory while reading sweep %d.\n", sweep_number);
                return false;
            }
        }
    }
    return true;
}

void raw_reader::release_blocks() {
    for (int i = 0; i < block_count_; ++i)
        dblock_delete(blocks_[i]);
    block_count_ = 0;
}

}  // namespace

extern "C" {

radar_scan *pvol_new_from_raw2(void *arg, raw_input_callback next_file,
                               pvol_message_callback message, int force_16_bit) {
    return pvol_boundary::no_throw(nullptr, message, nullptr, [&] {
        raw_reader reader(arg, next_file, message, force_16_bit != 0);
        return reader.read();
    });
}

radar_scan *pvol_new_from_raw(void *arg, raw_input_callback next_file,
                              pvol_message_callback message) {
    return pvol_new_from_raw2(arg, next_file, message, 0);
}

}  // extern "C"
