// Scans and sweeps from ingest data, shared by both readers, and the reader of ingest files.
#include <sys/stat.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "pvol_boundary.h"
#include "pvol_check.h"
#include "pvol_handles.h"
#include "pvol/pvol_prod_io.h"
#include "pvol_prod_io_internal.h"
#include "pvol/radar_utils.h"

namespace {

using pvol_internal::report;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadiansPerDegree = M_PI / 180.0;
constexpr double kSpeedOfLightKmPerS = 299792.5;

const char kTaskNameKey[] = "ORVA Scan Task Name";
const char kMajorTaskKey[] = "ORVA Sweep Major Task ID";
const char kMinorTaskKey[] = "ORVA Sweep Minor Task ID";
const char kHybridCountKey[] = "ORVA Hybrid Task Cardinality";
const char kIngestHeaderKey[] = "ORVA Sweep Ingest Header";

constexpr size_t kTaskNameWidth = sizeof(task_end_info::task_name);

// The task name of a header as text; name holds kTaskNameWidth + 1 bytes.
char *task_name(char *name, const ingest_header &ih) {
    return fstr2cstr(name, ih.tcf.end.task_name, kTaskNameWidth);
}

// Transmit polarization of the ray configuration from the task's polarization code.
int tx_polarization(int code) {
    switch (code) {
        case 0:
            return 1;
        case 1:
            return 2;
        case 2:
            return 4;
        case 3:
            return 3;
        default:
            return 0;
    }
}

struct sweep_geometry {
    int type;
    dscan sector;
};

// Sweep kind and sector of the task's scan mode; the sector counts the sweep's ray positions.
sweep_geometry geometry_of(const ingest_header &ih, int ray_positions) {
    const task_scan_info &scan = ih.tcf.scan;
    sweep_geometry g{SWEEP_MANUAL, {kNaN, kNaN, 0}};
    const dscan sector{0.0, scan.ires * M_PI / 180000.0, static_cast<uint64_t>(ray_positions)};
    switch (scan.imode) {
        case SCAN_PPI_SECTOR:
            g = {SWEEP_PPI, sector};
            g.sector.start = fPDegFromBin2(scan.istart) * kRadiansPerDegree;
            break;
        case SCAN_RHI_SECTOR:
            g = {SWEEP_RHI, sector};
            g.sector.start = fRadianFromBin2(scan.istart);
            break;
        case SCAN_PPI_FULL:
            g = {SWEEP_PPI, sector};
            break;
        case SCAN_RHI_FULL:
            g = {SWEEP_RHI, sector};
            break;
        default:
            break;
    }
    return g;
}

// Azimuths are read as angles from 0 to 360 degrees, elevations as signed angles.
double azimuth_radians(uint16_t code) {
    return fPDegFromBin2(code) * kRadiansPerDegree;
}

angle_interval azimuth_interval(uint16_t start, uint16_t stop) {
    return {azimuth_radians(start), azimuth_radians(iBin2NarrowMidPt(start, stop)),
            azimuth_radians(stop)};
}

angle_interval elevation_interval(uint16_t start, uint16_t stop) {
    return {fRadianFromBin2(start), fRadianFromBin2(iBin2NarrowMidPt(start, stop)),
            fRadianFromBin2(stop)};
}

bool is_data_block(const dblock *block) {
    return dblock_get_data_type(block) != RD_XHDR;
}

// A ray configuration from the header with one moment per data block, in block order; null
// when out of memory or when a moment does not land at its block's position.
radar_ray_conf *rayconf_with_moments(const ingest_header &ih, int count, dblock *const *blocks) {
    radar_ray_conf *rconf = rayconf_new_from_ingest_header(&ih);
    if (rconf == nullptr)
        return nullptr;
    dscan range_mask;
    get_range_mask(&range_mask, &ih.tcf);
    int index = 0;
    for (int i = 0; i < count; ++i) {
        if (!is_data_block(blocks[i]))
            continue;
        native_data_desc scale;
        if (dblock_get_scale(blocks[i], &ih, &scale) == nullptr ||
            rayconf_add_moment(rconf, dblock_get_data_type(blocks[i]), &range_mask, &scale) !=
                index) {
            rayconf_unref(rconf);
            return nullptr;
        }
        ++index;
    }
    return rconf;
}

// Whether an earlier sweep's configuration describes the same task and scan as this header.
bool same_task(const radar_sweep_conf *sconf, const sweep_geometry &g, const ingest_header &ih) {
    if (sweepconf_get_type(sconf) != g.type)
        return false;
    if (g.type != SWEEP_MANUAL) {
        dscan sector;
        sweepconf_get_sector(sconf, &sector);
        if (sector.start != g.sector.start || sector.step != g.sector.step ||
            sector.count != g.sector.count)
            return false;
    }
    char name[kTaskNameWidth + 1];
    char stored[kTaskNameWidth + 1] = {};
    if (sweepconf_get_string(sconf, kTaskNameKey, stored, kTaskNameWidth) == nullptr ||
        std::strcmp(stored, task_name(name, ih)) != 0)
        return false;
    return sweepconf_get_int(sconf, kMajorTaskKey) == ih.tcf.end.id_major &&
           sweepconf_get_int(sconf, kMinorTaskKey) == ih.tcf.end.id_minor &&
           sweepconf_get_rayconf_count(sconf) == 1;
}

// A new sweep configuration of the geometry carrying the task's keys.
radar_sweep_conf *new_task_sweepconf(const sweep_geometry &g, const ingest_header &ih) {
    radar_sweep_conf *sconf = g.type == SWEEP_PPI   ? sweepconf_new_ppi(&g.sector)
                              : g.type == SWEEP_RHI ? sweepconf_new_rhi(&g.sector)
                                                    : sweepconf_new_manual();
    if (sconf == nullptr)
        return nullptr;
    char name[kTaskNameWidth + 1];
    if (sweepconf_add_string(sconf, kTaskNameKey, task_name(name, ih)) != 0 ||
        sweepconf_add_int(sconf, kMajorTaskKey, ih.tcf.end.id_major) != 0 ||
        sweepconf_add_int(sconf, kMinorTaskKey, ih.tcf.end.id_minor) != 0 ||
        sweepconf_add_int(sconf, kHybridCountKey, ih.tcf.end.ihybrid) != 0 ||
        sweepconf_add_buf(sconf, kIngestHeaderKey, &ih, sizeof ih) != 0) {
        sweepconf_unref(sconf);
        return nullptr;
    }
    return sconf;
}

// Makes the shared pointer hold a reference on rconf.
void share_rayconf(radar_ray_conf **shared, radar_ray_conf *rconf) {
    if (*shared == rconf)
        return;
    rayconf_ref(rconf);
    if (*shared != nullptr)
        rayconf_unref(*shared);
    *shared = rconf;
}

// Settles the task's shared configurations for a sweep built from blocks; false when the sweep
// does not agree with them or when out of memory.
bool settle_configs(const ingest_header &ih, const sweep_geometry &g, radar_sweep_conf **sconf,
                    radar_ray_conf **rconf, int count, dblock *const *blocks) {
    radar_ray_conf *built = rayconf_with_moments(ih, count, blocks);
    if (built == nullptr)
        return false;
    if (*sconf != nullptr) {
        radar_ray_conf *listed =
            same_task(*sconf, g, ih) ? sweepconf_get_next_rayconf(*sconf, nullptr) : nullptr;
        const bool agrees = listed != nullptr && rayconf_compare(listed, built) != 0;
        rayconf_unref(built);
        if (agrees)
            share_rayconf(rconf, listed);
        return agrees;
    }
    radar_sweep_conf *created = new_task_sweepconf(g, ih);
    if (created == nullptr) {
        rayconf_unref(built);
        return false;
    }
    if (*rconf == nullptr) {
        *rconf = built;
    } else if (rayconf_compare(*rconf, built) == 0) {
        rayconf_unref(*rconf);
        *rconf = built;
    } else {
        rayconf_unref(built);
    }
    if (sweepconf_add_rayconf(created, *rconf) == nullptr) {
        sweepconf_unref(created);
        return false;
    }
    *sconf = created;
    return true;
}

// Fills the sweep with one ray per ray position that any block holds; false when a ray cannot
// be made or is longer than the range mask.
bool add_rays(radar_sweep *sweep, radar_ray_conf *rconf, const ingest_header &ih, int positions,
              int count, dblock *const *blocks) {
    dscan range_mask;
    get_range_mask(&range_mask, &ih.tcf);
    // Positions without a ray before a made one are held by null rays, so that every ray keeps
    // its own position; absent positions at the end add nothing.
    int absent = 0;
    for (int p = 0; p < positions; ++p) {
        radar_ray *ray = nullptr;
        int slot = 0;
        for (int i = 0; i < count; ++i) {
            if (!is_data_block(blocks[i]))
                continue;
            radar_ray_data view;
            const uint16_t *words = dblock_get_ingest_ray(blocks[i], p);
            if (words != nullptr && dblock_get_radar_ray_data(blocks[i], &view, p) != nullptr) {
                if (view.bins > range_mask.count) {
                    rray_delete(ray);
                    return false;
                }
                if (ray == nullptr) {
                    // The first block holding the position gives the ray its angles and time.
                    const angle_interval azimuth = azimuth_interval(words[0], words[2]);
                    const angle_interval elevation = elevation_interval(words[1], words[3]);
                    struct timeval time;
                    ymds2timeval(&time, &dblock_get_ihdr(blocks[i])->sweep_time, ih.icf.imin_west);
                    time.tv_sec += words[5];
                    ray = rray_new(rconf, &azimuth, &elevation, &time, nullptr, -1);
                    if (ray == nullptr)
                        return false;
                }
                if (rray_set_from_native(ray, slot, &view) != 0) {
                    rray_delete(ray);
                    return false;
                }
            }
            ++slot;
        }
        if (ray == nullptr) {
            ++absent;
            continue;
        }
        for (; absent > 0; --absent) {
            if (rsweep_add_ray(sweep, nullptr) < 0) {
                rray_delete(ray);
                return false;
            }
        }
        if (rsweep_add_ray(sweep, ray) < 0) {
            rray_delete(ray);
            return false;
        }
    }
    return true;
}

}  // namespace

