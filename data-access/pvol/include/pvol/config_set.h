/* Typed configuration sets: small key/value stores for attributes without a field of their own.
 *
 * Ownership: the set owns every item and copies every key, text and buffer handed in. Texts and
 * buffers handed out are copied into caller storage. The only pointers into the set that callers
 * receive are the opaque item pointers of the iteration and the names they carry, valid until the
 * item is removed or the set deleted. A set must not change while it is iterated.
 *
 * Reading or setting an existing item through a function of another type stops the process
 * (except cfgset_get_int, which yields 0), as does a null set or key. */
#ifndef PVOL_CONFIG_SET_H
#define PVOL_CONFIG_SET_H

#include <stdint.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

/* Item types; 0 means "no such item" wherever a type is returned. */
enum cfgset_value_type { INT_VAL = 1, DBL_VAL = 2, U64_VAL = 3, STR_VAL = 4, BIN_BUF = 5 };

typedef struct cfgset cfgset;
typedef struct cfgitem cfgitem;

/* A new empty set with 2^bits buckets (the system uses 4), or null when out of memory.
 * Release with cfgset_delete. */
PVOL_API cfgset *cfgset_new(int bits);
/* Releases the set with all its items; null is ignored. */
PVOL_API void cfgset_delete(cfgset *set);

/* Adds a new item and returns the set; null when the key is present already (the existing item
 * stays as it was) or when out of memory. Texts and buffers are copied; a buffer must not be
 * empty. */
PVOL_API cfgset *cfgset_add_int(cfgset *set, const char *key, int value);
PVOL_API cfgset *cfgset_add_double(cfgset *set, const char *key, double value);
PVOL_API cfgset *cfgset_add_uint64(cfgset *set, const char *key, uint64_t value);
PVOL_API cfgset *cfgset_add_string(cfgset *set, const char *key, const char *text);
PVOL_API cfgset *cfgset_add_buf(cfgset *set, const char *key, const void *bytes, uint64_t length);

/* Removes and releases an item; returns the set, or null when the key is absent. */
PVOL_API cfgset *cfgset_remove(cfgset *set, const char *key);

/* Type of the item, 0 when absent. */
PVOL_API int cfgset_get_type(const cfgset *set, const char *key);
/* 0 when absent or when the item is not INT_VAL. */
PVOL_API int cfgset_get_int(const cfgset *set, const char *key);
/* Quiet NaN when absent. */
PVOL_API double cfgset_get_double(const cfgset *set, const char *key);
/* 0 when absent. */
PVOL_API uint64_t cfgset_get_uint64(const cfgset *set, const char *key);
/* Copies at most length bytes of the text into buffer, NUL-padded, without a terminator when the
 * text has length or more characters. Returns buffer, or null (buffer untouched) when the key is
 * absent or the item holds no text. */
PVOL_API char *cfgset_get_string(const cfgset *set, const char *key, char *buffer, uint64_t length);
/* Lowers *length to the stored size when the stored buffer is shorter, then copies *length bytes.
 * Returns buffer, or null (buffer and length untouched) when the key is absent. */
PVOL_API void *cfgset_get_buf(const cfgset *set, const char *key, void *buffer, uint64_t *length);

/* Change an existing item: 0 on success, 1 when the key is absent (nothing is added). */
PVOL_API int cfgset_set_int(cfgset *set, const char *key, int value);
PVOL_API int cfgset_set_double(cfgset *set, const char *key, double value);
PVOL_API int cfgset_set_uint64(cfgset *set, const char *key, uint64_t value);
/* Also 1 when out of memory; the item is then left without a text. A shorter text keeps the
 * stored capacity. */
PVOL_API int cfgset_set_string(cfgset *set, const char *key, const char *text);
/* Units of an item of any type: 0 on success, 1 when absent or out of memory (the item is then
 * left without units). */
PVOL_API int cfgset_set_units(cfgset *set, const char *key, const char *units);
/* Bounded copy as cfgset_get_string; null when the key is absent or the item has no units. */
PVOL_API char *cfgset_get_units(const cfgset *set, const char *key, char *buffer, uint64_t length);

/* Iteration: bucket by bucket, in insertion order within a bucket. A null item starts, a null
 * result ends. */
PVOL_API const cfgitem *cfgset_get_next_item(const cfgset *set, const cfgitem *item);
/* The item's key (owned by the set), null for a null item. */
PVOL_API const char *cfgset_item_get_name(const cfgitem *item);

/* 1 when b holds every item of a with the same type, value, stored size and presence of units;
 * items only in b are not looked at. Two null sets match; one null set does not. */
PVOL_API int cfgset_compare(const cfgset *a, const cfgset *b);

PVOL_END_DECLS

#endif /* PVOL_CONFIG_SET_H */
