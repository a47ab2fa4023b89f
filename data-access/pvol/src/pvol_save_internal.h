// Data scans of the RAW writer and helpers shared by its sources (internal).
#ifndef PVOL_PVOL_SAVE_INTERNAL_H
#define PVOL_PVOL_SAVE_INTERNAL_H

#include <sys/time.h>

#include <vector>

#include "pvol/pvol_save.h"

struct data_scan {
    timeval first_time;  // time of the first sweep added
    int bin_format;      // BITS_8 or BITS_16 for all blocks
    ingest_header ih;
    int raw_types[MAX_RD];  // raw type of each moment, the rest 0
    int moment_count;
    // Subtracted from the sweeps' schedule indices in the data headers: a reader adds the sweep
    // counts of the earlier tasks of a hybrid task (rising minor task identifiers) back on.
    int schedule_offset;
    radar_sweep_conf *sconf;                    // one reference held
    std::vector<std::vector<dblock *>> sweeps;  // per sweep, one block per moment
};

struct data_scan_group {
    std::vector<data_scan *> scans;  // in time order
};

// data_scan_group_new that passes the reason of a refusal to message (which may be null): no
// sweep the format can hold, a sweep with rays beyond its sector, more than RAW_MAX_TASKS tasks,
// a task of more than TASK_MAX_SWEEP_ANGLES sweeps, or a sweep that cannot be added.
data_scan_group *data_scan_group_build(const radar_scan *scan, int bin_format,
                                       pvol_message_callback message);

// The range mask that covers the range masks of all moments of rconf (dscan_merge of each into
// the first). Returns out; a configuration without moments gives NaN start and step, count 0.
dscan *rayconf_merged_range_mask(const radar_ray_conf *rconf, dscan *out);

// True when the RAW format can hold the sweep: one ray configuration in its configuration, at
// least one moment, every moment a standard type present once, and 1 to 32767 ray positions.
bool sweep_is_writable(const radar_sweep *sweep);

// The writable sweeps of the scan in the order the writer stores them: by start time (seconds,
// then microseconds), sweeps of equal times in scan order.
std::vector<const radar_sweep *> writable_sweeps_in_time_order(const radar_scan *scan);

#endif  // PVOL_PVOL_SAVE_INTERNAL_H