namespace pvol_internal {

int task_data_types(const ingest_header &ih, int types[kTaskDataTypes],
                    int formats[kTaskDataTypes]) {
    int count = 0;
    for (int type = RD_ANY; type <= RD_HCLASS; ++type) {
        const raw_data_type_desc &row = raw_data_types[type + 1];
        PVOL_CHECK(row.type == type);
        int format = BITS_UNKNOWN;
        if (lDspMaskTest(&ih.tcf.dsp.mask, row.orva_code_8) != 0)
            format = BITS_8;
        else if (lDspMaskTest(&ih.tcf.dsp.mask, row.orva_code_16) != 0)
            format = BITS_16;
        if (format == BITS_UNKNOWN)
            continue;
        types[count] = type;
        formats[count] = format;
        ++count;
    }
    return count;
}

bool continue_hybrid(const ingest_header &previous, const ingest_header &next,
                     int *schedule_offset) {
    if (next.tcf.end.id_major != previous.tcf.end.id_major ||
        next.tcf.end.id_minor < previous.tcf.end.id_minor)
        return false;
    if (next.tcf.end.id_minor > previous.tcf.end.id_minor)
        *schedule_offset += previous.tcf.scan.isweeps;
    return true;
}

void report(pvol_message_callback message, const char *format, ...) {
    if (message == nullptr)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    message(text);
}

void shared_configs::reset() {
    if (sweep != nullptr)
        sweepconf_unref(sweep);
    if (ray != nullptr)
        rayconf_unref(ray);
    sweep = nullptr;
    ray = nullptr;
}

}  // namespace pvol_internal

