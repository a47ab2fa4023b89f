// Data scans: the tasks of a scan as the RAW writer lays them out, one data block per sweep and
// moment with the rays converted to ingest rays.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "data_block_internal.h"
#include "orva_header_ops.h"
#include "pvol_boundary.h"
#include "pvol_check.h"
#include "pvol_prod_io_internal.h"
#include "pvol_handles.h"
#include "pvol_save_internal.h"
#include "radar_utils_internal.h"

namespace {

using pvol_internal::round_half_up_to_int;

constexpr const char *kIngestHeaderKey = "ORVA Sweep Ingest Header";
constexpr size_t kTaskNameWidth = 12;
constexpr size_t kSuffixedNameLength = 10;  // room for "_A" within the task name

void delete_blocks(std::vector<dblock *> &blocks) {
    for (dblock *block : blocks)
        dblock_delete(block);
    blocks.clear();
}

bool mask_is_empty(const dsp_data_mask &mask) {
    static const dsp_data_mask kEmpty{};
    return std::memcmp(&mask, &kEmpty, sizeof mask) == 0;
}

uint16_t ray_seconds(const radar_ray *ray, const timeval &sweep_time) {
    timeval time;
    rray_get_time(ray, &time);
    const int64_t seconds = static_cast<int64_t>(time.tv_sec) - sweep_time.tv_sec;
    return static_cast<uint16_t>(std::clamp<int64_t>(seconds, 0, UINT16_MAX));
}

// How one moment's bins reach its block.
struct MomentCopy {
    dscan mask;      // the moment's own range mask
    bool native;     // the moment's scale is the block's: copy codes
    bool same_mask;  // the moment's mask is the merged one: copy all bins at once
    int orva_code;   // the block's data type code
};

class RayWriter {
  public:
    RayWriter(const data_scan &ds, const radar_sweep *sweep, const dscan &merged)
        : ds_(ds), sweep_(sweep), merged_(merged), buffer_(radar_ray_data_new()) {
        ingest_data_convert(&conv_, &ds.ih);
        rsweep_get_time(sweep, &sweep_time_);
        bytes_per_bin_ = ds.bin_format == BITS_8 ? 1 : 2;
        const size_t even_bins = merged.count + merged.count % 2;
        words_.resize(RAY_HEADER_WORDS + even_bins * bytes_per_bin_ / 2);
    }

    // Fills every block with the sweep's rays. False when out of memory.
    bool fill(const radar_ray_conf *rconf, const std::vector<dblock *> &blocks) {
        if (buffer_ == nullptr)
            return false;
        std::vector<MomentCopy> copies(blocks.size());
        for (size_t m = 0; m < blocks.size(); ++m) {
            const radar_moment *moment = rayconf_get_moment(rconf, static_cast<int>(m));
            native_data_desc moment_scale;
            native_data_desc block_scale;
            rmoment_get_scale(moment, &moment_scale);
            dblock_get_scale(blocks[m], &ds_.ih, &block_scale);
            rmoment_get_range_mask(moment, &copies[m].mask);
            copies[m].native = native_data_desc_compare(&moment_scale, &block_scale) == 0;
            copies[m].same_mask = dscan_compare(&copies[m].mask, &merged_) == 0;
            copies[m].orva_code = dblock_get_ihdr(blocks[m])->idata_type;
        }
        const int positions = dblock_get_ray_count(blocks.front());
        for (int p = 0; p < positions; ++p) {
            const radar_ray *ray = rsweep_get_ray(sweep_, p);
            for (size_t m = 0; m < blocks.size(); ++m) {
                if (ray != nullptr && !fill_ray(ray, static_cast<int>(m), copies[m]))
                    return false;
                const int added =
                    ray != nullptr ? dblock_add_ingest_ray(blocks[m], words_.data(), words_.size())
                                   : dblock_add_ingest_ray(blocks[m], nullptr, 0);
                if (added != DBLOCK_ADDED)
                    return false;
            }
        }
        return true;
    }

