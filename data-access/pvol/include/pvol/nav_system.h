/* Radar platform positions: a fixed site or a moving platform with navigation records.
 *
 * Ownership: positions are reference counted. The creator holds the first reference; a scan and
 * every ray that records a position hold one more each. rposition_unref releases the position at
 * the last reference. */
#ifndef PVOL_NAV_SYSTEM_H
#define PVOL_NAV_SYSTEM_H

#include <stdint.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

enum rposition_type { RPOSITION_FIXED = 0, RPOSITION_MOVING = 1 };

/* A fixed site. Angles in radians, heights in metres above sea level. */
typedef struct rposition_fixed {
    double latitude;
    double longitude;
    double ground_height; /* ground at the site */
    double altitude;      /* antenna */
} rposition_fixed;

/* One navigation record of a moving platform; the model reads only the first three values. */
typedef struct rposition_nav {
    double latitude;  /* radians */
    double longitude; /* radians */
    double altitude;  /* metres */
    double other[12];
} rposition_nav;

typedef struct rposition rposition;

/* A fixed position holding a copy of fixed (all zero when fixed is null), or null when out of
 * memory. */
PVOL_API rposition *rposition_new_fixed(const rposition_fixed *fixed);
/* A moving position without navigation records, or null when out of memory. */
PVOL_API rposition *rposition_new_moving(void);

/* RPOSITION_FIXED or RPOSITION_MOVING. */
PVOL_API int rposition_get_type(const rposition *pos);
/* Copies the two orientation values into out[0] and out[1]; returns out. */
PVOL_API double *rposition_get_orientation(const rposition *pos, double *out);
/* Copies the fixed values into out and returns out; null when the position is not fixed. */
PVOL_API rposition_fixed *rposition_get_fixed(const rposition *pos, rposition_fixed *out);
/* Copies navigation record index into out and returns out; null unless the position is moving
 * and index lies within its records. */
PVOL_API rposition_nav *rposition_get_nav(const rposition *pos, int index, rposition_nav *out);
/* 1 when both positions are of the same type with bit-identical values, else 0. */
PVOL_API int rposition_is_equiv(const rposition *a, const rposition *b);

/* Takes one more reference and returns pos; null when the position was released already. */
PVOL_API rposition *rposition_ref(rposition *pos);
/* Drops one reference; the last one releases the position. */
PVOL_API void rposition_unref(rposition *pos);

PVOL_END_DECLS

#endif /* PVOL_NAV_SYSTEM_H */
