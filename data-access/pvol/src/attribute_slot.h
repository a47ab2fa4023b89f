// Attribute sets owned by configurations and scans (internal).
//
// Owners keep a null set until the first attribute arrives; these helpers create it then, and
// answer reads of an owner without attributes with the "nothing stored" values.
#ifndef PVOL_ATTRIBUTE_SLOT_H
#define PVOL_ATTRIBUTE_SLOT_H

#include <cstdint>

#include "pvol/config_set.h"

namespace pvol_internal {

// Buckets of every owner's set.
constexpr int kAttributeBits = 4;

inline cfgset *attribute_set(cfgset **slot) {
    if (*slot == nullptr)
        *slot = cfgset_new(kAttributeBits);
    return *slot;
}

// 0 on success, 1 for a duplicate key or when out of memory.
template <typename Adder, typename... Value>
int add_attribute(cfgset **slot, Adder adder, const char *key, Value... value) {
    cfgset *set = attribute_set(slot);
    return set != nullptr && adder(set, key, value...) != nullptr ? 0 : 1;
}

inline int attribute_defined(const cfgset *set, const char *key) {
    return set != nullptr && cfgset_get_type(set, key) != 0 ? 1 : 0;
}

inline int attribute_int(const cfgset *set, const char *key) {
    return set != nullptr ? cfgset_get_int(set, key) : 0;
}

inline uint64_t attribute_u64(const cfgset *set, const char *key) {
    return set != nullptr ? cfgset_get_uint64(set, key) : 0;
}

inline double attribute_double(const cfgset *set, const char *key) {
    return set != nullptr ? cfgset_get_double(set, key) : 0.0;
}

inline char *attribute_string(const cfgset *set, const char *key, char *buffer, uint64_t length) {
    return set != nullptr ? cfgset_get_string(set, key, buffer, length) : nullptr;
}

inline void *attribute_buf(const cfgset *set, const char *key, void *buffer, uint64_t *length) {
    return set != nullptr ? cfgset_get_buf(set, key, buffer, length) : nullptr;
}

}  // namespace pvol_internal

#endif  // PVOL_ATTRIBUTE_SLOT_H
