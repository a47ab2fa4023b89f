// Layout of configuration sets and their hash table (internal to libpvol and its tests).
#ifndef PVOL_CONFIG_SET_INTERNAL_H
#define PVOL_CONFIG_SET_INTERNAL_H

#include <cstdint>

#include "pvol/config_set.h"
#include "dllist.h"

// String-keyed chained hash table with a fixed number of buckets; it never grows.
struct string_hash {
    int32_t bits;  // log2 of the number of buckets
    int32_t mask;  // number of buckets minus 1
    uint32_t (*hash)(const char *key);
    int (*match)(const dllist *node, const char *key);  // 0 when the node's key equals key
    void (*destroy)(dllist *node);
    dllist *buckets;
};

// Lookup2 hash of the key's bytes, initial value 0.
uint32_t string_hash_function(const char *key);

int string_hash_init(string_hash *table, int bits, uint32_t (*hash)(const char *),
                     int (*match)(const dllist *, const char *), void (*destroy)(dllist *));
dllist *string_hash_get(const string_hash *table, const char *key);
// 1 without inserting when the key is present already, else appends node to its bucket.
int string_hash_put(string_hash *table, const char *key, dllist *node);
// Unlinks and returns the node of key (null when absent); the caller releases it.
dllist *string_hash_remove(string_hash *table, const char *key);
// Releases every node and the bucket array.
void string_hash_destroy(string_hash *table);

union cfgitem_value {
    int32_t i;
    double d;
    uint64_t u;
    char *text;
    unsigned char *buf;
};

struct cfgitem {
    dllist node;  // first member: bucket chains link items through it
    char *name;
    int32_t type;
    cfgitem_value value;
    uint64_t allocated_size;  // capacity of a text, length of a buffer, 0 for numbers
    char *units;
};

struct cfgset {
    string_hash table;
    uint64_t count;
};

// Copies at most length bytes of text and pads the rest of them with NULs; no terminator when
// text is length bytes or longer.
char *bounded_copy(char *buffer, const char *text, uint64_t length);

// An exact copy (same buckets, values, stored sizes and units) or null when out of memory;
// null for a null set.
cfgset *cfgset_new_copy(const cfgset *set);

#endif  // PVOL_CONFIG_SET_INTERNAL_H
