/* Sweep configurations and sweeps.
 *
 * Ownership:
 * - A sweep configuration is reference counted like a ray configuration: the creator holds the
 *   first reference, every sweep and the scan that registers it one more. It holds one reference
 *   on each ray configuration it lists.
 * - A sweep holds one reference on its configuration and owns its rays: a ray handed to
 *   rsweep_add_ray belongs to the sweep, which deletes it. A sweep belongs to its creator until
 *   it is added to a scan; a sweep ejected from a scan belongs to the caller again.
 * - Attribute texts and buffers are copied in and out. */
#ifndef PVOL_RADAR_SWEEP_H
#define PVOL_RADAR_SWEEP_H

#include <stdint.h>
#include <sys/time.h>

#include "pvol_export.h"
#include "radar_ray.h"

PVOL_BEGIN_DECLS

struct dllist;

/* Sweep kinds. */
enum sweep_type { SWEEP_PPI = 1, SWEEP_RHI = 2, SWEEP_MANUAL = 3 };

typedef struct radar_sweep_conf radar_sweep_conf;
typedef struct radar_sweep radar_sweep;
typedef struct radar_scan radar_scan;

/* ---- sweep configurations ---- */

/* A configuration of the kind with a copy of sector (radians; NaN start and step and count 0
 * when null), one reference, no ray configurations and no attributes; null when out of
 * memory. */
PVOL_API radar_sweep_conf *sweepconf_new_ppi(const dscan *sector);
PVOL_API radar_sweep_conf *sweepconf_new_rhi(const dscan *sector);
PVOL_API radar_sweep_conf *sweepconf_new_manual(void);

/* Lists rconf (taking a reference) and returns it; when rconf or an equivalent configuration is
 * listed already, returns the listed one and takes no reference. Null when out of memory. */
PVOL_API radar_ray_conf *sweepconf_add_rayconf(radar_sweep_conf *sconf, radar_ray_conf *rconf);
/* The listed configuration after rconf (the first for a null rconf); null at the end or when
 * rconf is not listed. */
PVOL_API radar_ray_conf *sweepconf_get_next_rayconf(const radar_sweep_conf *sconf,
                                                    const radar_ray_conf *rconf);
PVOL_API uint64_t sweepconf_get_rayconf_count(const radar_sweep_conf *sconf);
PVOL_API int sweepconf_get_type(const radar_sweep_conf *sconf);
/* Copies the sector into out when both are non-null; returns out. */
PVOL_API dscan *sweepconf_get_sector(const radar_sweep_conf *sconf, dscan *out);

/* Attributes: adds return 0, or 1 for a duplicate key or when out of memory. Without any
 * attribute the getters give 0, 0, 0.0 and null. */
PVOL_API int sweepconf_add_int(radar_sweep_conf *sconf, const char *key, int value);
PVOL_API int sweepconf_add_u64(radar_sweep_conf *sconf, const char *key, uint64_t value);
PVOL_API int sweepconf_add_double(radar_sweep_conf *sconf, const char *key, double value);
PVOL_API int sweepconf_add_string(radar_sweep_conf *sconf, const char *key, const char *text);
PVOL_API int sweepconf_add_buf(radar_sweep_conf *sconf, const char *key, const void *bytes,
                               uint64_t length);
PVOL_API int sweepconf_is_defined(const radar_sweep_conf *sconf, const char *key);
PVOL_API int sweepconf_get_int(const radar_sweep_conf *sconf, const char *key);
PVOL_API uint64_t sweepconf_get_u64(const radar_sweep_conf *sconf, const char *key);
PVOL_API double sweepconf_get_double(const radar_sweep_conf *sconf, const char *key);
PVOL_API char *sweepconf_get_string(const radar_sweep_conf *sconf, const char *key, char *buffer,
                                    uint64_t length);
PVOL_API void *sweepconf_get_buf(const radar_sweep_conf *sconf, const char *key, void *buffer,
                                 uint64_t *length);

/* 1 when b is equivalent to a: same kind, the same sector (PPI and RHI only), an equivalent of
 * each of a's ray configurations in b, and b's attributes holding a's. A configuration always
 * matches itself; a null one matches nothing. */
PVOL_API int sweepconf_compare(const radar_sweep_conf *a, const radar_sweep_conf *b);

PVOL_API radar_sweep_conf *sweepconf_ref(radar_sweep_conf *sconf);
/* Drops one reference; the last one releases the configuration and its ray configuration
 * references. It must by then be in no scan's list. */
PVOL_API void sweepconf_unref(radar_sweep_conf *sconf);