  private:
    bool fill_ray(const radar_ray *ray, int slot, const MomentCopy &copy) {
        const angle_interval azimuth = rray_get_azimuth(ray);
        const angle_interval elevation = rray_get_elevation(ray);
        words_[0] = static_cast<uint16_t>(iBin2FromRadian(azimuth.start));
        words_[1] = static_cast<uint16_t>(iBin2FromRadian(elevation.start));
        words_[2] = static_cast<uint16_t>(iBin2FromRadian(azimuth.stop));
        words_[3] = static_cast<uint16_t>(iBin2FromRadian(elevation.stop));
        words_[4] = static_cast<uint16_t>(merged_.count);
        words_[5] = ray_seconds(ray, sweep_time_);
        std::fill(words_.begin() + RAY_HEADER_WORDS, words_.end(), 0);
        auto *bins = reinterpret_cast<unsigned char *>(words_.data() + RAY_HEADER_WORDS);
        // Bins outside the moment's own range mask keep code 0, the blocks' not_scanned code.
        if (copy.native) {
            const radar_ray_data *codes = rray_get_native(ray, slot, buffer_.get());
            if (codes == nullptr)
                return true;
            const auto *source = static_cast<const unsigned char *>(codes->data);
            if (copy.same_mask) {
                std::memcpy(bins, source, std::min(codes->bins, merged_.count) * bytes_per_bin_);
                return true;
            }
            for (uint64_t k = 0; k < merged_.count; ++k) {
                const int64_t pos = source_position(copy, k, codes->bins);
                if (pos >= 0)
                    std::memcpy(bins + k * bytes_per_bin_, source + pos * bytes_per_bin_,
                                bytes_per_bin_);
            }
            return true;
        }
        const radar_ray_data *values = rray_get_dat(ray, slot, buffer_.get());
        if (values == nullptr)
            return true;
        const auto *value = static_cast<const double *>(values->data);
        for (uint64_t k = 0; k < merged_.count; ++k) {
            const int64_t pos = source_position(copy, k, values->bins);
            if (pos < 0 || !std::isfinite(value[pos]))
                continue;
            const uint16_t code = iuser_to_data(value[pos], copy.orva_code, &conv_);
            if (bytes_per_bin_ == 1)
                bins[k] = static_cast<unsigned char>(code);
            else
                std::memcpy(bins + 2 * k, &code, 2);
        }
        return true;
    }

    // Position within the moment's bins of merged bin k, -1 outside them.
    int64_t source_position(const MomentCopy &copy, uint64_t k, uint64_t bins) const {
        if (copy.same_mask)
            return k < bins ? static_cast<int64_t>(k) : -1;
        const int pos = dscan_get_pos(&copy.mask, dscan_get_val(&merged_, static_cast<int>(k)));
        if (pos < 0 || static_cast<uint64_t>(pos) >= copy.mask.count ||
            static_cast<uint64_t>(pos) >= bins)
            return -1;
        return pos;
    }

    const data_scan &ds_;
    const radar_sweep *sweep_;
    const dscan merged_;
    RayDataHandle buffer_;
    data_convert conv_;
    timeval sweep_time_;
    size_t bytes_per_bin_;
    std::vector<uint16_t> words_;
};

// The sweep's empty blocks, one per moment; false when a moment has no block form or memory
// runs out.
bool new_blocks(const data_scan &ds, const radar_sweep *sweep, const radar_ray_conf *rconf,
                std::vector<dblock *> &blocks) {
    const auto moments = static_cast<int>(rayconf_get_moments_count(rconf));
    for (int m = 0; m < moments; ++m) {
        dblock *block = dblock_new_from_sweep(sweep, rayconf_get_moment(rconf, m), ds.bin_format);
        if (block == nullptr)
            return false;
        blocks.push_back(block);
        IDhdr header = *dblock_get_ihdr(block);
        if (ds.schedule_offset == 0)
            continue;
        // A reader adds the offset back on; a sweep number it cannot give back is never stored.
        if (header.isweep - 1 < ds.schedule_offset)
            return false;
        header.isweep = static_cast<int16_t>(header.isweep - ds.schedule_offset);
        blocks.back() = dblock_new_from_ihdr(&header, nullptr, 0);
        dblock_delete(block);
        if (blocks.back() == nullptr) {
            blocks.pop_back();
            return false;
        }
    }
    return true;
}

// Truncation toward zero; NaN and values beyond the range of int give 0.
int truncate_to_int(double value) {
    return std::fabs(value) < 2147483647.0 ? static_cast<int>(value) : 0;
}

void set_position(ingest_header *ih, const rposition *position) {
    ingest_configuration &icf = ih->icf;
    if (rposition_get_type(position) == RPOSITION_MOVING) {
        rposition_nav nav;
        if (rposition_get_nav(position, 0, &nav) == nullptr)
            return;
        icf.ilat = iBin4FromRadian(nav.latitude);
        icf.ilon = iBin4FromRadian(nav.longitude);
        icf.ialt_cm = round_half_up_to_int(100 * nav.altitude);
        icf.iground_hgt = static_cast<int16_t>(round_half_up_to_int(nav.altitude));
        icf.iradar_hgt = 0;
        return;
    }
    rposition_fixed fixed;
    if (rposition_get_fixed(position, &fixed) == nullptr)
        return;
    icf.ilat = iBin4FromRadian(fixed.latitude);
    icf.ilon = iBin4FromRadian(fixed.longitude);
    icf.ialt_cm = round_half_up_to_int(100 * fixed.altitude);
    icf.iground_hgt = static_cast<int16_t>(round_half_up_to_int(fixed.ground_height));
    icf.iradar_hgt =
        static_cast<int16_t>(round_half_up_to_int(fixed.altitude - fixed.ground_height));
}

}  // namespace

