/* Ray configurations, their moments, bin buffers, the moment type table, and rays.
 *
 * Ownership:
 * - A ray configuration is reference counted. rayconf_new returns it with one reference, which
 *   belongs to the creator; rays, sweep configurations and scans take references of their own.
 *   Once shared, a configuration is treated as immutable.
 * - Moments belong to their configuration; rayconf_get_moment returns a pointer into it, valid
 *   as long as the configuration lives and gains no moment.
 * - A radar_ray_data buffer belongs to whoever created it with radar_ray_data_new and is released
 *   with radar_ray_data_delete. The library grows it on request and never shrinks it.
 * - Attribute texts handed in are copied; texts handed out are copied into caller storage.
 * - A ray holds one reference on its configuration and one on its position. It belongs to its
 *   creator until it is added to a sweep, which then owns and deletes it. */
#ifndef PVOL_RADAR_RAY_H
#define PVOL_RADAR_RAY_H

#include <stdint.h>
#include <sys/time.h>

#include "config_set.h"
#include "nav_system.h"
#include "pvol_export.h"

PVOL_BEGIN_DECLS

struct dllist;

/* Storage of one bin. */
enum bin_format {
    BITS_UNKNOWN = 0,
    BITS_8 = 1,  /* 8-bit unsigned code */
    BITS_16 = 2, /* 16-bit unsigned code */
    BITS_32 = 3, /* float, physical value */
    BITS_64 = 4  /* double, physical value */
};

/* Evenly spaced positions: bin i lies at start + i * step. A moment's range mask (metres) or a
 * sweep's sector (radians). */
typedef struct dscan {
    double start;
    double step;
    uint64_t count;
} dscan;

/* Data scale of a moment: code c means c * step + offset unless it is one of the special codes.
 * For BITS_32 and BITS_64 only bin_format is meaningful. Scales compare bit for bit. */
typedef struct native_data_desc {
    int32_t bin_format;
    uint16_t max_value;       /* highest valid code; also stored for +infinity */
    uint16_t min_value;       /* lowest valid code */
    double step;              /* physical units per code step */
    double offset;            /* physical value of code 0 */
    uint16_t under_threshold; /* below threshold, reads as -infinity */
    uint16_t not_scanned;     /* no data, reads as NaN; fills bins beyond the data given */
    int32_t cyclic;           /* non-zero for velocity, differential phase */
} native_data_desc;

/* Moment types. Rays may carry types 1 to 25; RD_ANY marks no particular type. */
typedef enum raw_data_type {
    RD_XHDR = -1, /* extended header */
    RD_ANY = 0,
    RD_DBT = 1,
    RD_DBTV = 2,
    RD_DBTE = 3,
    RD_DBZ = 4,
    RD_DBZV = 5,
    RD_DBZE = 6,
    RD_DBZC = 7,
    RD_SNR = 8,
    RD_VEL = 9,
    RD_VELC = 10,
    RD_WIDTH = 11,
    RD_SQI = 12,
    RD_ZDR = 13,
    RD_ZDRC = 14,
    RD_RHOHV = 15,
    RD_PHIDP = 16,
    RD_KDP = 17,
    RD_LDRH = 18,
    RD_LDRV = 19,
    RD_RHOH = 20,
    RD_RHOV = 21,
    RD_PHIH = 22,
    RD_PHIV = 23,
    RD_HCLASS = 24,
    RD_CUSTOM = 25, /* a moment with a name and units of its own */
    MAX_RD = 26
} raw_data_type;

/* One row of the moment type table. */
typedef struct raw_data_type_desc {
    int32_t type;
    uint16_t orva_code_8;  /* ORVA data type code of the 8-bit variant */
    uint16_t orva_code_16; /* ORVA data type code of the 16-bit variant */
    const char *name_8;    /* short name of the 8-bit variant, also a file-name suffix */
    const char *name_16;   /* short name of the 16-bit variant, also a file-name suffix */
    const char *long_name;
} raw_data_type_desc;

/* Rows for types -1 to 24 in value order: the row of type t is raw_data_types[t + 1]. */
#define RAW_DATA_TYPES_COUNT 26
PVOL_API extern const raw_data_type_desc raw_data_types[RAW_DATA_TYPES_COUNT];

/* Bins of one moment, owned by the caller. */
typedef struct radar_ray_data {
    int32_t type;      /* bin format of the contents */
    void *data;        /* bins elements of the format's width */
    uint64_t bins;     /* number of bins held */
    uint64_t capacity; /* allocated size of data in bytes */
} radar_ray_data;

typedef struct radar_moment radar_moment;
typedef struct radar_ray_conf radar_ray_conf;

/* ---- bin buffers ---- */