PVOL_API struct dllist *sweepconf_get_node(radar_sweep_conf *sconf);
PVOL_API radar_sweep_conf *sweepconf_from_node(struct dllist *node);

/* ---- sweeps ---- */

/* A sweep on sconf (non-null; a reference is taken) without rays: schedule index 0, fixed angle
 * 0.0, no earliest ray (-1), time 0, start and stop seconds -1. Null when out of memory. */
PVOL_API radar_sweep *rsweep_new(radar_sweep_conf *sconf);
/* A copy on the same configuration with copies of every ray (empty slots stay empty), in no
 * scan. Null when out of memory. */
PVOL_API radar_sweep *rsweep_new_copy(const radar_sweep *sweep);
/* Deletes the sweep and its rays. A sweep that is in a scan must be ejected first. */
PVOL_API void rsweep_delete(radar_sweep *sweep);

/* Appends ray (null for an empty slot), which the sweep owns from then on, sets its index and
 * keeps the earliest and latest ray times. Returns the index, or -1 when out of memory (the ray
 * then still belongs to the caller). */
PVOL_API int rsweep_add_ray(radar_sweep *sweep, radar_ray *ray);
/* The ray at index; null out of range or for an empty slot. */
PVOL_API radar_ray *rsweep_get_ray(const radar_sweep *sweep, int index);
PVOL_API uint64_t rsweep_get_ray_count(const radar_sweep *sweep);
/* The first ray in index order that is not an empty slot, or null. */
PVOL_API radar_ray *rsweep_get_first_ray(const radar_sweep *sweep);
/* Index of the ray with the earliest time, -1 for none. */
PVOL_API int rsweep_get_earliest_ray(const radar_sweep *sweep);

/* Times copied into out; each getter returns out. Start and stop are the earliest and latest ray
 * times (seconds -1 while there is no ray). */
PVOL_API struct timeval *rsweep_get_time(const radar_sweep *sweep, struct timeval *out);
PVOL_API int rsweep_set_time(radar_sweep *sweep, const struct timeval *time);
PVOL_API struct timeval *rsweep_get_starttime(const radar_sweep *sweep, struct timeval *out);
PVOL_API struct timeval *rsweep_get_stoptime(const radar_sweep *sweep, struct timeval *out);

/* Fixed angle in radians: elevation of a PPI, azimuth of an RHI. */
PVOL_API double rsweep_get_fixed_angle(const radar_sweep *sweep);
PVOL_API int rsweep_set_fixed_angle(radar_sweep *sweep, double angle);
PVOL_API int rsweep_get_schedule_index(const radar_sweep *sweep);
PVOL_API int rsweep_set_schedule_index(radar_sweep *sweep, int index);

PVOL_API radar_sweep_conf *rsweep_get_config(const radar_sweep *sweep);
/* The scan holding the sweep (no reference), or null. */
PVOL_API radar_scan *rsweep_get_my_scan(const radar_sweep *sweep);
/* Records scan (non-null) and gives every ray the scan's position with navigation index -1.
 * Returns 0. */
PVOL_API int rsweep_set_my_scan(radar_sweep *sweep, radar_scan *scan);
/* Position of the first ray; without one, that of the sweep's scan; else null. */
PVOL_API rposition *rsweep_get_position(const radar_sweep *sweep);

PVOL_API struct dllist *rsweep_get_node(radar_sweep *sweep);
PVOL_API radar_sweep *rsweep_from_node(struct dllist *node);

/* Replaces old_rconf by the equivalent new_rconf in the sweep's configuration and in every ray
 * that uses it; returns new_rconf, or null when old_rconf is not listed in the configuration. */
PVOL_API radar_ray_conf *rsweep_swap_rayconf(radar_sweep *sweep, radar_ray_conf *new_rconf,
                                             radar_ray_conf *old_rconf);
/* Moves the sweep from its configuration old_sconf to the equivalent new_sconf, switching its
 * rays to new_sconf's ray configurations (old_sconf's list follows). Each ray configuration of
 * old_sconf pairs with the first of new_sconf that compares equal to it in both directions.
 * Returns new_sconf, or null (nothing changed) when old_sconf is not the sweep's configuration or
 * one of its ray configurations has no such partner. */
PVOL_API radar_sweep_conf *rsweep_swap_config(radar_sweep *sweep, radar_sweep_conf *new_sconf,
                                              radar_sweep_conf *old_sconf);

PVOL_END_DECLS

#endif /* PVOL_RADAR_SWEEP_H */