bool sweep_is_writable(const radar_sweep *sweep) {
    const radar_sweep_conf *sconf = rsweep_get_config(sweep);
    if (sweepconf_get_rayconf_count(sconf) != 1)
        return false;
    const radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    const uint64_t moments = rayconf_get_moments_count(rconf);
    if (moments == 0)
        return false;
    bool seen[MAX_RD] = {};
    for (uint64_t i = 0; i < moments; ++i) {
        const int type = rmoment_get_raw_type(rayconf_get_moment(rconf, static_cast<int>(i)));
        if (type < RD_DBT || type > RD_HCLASS || seen[type])
            return false;
        seen[type] = true;
    }
    const uint64_t positions = sweep_ray_positions(sweep);
    return positions > 0 && positions <= INT16_MAX;
}

std::vector<const radar_sweep *> writable_sweeps_in_time_order(const radar_scan *scan) {
    struct TimedSweep {
        timeval time;
        const radar_sweep *sweep;
    };
    std::vector<TimedSweep> timed;
    for (const radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s != nullptr;
         s = pvol_get_next_sweep(scan, s)) {
        if (!sweep_is_writable(s))
            continue;
        TimedSweep &entry = timed.emplace_back(TimedSweep{{}, s});
        rsweep_get_time(s, &entry.time);
    }
    std::stable_sort(timed.begin(), timed.end(), [](const TimedSweep &a, const TimedSweep &b) {
        return a.time.tv_sec != b.time.tv_sec ? a.time.tv_sec < b.time.tv_sec
                                              : a.time.tv_usec < b.time.tv_usec;
    });
    std::vector<const radar_sweep *> sweeps;
    sweeps.reserve(timed.size());
    for (const TimedSweep &entry : timed)
        sweeps.push_back(entry.sweep);
    return sweeps;
}

