/* Reading ORVA data into scans: the RAW product reader, the ingest reader, and the steps both
 * share (a scan from an ingest header, a sweep from the data blocks of its data types).
 *
 * Ingest files: one ingest header file per task, named by the task's base name (which ends in a
 * full stop), and one data file per sweep and data type, named "<base><sweep:02d><suffix>" with the
 * suffix of raw_data_suffix, for example "VOL.01dBZ2".
 *
 * Ownership: the readers return a scan that belongs to the caller (pvol_delete). They close every
 * file a callback hands them. Messages go to the message callback, when one is given, one text per
 * failure ending in a newline. */
#ifndef PVOL_PVOL_PROD_IO_H
#define PVOL_PVOL_PROD_IO_H

#include <stdio.h>

#include "data_block.h"
#include "orva_records.h"
#include "pvol_export.h"
#include "radar_ray.h"
#include "radar_scan.h"
#include "radar_sweep.h"
#include "rawprod_io.h"

PVOL_BEGIN_DECLS

/* Ingest callback: with data_type 0 (bin_format, sweep_index 0) the ingest header file of task
 * task_index; otherwise the data file of that data type (-1..24) in bin_format (1 for 8 bits, 2
 * for 16 bits) and 0-based sweep_index. A file opened for reading (or writing), or null. */
typedef FILE *(*ingest_file_callback)(void *arg, int data_type, int bin_format, int sweep_index,
                                      int task_index);

typedef struct default_ingest_io default_ingest_io;

/* A scan from an ingest header: fixed position, names, time stamp; no sweeps. Null when the
 * header is not an ingest header (hdr.id) or when out of memory. The message callback is not
 * called. */
PVOL_API radar_scan *pvol_new_from_ingest_header(const ingest_header *ih,
                                                 pvol_message_callback message);

/* A ray configuration (without moments) from the task settings of an ingest header; null when out
 * of memory. */
PVOL_API radar_ray_conf *rayconf_new_from_ingest_header(const ingest_header *ih);

/* Fills out with the range mask of a task (metres) and returns it. */
PVOL_API dscan *get_range_mask(dscan *out, const task_configuration *tcf);

/* A sweep from the count data blocks of one sweep, one per data type, with one moment per block in
 * block order. *sconf and *rconf are the sweep and ray configuration shared by the sweeps of one
 * task: null before the task's first sweep, which sets them; later sweeps must agree with them
 * (kind, sector, task name and identifiers, equal ray configuration). Each non-null *sconf and
 * *rconf holds one reference that belongs to the caller, who releases them (sweepconf_unref,
 * rayconf_unref) after the task's last sweep. Null when the blocks have no ray position or unequal
 * ray counts, disagree with the shared configurations, hold a ray longer than the task's range
 * mask, or when out of memory; the shared configurations then stay valid. */
PVOL_API radar_sweep *rsweep_new_from_blocks(const ingest_header *ih, radar_sweep_conf **sconf,
                                             radar_ray_conf **rconf, int count,
                                             dblock *const *blocks);

/* Reads a scan from the ingest files of one or more tasks of a hybrid task, named through input
 * (default_ingest_input with a default_ingest_io, for example). Null when no header file is found
 * or a data file is missing or unreadable. */
PVOL_API radar_scan *pvol_new_from_ingest(void *arg, ingest_file_callback input,
                                          pvol_message_callback message);

/* File-name suffix of a data type (-1 for the extended header, "Xhdr") in bin format 1 or 2, for
 * example "dBZ" and "dBZ2"; null for another type or format. */
PVOL_API const char *raw_data_suffix(int data_type, int bin_format);

/* Default ingest io: copies of the base names (one per task), each ending in a full stop (one is
 * appended when missing). Null for null names or when out of memory. */
PVOL_API default_ingest_io *default_ingest_io_new(const char *base_name);
PVOL_API default_ingest_io *default_ingest_io_new_hybrid(const char *const *base_names, int count);
PVOL_API void default_ingest_io_delete(default_ingest_io *io);
/* ingest_file_callback over a default_ingest_io, opening for reading resp. writing (created or
 * truncated). A negative task index counts as 0; one beyond the base names gives null. */
PVOL_API FILE *default_ingest_input(void *io, int data_type, int bin_format, int sweep_index,
                                    int task_index);
PVOL_API FILE *default_ingest_output(void *io, int data_type, int bin_format, int sweep_index,
                                     int task_index);

/* Reads a scan from the RAW product files that next_file hands over one by one (each is closed
 * here). Files of one hybrid task (same major task identifier, rising minor identifiers) and the
 * per-sweep files of one task become one scan. With force_16_bit non-zero, 8-bit data is widened
 * to 16 bits. Null when no file could be read, a file holds unusable data, or the files do not
 * belong together; a file that is not a RAW product ends reading and leaves the scan read so
 * far. */
PVOL_API radar_scan *pvol_new_from_raw2(void *arg, raw_input_callback next_file,
                                        pvol_message_callback message, int force_16_bit);
/* pvol_new_from_raw2 without widening. */
PVOL_API radar_scan *pvol_new_from_raw(void *arg, raw_input_callback next_file,
                                       pvol_message_callback message);

PVOL_END_DECLS

#endif /* PVOL_PVOL_PROD_IO_H */
