/* Writing scans as ORVA RAW product files.
 *
 * The writer splits a scan into data scans, one per task: the runs of sweeps, in time order, that
 * share one sweep configuration. Each data scan carries its own ingest header (rebuilt from the
 * one the reader kept with the sweep configuration, or from defaults) and one data block per
 * sweep and moment. The blocks go out as one file per data scan (mode 0) or one file per sweep
 * (mode 1); the output callback names and opens the files.
 *
 * A sweep can be written when its configuration lists exactly one ray configuration whose
 * moments are standard types, each at most once, and when it has at least one ray position (the
 * sector's ray count; for a manual sweep its ray count). Other sweeps are passed over.
 *
 * Ownership: a data scan group owns its data scans, a data scan its blocks and its ingest header;
 * a data scan holds a reference on its sweep configuration. The scan is only read. */
#ifndef PVOL_PVOL_SAVE_H
#define PVOL_PVOL_SAVE_H

#include <stdint.h>
#include <stdio.h>

#include "data_block.h"
#include "orva_records.h"
#include "pvol_export.h"
#include "radar_ray.h"
#include "radar_scan.h"
#include "radar_sweep.h"
#include "rawprod_io.h"

PVOL_BEGIN_DECLS

/* Limits of the RAW format that the writer enforces. */
#define RAW_MAX_TASKS 25     /* task suffixes _A to _Y */
#define RAW_MAX_BINS 4200    /* bins of a ray a reader unpacks */
#define RAW_SAVE_ONE_FILE 0  /* mode: one file per data scan */
#define RAW_SAVE_PER_SWEEP 1 /* mode: one file per sweep */

typedef struct data_scan data_scan;
typedef struct data_scan_group data_scan_group;

/* Writes scan as RAW product files with bins of bin_format (BITS_8 or BITS_16); site is the
 * generating site's name (16 bytes, or a shorter text). The output callback (raw_output_callback,
 * rawprod_io.h) gets the sweep number -1 in mode RAW_SAVE_ONE_FILE and the sweep's position in its
 * data scan (from 0) in mode RAW_SAVE_PER_SWEEP; the writer closes each file it gets. Returns 0 on
 * success and non-zero when the arguments are bad, no sweep can be written, a PPI or RHI sweep
 * holds a ray beyond its sector's count (it would be lost), the scan would form more than
 * RAW_MAX_TASKS tasks, a task holds more sweeps than TASK_MAX_SWEEP_ANGLES, or in mode
 * RAW_SAVE_PER_SWEEP more than 100 (the default output callbacks tell sweep numbers apart by two
 * digits, so two sweeps would share one file), a sweep's merged range mask exceeds RAW_MAX_BINS
 * bins, memory runs out, the callback gives no file or a write fails. All checks come before the
 * first file is asked for; a file whose writing fails is truncated to nothing.
 *
 * Every sweep's schedule index reads back as it was through pvol_new_from_raw2, which adds the
 * sweep count of the previous task whenever the minor task identifier rises: the tasks share the
 * major identifier of the first, and a task whose rising identifier would move a later sweep's
 * index keeps the identifier of the task before it instead. */
PVOL_API int pvol_save_raw(const radar_scan *scan, void *io, const char *site, int mode,
                           int bin_format, raw_output_callback output);

/* pvol_save_raw that passes the reason of a non-zero result, one text ending in a newline, to the
 * message callback (rawprod_io.h; may be null). */
PVOL_API int pvol_save_raw2(const radar_scan *scan, void *io, const char *site, int mode,
                            int bin_format, raw_output_callback output,
                            pvol_message_callback message);

/* Ingest files are not written: returns -1. */
PVOL_API int pvol_save_ingest(void);

/* Number of tasks the writer would form from scan, counted along the scan's own sweep order:
 * the number of changes of sweep configuration over the sweeps it can write. */
PVOL_API int pvol_get_orva_hybrid_count(const radar_scan *scan);

/* ---- data scans ---- */

/* The data scans of scan with bins of bin_format, in time order, finalized. Null when no sweep
 * can be written, when they would be more than RAW_MAX_TASKS, when a sweep cannot be added (see
 * data_scan_add_sweep) or when out of memory. */
PVOL_API data_scan_group *data_scan_group_new(const radar_scan *scan, int bin_format);
PVOL_API void data_scan_group_delete(data_scan_group *group);
PVOL_API int data_scan_group_get_count(const data_scan_group *group);
/* The data scan at index, null outside the group. */
PVOL_API data_scan *data_scan_group_get(const data_scan_group *group, int index);

/* A data scan started by sweep (whose configuration must list one ray configuration), its
 * ingest header filled for that sweep; no sweeps added yet. Null when out of memory. */
PVOL_API data_scan *data_scan_new(const radar_sweep *first_sweep, int bin_format);
/* Adds the sweep's data blocks. 0 on success; 1 (data scan unchanged) when the data scan holds
 * TASK_MAX_SWEEP_ANGLES sweeps already, the merged range mask exceeds RAW_MAX_BINS bins, a moment
 * has no block form, or memory runs out. */
PVOL_API int data_scan_add_sweep(data_scan *ds, const radar_sweep *sweep);
/* Task name, site, time zone, melting level, position and sweep count from scan; group_index
 * (-1 for a single data scan, else 0 to RAW_MAX_TASKS - 1) gives the task suffix. Returns 0. */
PVOL_API int data_scan_finalize(data_scan *ds, const radar_scan *scan, int group_index);
PVOL_API void data_scan_delete(data_scan *ds);

PVOL_API const ingest_header *data_scan_get_ingest_header(const data_scan *ds);
PVOL_API int data_scan_get_sweep_count(const data_scan *ds);
PVOL_API int data_scan_get_moment_count(const data_scan *ds);
/* Raw data type of moment index (0 beyond the moments). */
PVOL_API int data_scan_get_raw_type(const data_scan *ds, int index);
/* The block of moment of sweep, null outside the data scan. */
PVOL_API const dblock *data_scan_get_block(const data_scan *ds, int sweep, int moment);

/* ---- range masks and data scales ---- */

/* start + index x step. */
PVOL_API double dscan_get_val(const dscan *mask, int index);
/* The index of the bin nearest to value: (value - start) / step rounded half up. */
PVOL_API int dscan_get_pos(const dscan *mask, double value);
/* 0 when start, step and count are all equal, else 1. */
PVOL_API int dscan_compare(const dscan *a, const dscan *b);
/* Widens a to cover b too: the smaller start and step, and the count that reaches the larger
 * end (count x step + start). Equal masks leave a alone. Returns a. */
PVOL_API dscan *dscan_merge(dscan *a, const dscan *b);
/* 0 when both scales are equal byte for byte, else 1. */
PVOL_API int native_data_desc_compare(const native_data_desc *a, const native_data_desc *b);

PVOL_END_DECLS

#endif /* PVOL_PVOL_SAVE_H */