namespace {

using pvol_internal::report;

// Thrown once the reason of a refusal has gone to the message callback.
struct refused {};

// Refuses a sweep of a PPI or RHI configuration that holds a ray beyond its sector's count: the
// files have room for the sector's rays only. number counts the scan's sweeps from 1.
void check_rays_within_sector(const radar_sweep *sweep, int number, pvol_message_callback message) {
    const uint64_t positions = sweep_ray_positions(sweep);
    const uint64_t rays = rsweep_get_ray_count(sweep);
    for (uint64_t r = positions; r < rays; ++r) {
        if (rsweep_get_ray(sweep, static_cast<int>(r)) == nullptr)
            continue;
        report(message,
               "Sweep %d (schedule index %d) holds %llu rays, more than the %llu of its "
               "sector.\n",
               number, rsweep_get_schedule_index(sweep), static_cast<unsigned long long>(rays),
               static_cast<unsigned long long>(positions));
        throw refused{};
    }
}

// The writable sweeps in time order, cut into runs of one sweep configuration: the tasks.
std::vector<std::vector<const radar_sweep *>> tasks_of(const radar_scan *scan,
                                                       pvol_message_callback message) {
    int number = 0;
    for (const radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s != nullptr;
         s = pvol_get_next_sweep(scan, s)) {
        ++number;
        if (sweep_is_writable(s))
            check_rays_within_sector(s, number, message);
    }
    std::vector<std::vector<const radar_sweep *>> tasks;
    for (const radar_sweep *sweep : writable_sweeps_in_time_order(scan)) {
        if (tasks.empty() || rsweep_get_config(tasks.back().front()) != rsweep_get_config(sweep))
            tasks.emplace_back();
        tasks.back().push_back(sweep);
    }
    if (tasks.empty()) {
        report(message, "The scan has no sweep that a RAW product can hold.\n");
        throw refused{};
    }
    if (tasks.size() > RAW_MAX_TASKS) {
        report(message, "The scan forms %zu tasks; a RAW volume holds at most %d.\n", tasks.size(),
               RAW_MAX_TASKS);
        throw refused{};
    }
    for (size_t k = 0; k < tasks.size(); ++k) {
        if (tasks[k].size() > TASK_MAX_SWEEP_ANGLES) {
            report(message, "Task %zu has %zu sweeps; a task holds at most %d.\n", k + 1,
                   tasks[k].size(), TASK_MAX_SWEEP_ANGLES);
            throw refused{};
        }
    }
    return tasks;
}

// Task identifiers and schedule offsets of the tasks in time order. The files of one volume share
// the major identifier. A reader adds the previous task's sweep count to the schedule whenever the
// minor identifier rises and never takes anything off, so a task takes a higher minor identifier
// only when no later sweep's schedule index falls below the offset that gives; otherwise it keeps
// the previous task's identifier, and every schedule index reads back as it was.
void plan_task_identifiers(std::vector<data_scan *> &scans,
                           const std::vector<std::vector<const radar_sweep *>> &tasks) {
    const size_t count = tasks.size();
    std::vector<int> lowest_from(count + 1, INT_MAX);  // lowest schedule index of tasks k onwards
    for (size_t k = count; k-- > 0;) {
        lowest_from[k] = lowest_from[k + 1];
        for (const radar_sweep *sweep : tasks[k])
            lowest_from[k] = std::min(lowest_from[k], rsweep_get_schedule_index(sweep));
    }
    std::vector<int16_t> own_minor(count);
    for (size_t k = 0; k < count; ++k)
        own_minor[k] = scans[k]->ih.tcf.end.id_minor;
    for (size_t k = 1; k < count; ++k) {
        data_scan &ds = *scans[k];
        const data_scan &previous = *scans[k - 1];
        ds.ih.tcf.end.id_major = previous.ih.tcf.end.id_major;
        const int16_t previous_minor = previous.ih.tcf.end.id_minor;
        const int rising_offset = previous.schedule_offset + static_cast<int>(tasks[k - 1].size());
        if (own_minor[k] != own_minor[k - 1] && previous_minor < INT16_MAX &&
            rising_offset <= lowest_from[k]) {
            ds.ih.tcf.end.id_minor =
                std::max(own_minor[k], static_cast<int16_t>(previous_minor + 1));
            ds.schedule_offset = rising_offset;
        } else {
            ds.ih.tcf.end.id_minor = previous_minor;
            ds.schedule_offset = previous.schedule_offset;
        }
    }
}

}  // namespace

data_scan_group *data_scan_group_build(const radar_scan *scan, int bin_format,
                                       pvol_message_callback message) {
    if (bin_format != BITS_8 && bin_format != BITS_16)
        return nullptr;
    auto *group = new (std::nothrow) data_scan_group{};
    if (group == nullptr)
        return nullptr;
    try {
        const auto tasks = tasks_of(scan, message);
        auto &scans = group->scans;
        scans.reserve(tasks.size());
        for (const auto &task : tasks) {
            data_scan *ds = data_scan_new(task.front(), bin_format);
            if (ds == nullptr)
                throw std::bad_alloc();
            scans.push_back(ds);
        }
        plan_task_identifiers(scans, tasks);
        for (size_t k = 0; k < tasks.size(); ++k) {
            for (const radar_sweep *sweep : tasks[k]) {
                if (data_scan_add_sweep(scans[k], sweep) == 0)
                    continue;
                dscan merged;
                rayconf_merged_range_mask(
                    sweepconf_get_next_rayconf(rsweep_get_config(sweep), nullptr), &merged);
                if (merged.count > RAW_MAX_BINS)
                    report(message,
                           "Sweep of schedule index %d has %llu bins along its rays; a RAW "
                           "product holds at most %d.\n",
                           rsweep_get_schedule_index(sweep),
                           static_cast<unsigned long long>(merged.count), RAW_MAX_BINS);
                else
                    report(message, "Sweep of schedule index %d cannot be written.\n",
                           rsweep_get_schedule_index(sweep));
                throw refused{};
            }
        }
        const int count = static_cast<int>(scans.size());
        for (int k = 0; k < count; ++k)
            data_scan_finalize(scans[k], scan, count == 1 ? -1 : k);
        return group;
    } catch (const refused &) {
    } catch (const std::bad_alloc &) {
        report(message, "Out of memory while laying out the scan.\n");
    }
    data_scan_group_delete(group);
    return nullptr;
}

