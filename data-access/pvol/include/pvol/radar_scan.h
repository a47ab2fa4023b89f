/* Scans: one radar volume in memory.
 *
 * Ownership:
 * - The creator of a scan releases it with pvol_delete, which deletes every sweep in it.
 * - pvol_add_sweep hands the sweep to the scan. The scan keeps one object per distinct sweep and
 *   ray configuration: the sweep's own configurations are replaced by equivalent ones the scan
 *   holds already, and new ones are registered with a reference of the scan's own.
 * - An ejected sweep belongs to the caller again (delete it with rsweep_delete or add it to a
 *   scan); its configurations stay registered in the scan.
 * - The scan holds one reference on its position; texts, attributes and time stamps are copied
 *   in and out. */
#ifndef PVOL_RADAR_SCAN_H
#define PVOL_RADAR_SCAN_H

#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>

#include "nav_system.h"
#include "pvol_export.h"
#include "radar_ray.h"
#include "radar_sweep.h"

PVOL_BEGIN_DECLS

/* The type radar_scan comes from radar_sweep.h: C99 allows a typedef only once. */

/* A scan with copies of the given texts (null texts stay unset), no sweeps, time stamp zero and
 * a new fixed position holding fixed (zero values when null). position_type must be
 * RPOSITION_FIXED; otherwise, or when out of memory, null. */
PVOL_API radar_scan *pvol_new(const char *name, const char *info, const char *site_name,
                              const char *site_info, int position_type,
                              const rposition_fixed *fixed);
/* A scan with the same texts, fixed position values and copies of every sweep, on
 * configuration objects of its own. Attributes, time stamp and scheduled sweeps are not copied.
 * Null for a scan on a moving position or when out of memory. */
PVOL_API radar_scan *pvol_new_copy(const radar_scan *scan);
/* Releases the scan, its sweeps and its references: 0, or 1 for a null scan. */
PVOL_API int pvol_delete(radar_scan *scan);

/* Bounded copies into buffer (at most length bytes, NUL-padded, no terminator when the text is
 * length or longer); null when the scan has no such text. */
PVOL_API char *pvol_get_name(const radar_scan *scan, char *buffer, uint64_t length);
PVOL_API char *pvol_get_info(const radar_scan *scan, char *buffer, uint64_t length);
PVOL_API char *pvol_get_site_name(const radar_scan *scan, char *buffer, uint64_t length);
PVOL_API char *pvol_get_site_info(const radar_scan *scan, char *buffer, uint64_t length);
/* Replace a text with a copy: 0, or 1 for a null text or when out of memory (old text kept). */
PVOL_API int pvol_set_name(radar_scan *scan, const char *text);
PVOL_API int pvol_set_info(radar_scan *scan, const char *text);
PVOL_API int pvol_set_site_name(radar_scan *scan, const char *text);
PVOL_API int pvol_set_site_info(radar_scan *scan, const char *text);

/* Number of sweeps the task schedule foresees. */
PVOL_API int64_t pvol_get_scheduled_sweeps(const radar_scan *scan);
PVOL_API int pvol_set_scheduled_sweeps(radar_scan *scan, int n);
PVOL_API uint64_t pvol_get_sweeps_count(const radar_scan *scan);
PVOL_API uint64_t pvol_get_sweepconf_count(const radar_scan *scan);
PVOL_API uint64_t pvol_get_rayconf_count(const radar_scan *scan);

/* Attributes: adds return 0, or 1 for a duplicate key or when out of memory. Without any
 * attribute the getters give 0, 0, 0.0 and null. */
PVOL_API int pvol_add_int(radar_scan *scan, const char *key, int value);
PVOL_API int pvol_add_u64(radar_scan *scan, const char *key, uint64_t value);
PVOL_API int pvol_add_double(radar_scan *scan, const char *key, double value);
PVOL_API int pvol_add_string(radar_scan *scan, const char *key, const char *text);
PVOL_API int pvol_add_buf(radar_scan *scan, const char *key, const void *bytes, uint64_t length);
PVOL_API int pvol_is_defined(const radar_scan *scan, const char *key);
PVOL_API int pvol_get_int(const radar_scan *scan, const char *key);
PVOL_API uint64_t pvol_get_u64(const radar_scan *scan, const char *key);
PVOL_API double pvol_get_double(const radar_scan *scan, const char *key);
PVOL_API char *pvol_get_string(const radar_scan *scan, const char *key, char *buffer,
                               uint64_t length);
PVOL_API void *pvol_get_buf(const radar_scan *scan, const char *key, void *buffer,
                            uint64_t *length);

/* Iteration in list order: a null current element starts, a null result ends. */
PVOL_API radar_sweep_conf *pvol_get_next_sweepconf(const radar_scan *scan,
                                                   const radar_sweep_conf *sconf);
PVOL_API radar_ray_conf *pvol_get_next_rayconf(const radar_scan *scan, const radar_ray_conf *rconf);
PVOL_API radar_sweep *pvol_get_next_sweep(const radar_scan *scan, const radar_sweep *sweep);

/* Appends sweep (non-null, in no scan), which the scan owns from then on, after replacing its
 * configurations by equivalent registered ones and registering new ones; gives its rays the
 * scan's position. Returns sweep, or null when out of memory (the sweep stays the caller's). */
PVOL_API radar_sweep *pvol_add_sweep(radar_scan *scan, radar_sweep *sweep);
/* Take a sweep out of the scan and return it to the caller; null when nothing matches. */
PVOL_API radar_sweep *pvol_eject_sweep(radar_scan *scan, radar_sweep *sweep);
/* The first sweep with schedule index n. */
PVOL_API radar_sweep *pvol_eject_sweep_n(radar_scan *scan, int n);
/* The first sweep whose fixed angle lies less than 0.1 degree from angle (degrees). */
PVOL_API radar_sweep *pvol_eject_sweep_a(radar_scan *scan, double angle);

PVOL_API rposition *pvol_get_position(const radar_scan *scan);
/* Moves the scan's reference to position: 0, or -1 for a null position. Rays keep theirs. */
PVOL_API int pvol_set_position(radar_scan *scan, rposition *position);

PVOL_API struct timeval *pvol_get_time_stamp(const radar_scan *scan, struct timeval *out);
PVOL_API int pvol_set_time_stamp(radar_scan *scan, const struct timeval *time);
/* Adds delta to the time stamp and to the time of every sweep and ray (not to the sweeps' start
 * and stop times). Returns 0. */
PVOL_API int pvol_shift_time_stamp(radar_scan *scan, const struct timeval *delta);

/* Text dumps to an open stream; each returns 0. */
PVOL_API int pvol_dump_brief(const radar_scan *scan, FILE *stream);
PVOL_API int pvol_dump_verbose(const radar_scan *scan, FILE *stream);
PVOL_API int pvol_dump_timestamps(const radar_scan *scan, FILE *stream);

PVOL_END_DECLS

#endif /* PVOL_RADAR_SCAN_H */