// ---------------------------------------------------------------------------------------------
// Default ingest io

struct default_ingest_io {
    std::vector<std::string> base_names;  // each ends in a full stop
};

namespace {

FILE *open_ingest_file(void *arg, int data_type, int bin_format, int sweep_index, int task_index,
                       const char *mode) {
    const auto *io = static_cast<const default_ingest_io *>(arg);
    if (io == nullptr)
        return nullptr;
    const size_t task = task_index < 0 ? 0 : static_cast<size_t>(task_index);
    if (task >= io->base_names.size())
        return nullptr;
    const std::string &base = io->base_names[task];
    if (data_type == 0)
        return std::fopen(base.c_str(), mode);
    const char *suffix = raw_data_suffix(data_type, bin_format);
    if (suffix == nullptr)
        return nullptr;
    return pvol_boundary::no_throw(nullptr, [&] {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", sweep_index + 1);
        const std::string name = base + number + suffix;
        return std::fopen(name.c_str(), mode);
    });
}

}  // namespace

extern "C" {

default_ingest_io *default_ingest_io_new(const char *base_name) {
    return default_ingest_io_new_hybrid(&base_name, 1);
}

default_ingest_io *default_ingest_io_new_hybrid(const char *const *base_names, int count) {
    if (base_names == nullptr || count < 0)
        return nullptr;
    return pvol_boundary::no_throw(nullptr, [&]() -> default_ingest_io * {
        auto io = std::make_unique<default_ingest_io>();
        for (int i = 0; i < count; ++i) {
            if (base_names[i] == nullptr)
                return nullptr;
            std::string name = base_names[i];
            if (name.empty() || name.back() != '.')
                name += '.';
            io->base_names.push_back(std::move(name));
        }
        return io.release();
    });
}

void default_ingest_io_delete(default_ingest_io *io) {
    delete io;
}

FILE *default_ingest_input(void *io, int data_type, int bin_format, int sweep_index,
                           int task_index) {
    return open_ingest_file(io, data_type, bin_format, sweep_index, task_index, "rb");
}

FILE *default_ingest_output(void *io, int data_type, int bin_format, int sweep_index,
                            int task_index) {
    return open_ingest_file(io, data_type, bin_format, sweep_index, task_index, "wb");
}

const char *raw_data_suffix(int data_type, int bin_format) {
    if (data_type < RD_XHDR || data_type > RD_HCLASS)
        return nullptr;
    const raw_data_type_desc &row = raw_data_types[data_type + 1];
    switch (bin_format) {
        case BITS_8:
            return row.name_8;
        case BITS_16:
            return row.name_16;
        default:
            return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Scan, ray configuration and sweeps from ingest data

radar_scan *pvol_new_from_ingest_header(const ingest_header *ih, pvol_message_callback) {
    PVOL_CHECK(ih != nullptr);
    if (ih->hdr.id != ST_INGEST_HDR)
        return nullptr;
    const ingest_configuration &icf = ih->icf;
    rposition_fixed fixed;
    fixed.latitude = fRadianFromBin4(icf.ilat);
    fixed.longitude = fRadianFromBin4(icf.ilon);
    fixed.ground_height = icf.iground_hgt;
    // The antenna altitude in cm is trusted only when it agrees with ground and antenna height.
    const int64_t deviation =
        int64_t{icf.ialt_cm} - (int64_t{icf.iradar_hgt} + int64_t{icf.iground_hgt}) * 100;
    fixed.altitude = deviation >= -99 && deviation <= 99 ? icf.ialt_cm / 100.0 : icf.iground_hgt;

    char name[sizeof ih->tcf.end.task_name + 1];
    char info[sizeof ih->tcf.end.task_info + 1];
    char site[sizeof icf.site_name + 1];
    fstr2cstr(name, ih->tcf.end.task_name, sizeof ih->tcf.end.task_name);
    fstr2cstr(info, ih->tcf.end.task_info, sizeof ih->tcf.end.task_info);
    fstr2cstr(site, icf.site_name, sizeof icf.site_name);
    radar_scan *scan = pvol_new(name, info, site, nullptr, RPOSITION_FIXED, &fixed);
    if (scan == nullptr)
        return nullptr;
    struct timeval time;
    ymds2timeval(&time, &icf.vol_time, icf.imin_west);
    pvol_set_time_stamp(scan, &time);
    return scan;
}

radar_ray_conf *rayconf_new_from_ingest_header(const ingest_header *ih) {
    PVOL_CHECK(ih != nullptr);
    const task_dsp_info &dsp = ih->tcf.dsp;
    const task_misc_info &misc = ih->tcf.misc;
    const bool has_prf = dsp.iprf > 0;
    const bool has_wavelength = misc.iwavelength > 0;
    const double prf = has_prf ? dsp.iprf : kNaN;
    const double rf_freq = has_wavelength ? 2.997925e12 / misc.iwavelength : kNaN;
    const double nyquist =
        has_prf && has_wavelength
            ? fNyquistVelocity(dsp.iprf, dsp.itrig_rate, misc.iwavelength, misc.ipolarization)
            : kNaN;
    const double max_range = has_prf ? kSpeedOfLightKmPerS / (2.0 * dsp.iprf) : kNaN;
    const double pulse_width = dsp.ipulse_width > 0 ? dsp.ipulse_width * 1e-8 : kNaN;
    return rayconf_new(prf, rf_freq, nyquist, max_range, pulse_width, dsp.isamples,
                       ih->tcf.cal.iradar_const / 100.0, ih->tcf.cal.ical_ref / 16.0,
                       fGasAttenFromCode16(static_cast<uint16_t>(dsp.igas_atten)),
                       tx_polarization(misc.ipolarization));
}

dscan *get_range_mask(dscan *out, const task_configuration *tcf) {
    PVOL_CHECK(out != nullptr);
    PVOL_CHECK(tcf != nullptr);
    out->start = tcf->rng.irange_first / 100.0;
    out->step = tcf->rng.istep_out / 100.0;
    out->count = tcf->rng.ibins_out > 0 ? static_cast<uint64_t>(tcf->rng.ibins_out) : 0;
    return out;
}

radar_sweep *rsweep_new_from_blocks(const ingest_header *ih, radar_sweep_conf **sconf,
                                    radar_ray_conf **rconf, int count, dblock *const *blocks) {
    PVOL_CHECK(ih != nullptr);
    PVOL_CHECK(sconf != nullptr);
    PVOL_CHECK(rconf != nullptr);
    if (count <= 0 || blocks == nullptr)
        return nullptr;
    const int positions = dblock_get_ray_count(blocks[0]);
    if (positions <= 0)
        return nullptr;
    bool any_data = false;
    for (int i = 0; i < count; ++i) {
        PVOL_CHECK(blocks[i] != nullptr);
        if (dblock_get_ray_count(blocks[i]) != positions)
            return nullptr;
        any_data = any_data || is_data_block(blocks[i]);
    }
    if (!any_data)
        return nullptr;

    const sweep_geometry g = geometry_of(*ih, positions);
    if (!settle_configs(*ih, g, sconf, rconf, count, blocks))
        return nullptr;
    radar_sweep *sweep = rsweep_new(*sconf);
    if (sweep == nullptr)
        return nullptr;
    if (!add_rays(sweep, *rconf, *ih, positions, count, blocks)) {
        rsweep_delete(sweep);
        return nullptr;
    }

    const IDhdr *first = dblock_get_ihdr(blocks[0]);
    struct timeval time;
    ymds2timeval(&time, &first->sweep_time, ih->icf.imin_west);
    rsweep_set_time(sweep, &time);
    // The fixed angle is the elevation of a PPI and the azimuth of an RHI.
    if (g.type == SWEEP_PPI)
        rsweep_set_fixed_angle(sweep, fRadianFromBin2(first->ifixed_angle));
    else if (g.type == SWEEP_RHI)
        rsweep_set_fixed_angle(sweep, azimuth_radians(first->ifixed_angle));
    rsweep_set_schedule_index(sweep, dblock_get_schedule_index(blocks[0]));
    return sweep;
}

}  // extern "C"

// ---------------------------------------------------------------------------------------------
// Ingest reader

namespace {

using pvol_internal::kTaskDataTypes;

class ingest_reader {
  public:
    ingest_reader(void *arg, ingest_file_callback input, pvol_message_callback message)
        : arg_(arg), input_(input), message_(message) {}
    ~ingest_reader() {
        release_blocks();
        std::free(buffer_);
    }
    ingest_reader(const ingest_reader &) = delete;
    ingest_reader &operator=(const ingest_reader &) = delete;

    radar_scan *read();

  private:
    bool read_task(radar_scan *scan, ingest_header &ih, int task, int schedule_offset);
    dblock *load_block(FILE *file, int sweep_number, const char *suffix);
    bool reserve(size_t size);
    void release_blocks();

    void *arg_;
    ingest_file_callback input_;
    pvol_message_callback message_;
    unsigned char *buffer_ = nullptr;
    size_t capacity_ = 0;
    dblock *blocks_[kTaskDataTypes] = {};
    int block_count_ = 0;
};

constexpr size_t kInitialBuffer = IDHDR_SIZE + 8;

radar_scan *ingest_reader::read() {
    if (!reserve(kInitialBuffer))
        return nullptr;
    ScanHandle scan;
    ingest_header previous{};
    ingest_header ih{};
    int schedule_offset = 0;
    bool any_header_file = false;
    bool any_header = false;
    for (int task = 0;; ++task) {
        FILE *file = input_(arg_, 0, 0, 0, task);
        if (file == nullptr)
            break;
        any_header_file = true;
        const size_t got = std::fread(&ih, 1, sizeof ih, file);
        std::fclose(file);
        if (got != sizeof ih) {
            report(message_, "Ingest header file of task %d is too short.\n", task);
            break;
        }
        if (!scan) {
            scan.reset(pvol_new_from_ingest_header(&ih, message_));
            if (!scan) {
                report(message_, "Ingest header file of task %d is not an ingest header.\n", task);
                return nullptr;
            }
        } else if (!pvol_internal::continue_hybrid(previous, ih, &schedule_offset)) {
            report(message_, "Ingest header of task %d does not continue the hybrid task.\n", task);
            return nullptr;
        }
        // A negative count would move the schedule of the later tasks backwards.
        if (ih.tcf.scan.isweeps < 0) {
            report(message_, "Ingest header of task %d has a negative sweep count (%d).\n", task,
                   ih.tcf.scan.isweeps);
            return nullptr;
        }
        if (!read_task(scan.get(), ih, task, schedule_offset))
            return nullptr;
        previous = ih;
        any_header = true;
    }
    if (!any_header_file)
        report(message_, "No input files found.\n");
    if (scan && any_header)
        pvol_set_scheduled_sweeps(scan.get(), schedule_offset + previous.tcf.scan.isweeps);
    return scan.release();
}

bool ingest_reader::read_task(radar_scan *scan, ingest_header &ih, int task, int schedule_offset) {
    int types[kTaskDataTypes];
    int formats[kTaskDataTypes];
    const int type_count = pvol_internal::task_data_types(ih, types, formats);
    pvol_internal::shared_configs shared;
    for (int m = 0; m < ih.icf.isweeps_done; ++m) {
        for (int k = 0; k < type_count; ++k) {
            const char *suffix = raw_data_suffix(types[k], formats[k]);
            FileHandle file(input_(arg_, types[k], formats[k], m, task));
            if (file == nullptr) {
                report(message_, "Missing ingest file, sweep=%d, dtype=%s.\n", m + 1, suffix);
                return false;
            }
            dblock *block = load_block(file.get(), m + 1, suffix);
            file.reset();
            if (block == nullptr)
                return false;
            blocks_[block_count_++] = block;
        }
        radar_sweep *sweep =
            rsweep_new_from_blocks(&ih, &shared.sweep, &shared.ray, block_count_, blocks_);
        release_blocks();
        if (sweep == nullptr) {
            report(message_, "Sweep %d of task %d cannot be built from its ingest files.\n", m + 1,
                   task);
            return false;
        }
        if (schedule_offset != 0)
            rsweep_set_schedule_index(sweep, rsweep_get_schedule_index(sweep) + schedule_offset);
        if (pvol_add_sweep(scan, sweep) == nullptr) {
            report(message_, "Error in pvol_add_sweep().\n");
            rsweep_delete(sweep);
        }
    }
    return true;
}

// Reads the whole data file and makes a block of it.
dblock *ingest_reader::load_block(FILE *file, int sweep_number, const char *suffix) {
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
        !reserve(static_cast<size_t>(st.st_size) + 1))
        return nullptr;
    size_t total = 0;
    for (;;) {
        if (total == capacity_ && !reserve(2 * capacity_))
            return nullptr;
        const size_t got = std::fread(buffer_ + total, 1, capacity_ - total, file);
        total += got;
        if (total < capacity_)
            break;
    }
    if (std::ferror(file) != 0) {
        report(message_, "Ingest file for sweep=%d, dtype=%s cannot be read.\n", sweep_number,
               suffix);
        return nullptr;
    }
    IDhdr header;
    if (total < sizeof header) {
        report(message_, "Ingest file for sweep=%d, dtype=%s is too short.\n", sweep_number,
               suffix);
        return nullptr;
    }
    std::memcpy(&header, buffer_, sizeof header);
    if (header.hdr.ibytes < 0 || static_cast<size_t>(header.hdr.ibytes) != total) {
        report(message_,
               "Ingest file for sweep=%d, dtype=%s holds %zu bytes, its data header counts %d.\n",
               sweep_number, suffix, total, header.hdr.ibytes);
        return nullptr;
    }
    dblock *block = dblock_new_from_ihdr(&header, buffer_ + sizeof header, total - sizeof header);
    if (block == nullptr)
        report(message_, "Ingest file for sweep=%d, dtype=%s holds malformed data.\n", sweep_number,
               suffix);
    return block;
}

bool ingest_reader::reserve(size_t size) {
    if (size <= capacity_)
        return true;
    auto *grown = static_cast<unsigned char *>(std::realloc(buffer_, size));
    if (grown == nullptr) {
        report(message_, "realloc() failed\n");
        return false;
    }
    buffer_ = grown;
    capacity_ = size;
    return true;
}

void ingest_reader::release_blocks() {
    for (int i = 0; i < block_count_; ++i)
        dblock_delete(blocks_[i]);
    block_count_ = 0;
}

}  // namespace

extern "C" radar_scan *pvol_new_from_ingest(void *arg, ingest_file_callback input,
                                            pvol_message_callback message) {
    if (input == nullptr) {
        report(message, "No input files found.\n");
        return nullptr;
    }
    return pvol_boundary::no_throw(nullptr, message, nullptr, [&] {
        ingest_reader reader(arg, input, message);
        return reader.read();
    });
}