extern "C" {

data_scan *data_scan_new(const radar_sweep *first_sweep, int bin_format) {
    PVOL_CHECK(first_sweep != nullptr);
    radar_sweep_conf *sconf = rsweep_get_config(first_sweep);
    PVOL_CHECK(sweepconf_get_rayconf_count(sconf) == 1);
    if (bin_format != BITS_8 && bin_format != BITS_16)
        return nullptr;
    auto *ds = new (std::nothrow) data_scan{};
    if (ds == nullptr)
        return nullptr;
    ds->bin_format = bin_format;
    rsweep_get_time(first_sweep, &ds->first_time);

    // The header the reader kept carries the task's fields this model has no place for.
    __ingest_header_set_defaults(&ds->ih);
    if (sweepconf_is_defined(sconf, kIngestHeaderKey)) {
        uint64_t length = sizeof ds->ih;
        sweepconf_get_buf(sconf, kIngestHeaderKey, &ds->ih, &length);
    }
    const radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    __ingest_header_set(&ds->ih, bin_format, first_sweep, rconf);
    // The mask announces only what the file holds, and no extended header is written.
    DspMaskClear(&ds->ih.tcf.dsp.mask, DATA_TYPE_XHDR);
    // A reader takes an empty second mask as a copy of the first; writing the copy keeps a
    // header read back from the file identical to the one written.
    if (mask_is_empty(ds->ih.tcf.dsp.mask_orig))
        ds->ih.tcf.dsp.mask_orig = ds->ih.tcf.dsp.mask;

    const uint64_t moments = rayconf_get_moments_count(rconf);
    ds->moment_count = static_cast<int>(std::min<uint64_t>(moments, MAX_RD));
    for (int m = 0; m < ds->moment_count; ++m)
        ds->raw_types[m] = rmoment_get_raw_type(rayconf_get_moment(rconf, m));
    ds->sconf = sweepconf_ref(sconf);
    return ds;
}

int data_scan_add_sweep(data_scan *ds, const radar_sweep *sweep) {
    PVOL_CHECK(ds != nullptr);
    PVOL_CHECK(sweep != nullptr);
    PVOL_CHECK(rsweep_get_config(sweep) == ds->sconf);
    PVOL_CHECK(sweepconf_get_rayconf_count(ds->sconf) == 1);
    const int index = static_cast<int>(ds->sweeps.size());
    if (index >= TASK_MAX_SWEEP_ANGLES)
        return 1;
    const radar_ray_conf *rconf = sweepconf_get_next_rayconf(ds->sconf, nullptr);
    dscan merged;
    rayconf_merged_range_mask(rconf, &merged);
    if (merged.count > RAW_MAX_BINS)
        return 1;

    std::vector<dblock *> blocks;
    const bool added = pvol_boundary::no_throw(false, [&] {
        RayWriter writer(*ds, sweep, merged);
        if (!new_blocks(*ds, sweep, rconf, blocks) || !writer.fill(rconf, blocks))
            return false;
        ds->sweeps.push_back(blocks);
        return true;
    });
    if (!added) {  // the blocks are still this call's
        delete_blocks(blocks);
        return 1;
    }
    ingest_header_update(&ds->ih, sweep, index);
    return 0;
}

int data_scan_finalize(data_scan *ds, const radar_scan *scan, int group_index) {
    PVOL_CHECK(ds != nullptr);
    PVOL_CHECK(scan != nullptr);
    PVOL_CHECK(group_index >= -1 && group_index < RAW_MAX_TASKS);
    ingest_header &ih = ds->ih;

    char name[kTaskNameWidth + 1] = {};
    pvol_get_name(scan, name, kTaskNameWidth);
    if (group_index >= 0) {
        name[kSuffixedNameLength] = '\0';
        const char suffix[] = {'_', static_cast<char>('A' + group_index), '\0'};
        std::strcat(name, suffix);
    }
    cstr2fstr(ih.tcf.end.task_name, name, sizeof ih.tcf.end.task_name);

    char site[sizeof ih.icf.site_name + 1] = {};
    pvol_get_site_name(scan, site, sizeof ih.icf.site_name);
    cstr2fstr(ih.icf.site_name, site, sizeof ih.icf.site_name);
    cstr2fstr(ih.icf.hw_name, site, sizeof ih.icf.hw_name);
    char info[sizeof ih.tcf.end.task_info + 1] = {};
    pvol_get_info(scan, info, sizeof ih.tcf.end.task_info);
    cstr2fstr(ih.tcf.end.task_info, info, sizeof ih.tcf.end.task_info);

    if (pvol_is_defined(scan, "ORVA Scan Local Time Offset"))
        ih.icf.itz_offset = static_cast<int16_t>(pvol_get_int(scan, "ORVA Scan Local Time Offset"));
    if (pvol_is_defined(scan, "ORVA Scan Local Time Name")) {
        char zone[sizeof ih.icf.tz_name] = {};
        pvol_get_string(scan, "ORVA Scan Local Time Name", zone, sizeof zone);
        std::memcpy(ih.icf.tz_name, zone, sizeof zone);
    }
    if (pvol_is_defined(scan, "isotherm_0C"))
        ih.icf.iisotherm = static_cast<int16_t>(
            truncate_to_int(pvol_get_double(scan, "isotherm_0C") * 1000) - 32768);

    set_position(&ih, pvol_get_position(scan));

    const auto sweeps = static_cast<int16_t>(ds->sweeps.size());
    ih.tcf.scan.isweeps = sweeps;
    // A reader stops at the sweeps-done count when it is set; a count kept from another file
    // would cut this task short.
    ih.icf.isweeps_done = sweeps;
    return 0;
}

void data_scan_delete(data_scan *ds) {
    if (ds == nullptr)
        return;
    for (auto &blocks : ds->sweeps)
        delete_blocks(blocks);
    if (ds->sconf != nullptr)
        sweepconf_unref(ds->sconf);
    delete ds;
}

const ingest_header *data_scan_get_ingest_header(const data_scan *ds) {
    PVOL_CHECK(ds != nullptr);
    return &ds->ih;
}

int data_scan_get_sweep_count(const data_scan *ds) {
    PVOL_CHECK(ds != nullptr);
    return static_cast<int>(ds->sweeps.size());
}

int data_scan_get_moment_count(const data_scan *ds) {
    PVOL_CHECK(ds != nullptr);
    return ds->moment_count;
}

int data_scan_get_raw_type(const data_scan *ds, int index) {
    PVOL_CHECK(ds != nullptr);
    return index >= 0 && index < MAX_RD ? ds->raw_types[index] : 0;
}

const dblock *data_scan_get_block(const data_scan *ds, int sweep, int moment) {
    PVOL_CHECK(ds != nullptr);
    if (sweep < 0 || static_cast<size_t>(sweep) >= ds->sweeps.size())
        return nullptr;
    const auto &blocks = ds->sweeps[sweep];
    if (moment < 0 || static_cast<size_t>(moment) >= blocks.size())
        return nullptr;
    return blocks[moment];
}

data_scan_group *data_scan_group_new(const radar_scan *scan, int bin_format) {
    PVOL_CHECK(scan != nullptr);
    return data_scan_group_build(scan, bin_format, nullptr);
}

void data_scan_group_delete(data_scan_group *group) {
    if (group == nullptr)
        return;
    for (data_scan *ds : group->scans)
        data_scan_delete(ds);
    delete group;
}

int data_scan_group_get_count(const data_scan_group *group) {
    PVOL_CHECK(group != nullptr);
    return static_cast<int>(group->scans.size());
}

data_scan *data_scan_group_get(const data_scan_group *group, int index) {
    PVOL_CHECK(group != nullptr);
    if (index < 0 || static_cast<size_t>(index) >= group->scans.size())
        return nullptr;
    return group->scans[index];
}

int pvol_get_orva_hybrid_count(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    int count = 0;
    const radar_sweep_conf *last = nullptr;
    for (const radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s != nullptr;
         s = pvol_get_next_sweep(scan, s)) {
        if (!sweep_is_writable(s))
            continue;
        if (rsweep_get_config(s) != last) {
            last = rsweep_get_config(s);
            ++count;
        }
    }
    return count;
}

}  // extern "C"