/* An empty buffer (type BITS_UNKNOWN, no data, 0 bins), or null when out of memory. */
PVOL_API radar_ray_data *radar_ray_data_new(void);
/* Releases the buffer and its bins; null is ignored. */
PVOL_API void radar_ray_data_delete(radar_ray_data *buffer);

/* ---- ray configurations ---- */

/* A configuration with one reference, no moments and no attributes, or null when out of memory.
 * Units: prf and rf_freq in Hz, nyquist_vel m/s, unamb_range km, pulse_width s, radar_const,
 * calib_const dB, gas_atten dB/km. */
PVOL_API radar_ray_conf *rayconf_new(double prf, double rf_freq, double nyquist_vel,
                                     double unamb_range, double pulse_width, int pulses_per_ray,
                                     double radar_const, double calib_const, double gas_atten,
                                     int tx_polarization);
/* Appends a standard moment of type 1 to 24 with copies of range_mask and scale; returns its
 * index, or -1 for another type or when out of memory. A type added twice is looked up at its
 * newer moment. */
PVOL_API int rayconf_add_moment(radar_ray_conf *rconf, int type, const dscan *range_mask,
                                const native_data_desc *scale);
/* Appends a moment of type RD_CUSTOM with copies of name, units and range_mask, stored as
 * doubles; returns its index, or -1 for a null name or units or when out of memory. */
PVOL_API int rayconf_add_custom_moment(radar_ray_conf *rconf, const char *name, const char *units,
                                       const dscan *range_mask);
PVOL_API uint64_t rayconf_get_moments_count(const radar_ray_conf *rconf);
/* The moment at index, or null for a null configuration or an index out of range. */
PVOL_API const radar_moment *rayconf_get_moment(const radar_ray_conf *rconf, int index);
/* Index of the standard moment of type (1 to 24), -1 when absent. */
PVOL_API int rayconf_get_moment_index(const radar_ray_conf *rconf, int type);

/* Moment accessors; null or 0 for a null moment. Names and units are those of custom moments
 * (null for standard ones) and belong to the configuration. */
PVOL_API const char *rmoment_get_name(const radar_moment *moment);
PVOL_API const char *rmoment_get_units(const radar_moment *moment);
PVOL_API int rmoment_get_raw_type(const radar_moment *moment);
/* Copy into out and return out. */
PVOL_API native_data_desc *rmoment_get_scale(const radar_moment *moment, native_data_desc *out);
PVOL_API dscan *rmoment_get_range_mask(const radar_moment *moment, dscan *out);

PVOL_API double rayconf_get_prf(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_rf_freq(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_nyquist_vel(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_unamb_range(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_pulse_width(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_radar_const(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_calib_const(const radar_ray_conf *rconf);
PVOL_API double rayconf_get_gas_atten(const radar_ray_conf *rconf);
PVOL_API int rayconf_get_pulses_per_ray(const radar_ray_conf *rconf);
PVOL_API int rayconf_get_tx_polarization(const radar_ray_conf *rconf);
/* Bytes of each ray's extended header; 0 when rays carry none. */
PVOL_API uint64_t rayconf_get_exthdr_size(const radar_ray_conf *rconf);
/* Sets the size once: 0 on success, 1 (nothing changed) when a size is set already. */
PVOL_API int raycon_set_exthdr_size(radar_ray_conf *rconf, uint64_t size);

/* Attributes: adds return 0, or 1 for a duplicate key or when out of memory. */
PVOL_API int rayconf_add_int(radar_ray_conf *rconf, const char *key, int value);
PVOL_API int rayconf_add_u64(radar_ray_conf *rconf, const char *key, uint64_t value);
PVOL_API int rayconf_add_double(radar_ray_conf *rconf, const char *key, double value);
PVOL_API int rayconf_add_string(radar_ray_conf *rconf, const char *key, const char *text);
PVOL_API int rayconf_is_defined(const radar_ray_conf *rconf, const char *key);
/* Without any attribute these give 0, 0, 0.0 and null; otherwise as cfgset_get_int,
 * cfgset_get_uint64, cfgset_get_double (NaN for an absent key) and cfgset_get_string. */
PVOL_API int rayconf_get_int(const radar_ray_conf *rconf, const char *key);
PVOL_API uint64_t rayconf_get_u64(const radar_ray_conf *rconf, const char *key);
PVOL_API double rayconf_get_double(const radar_ray_conf *rconf, const char *key);
PVOL_API char *rayconf_get_string(const radar_ray_conf *rconf, const char *key, char *buffer,
                                  uint64_t length);

/* 1 when b is equivalent to a: same properties and moments bit for bit, and b's attributes hold
 * a's. The extended header size and the reference count take no part. */
PVOL_API int rayconf_compare(const radar_ray_conf *a, const radar_ray_conf *b);

/* One more reference; returns rconf. */
PVOL_API radar_ray_conf *rayconf_ref(radar_ray_conf *rconf);
/* Drops one reference; the last one releases the configuration, which must by then be in no
 * scan's list. */
PVOL_API void rayconf_unref(radar_ray_conf *rconf);

/* The list node through which a scan registers the configuration, and back. */
PVOL_API struct dllist *rayconf_get_node(radar_ray_conf *rconf);
PVOL_API radar_ray_conf *rayconf_from_node(struct dllist *node);

/* ---- rays ---- */

/* Angles covered by one ray, in radians. */
typedef struct angle_interval {
    double start;
    double between; /* middle of the interval */
    double stop;
} angle_interval;

typedef struct radar_ray radar_ray;

/* A ray on config (which must have at least one moment, else null), holding one bin buffer per
 * moment filled with the moment's not_scanned code (NaN for floating-point moments). Null angles
 * read as NaN, a null time as 0. With a position, the ray takes a reference on it and keeps
 * position_index; without, the index is -1. Takes a reference on config. Null when out of
 * memory. Release with rray_delete unless a sweep owns the ray. */
PVOL_API radar_ray *rray_new(radar_ray_conf *config, const angle_interval *azimuth,
                             const angle_interval *elevation, const struct timeval *time,
                             rposition *position, int position_index);
/* A new ray with the same configuration, angles, time, position and bins; index -1 and no
 * extended header. Null when out of memory. */
PVOL_API radar_ray *rray_new_copy(const radar_ray *ray);
/* Releases the bins, the extended header and the references; null is ignored. */
PVOL_API void rray_delete(radar_ray *ray);

PVOL_API radar_ray_conf *rray_get_config(const radar_ray *ray);
PVOL_API rposition *rray_get_position(const radar_ray *ray);
/* Position of the ray in its sweep, -1 until added to one. */
PVOL_API int rray_get_index(const radar_ray *ray);
PVOL_API int rray_set_index(radar_ray *ray, int index);
PVOL_API angle_interval rray_get_azimuth(const radar_ray *ray);
PVOL_API angle_interval rray_get_elevation(const radar_ray *ray);
/* Copies the ray's time into out and returns out. */
PVOL_API struct timeval *rray_get_time(const radar_ray *ray, struct timeval *out);
PVOL_API int rray_set_time(radar_ray *ray, const struct timeval *time);
/* Moves the ray's position reference to position (null for none, index then -1); returns 0. */
PVOL_API int rray_set_position(radar_ray *ray, rposition *position, int position_index);

/* Stores a copy of the configuration's exthdr_size bytes when that size is non-zero and the ray
 * has no extended header yet. Returns 0. */
PVOL_API int rray_add_exthdr(radar_ray *ray, const void *bytes);
/* Copies the extended header into out and returns out; null when there is none. */
PVOL_API void *rray_get_exthdr(const radar_ray *ray, void *out);

/* Moves the ray from old_conf to the equivalent new_conf (references follow) and returns
 * new_conf; null, with nothing changed, when the ray's configuration is not old_conf. */
PVOL_API radar_ray_conf *rray_swap_config(radar_ray *ray, radar_ray_conf *new_conf,
                                          radar_ray_conf *old_conf);

/* Copies the stored bins of slot into buffer, sized to the moment's format and bin count, and
 * returns buffer. A BITS_32 moment yields the buffer with 0 bins. Null for a slot out of range,
 * a slot without bins or when the buffer cannot grow. */
PVOL_API radar_ray_data *rray_get_native(const radar_ray *ray, int slot, radar_ray_data *buffer);
/* Copies buffer (of the moment's format, at most the moment's bin count) into slot and fills the
 * remaining bins with the not_scanned code (NaN for BITS_64). 0 on success, 1 for a slot beyond
 * the configuration's moments or when out of memory, -1 for a BITS_32 moment. */
PVOL_API int rray_set_from_native(radar_ray *ray, int slot, const radar_ray_data *buffer);
/* Physical values of slot as BITS_64 into buffer: not_scanned reads NaN, under_threshold
 * -infinity. Returns buffer, or null as rray_get_native. */
PVOL_API radar_ray_data *rray_get_dat(const radar_ray *ray, int slot, radar_ray_data *buffer);
/* Stores physical values (a BITS_64 buffer of at most the moment's bin count; missing bins count
 * as NaN) into slot in the moment's format: NaN gives not_scanned, +infinity max_value,
 * -infinity and values below min_value under_threshold; codes above the scale wrap to the code
 * width. 0 on success, 1 for a slot beyond the configuration's moments or when out of memory. */
PVOL_API int rray_set_dat(radar_ray *ray, int slot, const radar_ray_data *buffer);

PVOL_END_DECLS

#endif /* PVOL_RADAR_RAY_H */
