// Typed configuration sets over a fixed-size chained hash table.
#include "pvol/config_set.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

#include "config_set_internal.h"
#include "pvol_check.h"

char *bounded_copy(char *buffer, const char *text, uint64_t length) {
    uint64_t i = 0;
    for (; i < length && text[i] != '\0'; ++i)
        buffer[i] = text[i];
    for (; i < length; ++i)
        buffer[i] = '\0';
    return buffer;
}

// ---------------------------------------------------------------------------------------------
// Key hash: lookup2 with initial value 0.

namespace {

// clang-format off
inline void lookup2_mix(uint32_t &a, uint32_t &b, uint32_t &c) {
    a -= b; a -= c; a ^= (c >> 13);
    b -= c; b -= a; b ^= (a << 8);
    c -= a; c -= b; c ^= (b >> 13);
    a -= b; a -= c; a ^= (c >> 12);
    b -= c; b -= a; b ^= (a << 16);
    c -= a; c -= b; c ^= (b >> 5);
    a -= b; a -= c; a ^= (c >> 3);
    b -= c; b -= a; b ^= (a << 10);
    c -= a; c -= b; c ^= (b >> 15);
}
// clang-format on

inline uint32_t byte_at(const unsigned char *k, int i, int shift) {
    return static_cast<uint32_t>(k[i]) << shift;
}

}  // namespace

uint32_t string_hash_function(const char *key) {
    const auto *k = reinterpret_cast<const unsigned char *>(key);
    const auto length = static_cast<uint32_t>(std::strlen(key));
    uint32_t a = 0x9e3779b9u;
    uint32_t b = a;
    uint32_t c = 0;
    uint32_t remaining = length;

    while (remaining >= 12) {
        a += byte_at(k, 0, 0) + byte_at(k, 1, 8) + byte_at(k, 2, 16) + byte_at(k, 3, 24);
        b += byte_at(k, 4, 0) + byte_at(k, 5, 8) + byte_at(k, 6, 16) + byte_at(k, 7, 24);
        c += byte_at(k, 8, 0) + byte_at(k, 9, 8) + byte_at(k, 10, 16) + byte_at(k, 11, 24);
        lookup2_mix(a, b, c);
        k += 12;
        remaining -= 12;
    }

    // The low byte of c holds the length, so the tail's bytes 8 to 10 start at bit 8.
    c += length;
    switch (remaining) {
        case 11:
            c += byte_at(k, 10, 24);
            [[fallthrough]];
        case 10:
            c += byte_at(k, 9, 16);
            [[fallthrough]];
        case 9:
            c += byte_at(k, 8, 8);
            [[fallthrough]];
        case 8:
            b += byte_at(k, 7, 24);
            [[fallthrough]];
        case 7:
            b += byte_at(k, 6, 16);
            [[fallthrough]];
        case 6:
            b += byte_at(k, 5, 8);
            [[fallthrough]];
        case 5:
            b += byte_at(k, 4, 0);
            [[fallthrough]];
        case 4:
            a += byte_at(k, 3, 24);
            [[fallthrough]];
        case 3:
            a += byte_at(k, 2, 16);
            [[fallthrough]];
        case 2:
            a += byte_at(k, 1, 8);
            [[fallthrough]];
        case 1:
            a += byte_at(k, 0, 0);
            break;
        default:
            break;
    }
    lookup2_mix(a, b, c);
    return c;
}

// ---------------------------------------------------------------------------------------------
// Hash table

namespace {

inline uint32_t bucket_count(const string_hash *table) {
    return uint32_t{1} << table->bits;
}

inline dllist *bucket_of(const string_hash *table, const char *key) {
    return &table->buckets[table->hash(key) & static_cast<uint32_t>(table->mask)];
}

}  // namespace

int string_hash_init(string_hash *table, int bits, uint32_t (*hash)(const char *),
                     int (*match)(const dllist *, const char *), void (*destroy)(dllist *)) {
    PVOL_CHECK(bits >= 0 && bits < 31);
    const uint32_t buckets = uint32_t{1} << bits;
    table->buckets = static_cast<dllist *>(std::malloc(buckets * sizeof(dllist)));
    if (table->buckets == nullptr)
        return 1;
    table->bits = bits;
    table->mask = static_cast<int32_t>(buckets - 1);
    table->hash = hash;
    table->match = match;
    table->destroy = destroy;
    for (uint32_t i = 0; i < buckets; ++i)
        dllist_init_head(&table->buckets[i]);
    return 0;
}

dllist *string_hash_get(const string_hash *table, const char *key) {
    dllist *head = bucket_of(table, key);
    for (dllist *node = head->next; node != head; node = node->next) {
        if (table->match(node, key) == 0)
            return node;
    }
    return nullptr;
}

int string_hash_put(string_hash *table, const char *key, dllist *node) {
    if (string_hash_get(table, key) != nullptr)
        return 1;
    dllist_insert_before(node, bucket_of(table, key));
    return 0;
}

dllist *string_hash_remove(string_hash *table, const char *key) {
    dllist *node = string_hash_get(table, key);
    if (node != nullptr)
        dllist_remove(node);
    return node;
}

void string_hash_destroy(string_hash *table) {
    const uint32_t buckets = bucket_count(table);
    for (uint32_t i = 0; i < buckets; ++i) {
        dllist *head = &table->buckets[i];
        while (!dllist_is_empty(head)) {
            dllist *node = head->next;
            dllist_remove(node);
            table->destroy(node);
        }
    }
    std::free(table->buckets);
    table->buckets = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Items

namespace {

inline cfgitem *item_of(dllist *node) {
    return reinterpret_cast<cfgitem *>(node);
}
inline const cfgitem *item_of(const dllist *node) {
    return reinterpret_cast<const cfgitem *>(node);
}

int cfgitem_match_node_name(const dllist *node, const char *key) {
    return std::strcmp(item_of(node)->name, key);
}

void cfgitem_delete_node(dllist *node) {
    cfgitem *item = item_of(node);
    if (item->type == STR_VAL)
        std::free(item->value.text);
    if (item->type == BIN_BUF)
        std::free(item->value.buf);
    std::free(item->units);
    std::free(item->name);
    std::free(item);
}

// A new unlinked item with a copy of key and no value, or null.
cfgitem *cfgitem_new(const char *key, int32_t type) {
    auto *item = static_cast<cfgitem *>(std::calloc(1, sizeof(cfgitem)));
    if (item == nullptr)
        return nullptr;
    dllist_init_node(&item->node);
    item->type = type;
    item->name = ::strdup(key);
    if (item->name == nullptr) {
        std::free(item);
        return nullptr;
    }
    return item;
}

// Links a complete item into the set, or releases it when the key is taken.
cfgset *insert_item(cfgset *set, cfgitem *item) {
    if (string_hash_put(&set->table, item->name, &item->node) != 0) {
        cfgitem_delete_node(&item->node);
        return nullptr;
    }
    ++set->count;
    return set;
}

cfgitem *find_item(const cfgset *set, const char *key) {
    PVOL_CHECK(set != nullptr);
    PVOL_CHECK(key != nullptr);
    dllist *node = string_hash_get(&set->table, key);
    return node != nullptr ? item_of(node) : nullptr;
}

// First item of the first non-empty bucket from index first_bucket on, or null.
const cfgitem *first_item_from(const cfgset *set, uint32_t first_bucket) {
    const uint32_t buckets = bucket_count(&set->table);
    for (uint32_t i = first_bucket; i < buckets; ++i) {
        const dllist *head = &set->table.buckets[i];
        if (!dllist_is_empty(head))
            return item_of(head->next);
    }
    return nullptr;
}

char *copy_bytes(const void *bytes, uint64_t length) {
    auto *copy = static_cast<char *>(std::malloc(length));
    if (copy != nullptr)
        std::memcpy(copy, bytes, length);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sets

cfgset *cfgset_new(int bits) {
    auto *set = static_cast<cfgset *>(std::calloc(1, sizeof(cfgset)));
    if (set == nullptr)
        return nullptr;
    if (string_hash_init(&set->table, bits, string_hash_function, cfgitem_match_node_name,
                         cfgitem_delete_node) != 0) {
        std::free(set);
        return nullptr;
    }
    set->count = 0;
    return set;
}

void cfgset_delete(cfgset *set) {
    if (set == nullptr)
        return;
    string_hash_destroy(&set->table);
    std::free(set);
}

cfgset *cfgset_add_int(cfgset *set, const char *key, int value) {
    if (find_item(set, key) != nullptr)
        return nullptr;
    cfgitem *item = cfgitem_new(key, INT_VAL);
    if (item == nullptr)
        return nullptr;
    item->value.i = value;
    return insert_item(set, item);
}

cfgset *cfgset_add_double(cfgset *set, const char *key, double value) {
    if (find_item(set, key) != nullptr)
        return nullptr;
    cfgitem *item = cfgitem_new(key, DBL_VAL);
    if (item == nullptr)
        return nullptr;
    item->value.d = value;
    return insert_item(set, item);
}

cfgset *cfgset_add_uint64(cfgset *set, const char *key, uint64_t value) {
    if (find_item(set, key) != nullptr)
        return nullptr;
    cfgitem *item = cfgitem_new(key, U64_VAL);
    if (item == nullptr)
        return nullptr;
    item->value.u = value;
    return insert_item(set, item);
}

cfgset *cfgset_add_string(cfgset *set, const char *key, const char *text) {
    if (find_item(set, key) != nullptr || text == nullptr)
        return nullptr;
    cfgitem *item = cfgitem_new(key, STR_VAL);
    if (item == nullptr)
        return nullptr;
    item->allocated_size = std::strlen(text) + 1;
    item->value.text = copy_bytes(text, item->allocated_size);
    if (item->value.text == nullptr) {
        cfgitem_delete_node(&item->node);
        return nullptr;
    }
    return insert_item(set, item);
}

cfgset *cfgset_add_buf(cfgset *set, const char *key, const void *bytes, uint64_t length) {
    // Stored buffers are never empty: readers rely on it.
    if (find_item(set, key) != nullptr || bytes == nullptr || length == 0)
        return nullptr;
    cfgitem *item = cfgitem_new(key, BIN_BUF);
    if (item == nullptr)
        return nullptr;
    item->allocated_size = length;
    item->value.buf = reinterpret_cast<unsigned char *>(copy_bytes(bytes, length));
    if (item->value.buf == nullptr) {
        cfgitem_delete_node(&item->node);
        return nullptr;
    }
    return insert_item(set, item);
}

cfgset *cfgset_remove(cfgset *set, const char *key) {
    PVOL_CHECK(set != nullptr);
    PVOL_CHECK(key != nullptr);
    dllist *node = string_hash_remove(&set->table, key);
    if (node == nullptr)
        return nullptr;
    set->table.destroy(node);
    --set->count;
    return set;
}

int cfgset_get_type(const cfgset *set, const char *key) {
    const cfgitem *item = find_item(set, key);
    return item != nullptr ? item->type : 0;
}

int cfgset_get_int(const cfgset *set, const char *key) {
    const cfgitem *item = find_item(set, key);
    return item != nullptr && item->type == INT_VAL ? item->value.i : 0;
}

double cfgset_get_double(const cfgset *set, const char *key) {
    const cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return std::numeric_limits<double>::quiet_NaN();
    PVOL_CHECK(item->type == DBL_VAL);
    return item->value.d;
}

uint64_t cfgset_get_uint64(const cfgset *set, const char *key) {
    const cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return 0;
    PVOL_CHECK(item->type == U64_VAL);
    return item->value.u;
}

char *cfgset_get_string(const cfgset *set, const char *key, char *buffer, uint64_t length) {
    const cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return nullptr;
    PVOL_CHECK(item->type == STR_VAL);
    // A failed cfgset_set_string leaves the item without text: nothing to copy.
    if (item->value.text == nullptr)
        return nullptr;
    return bounded_copy(buffer, item->value.text, length);
}

void *cfgset_get_buf(const cfgset *set, const char *key, void *buffer, uint64_t *length) {
    const cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return nullptr;
    PVOL_CHECK(item->type == BIN_BUF);
    PVOL_CHECK(item->allocated_size > 0);
    if (*length > item->allocated_size)
        *length = item->allocated_size;
    if (*length > 0)
        std::memcpy(buffer, item->value.buf, *length);
    return buffer;
}

int cfgset_set_int(cfgset *set, const char *key, int value) {
    cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return 1;
    PVOL_CHECK(item->type == INT_VAL);
    item->value.i = value;
    return 0;
}

int cfgset_set_double(cfgset *set, const char *key, double value) {
    cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return 1;
    PVOL_CHECK(item->type == DBL_VAL);
    item->value.d = value;
    return 0;
}

int cfgset_set_uint64(cfgset *set, const char *key, uint64_t value) {
    cfgitem *item = find_item(set, key);
    if (item == nullptr)
        return 1;
    PVOL_CHECK(item->type == U64_VAL);
    item->value.u = value;
    return 0;
}

int cfgset_set_string(cfgset *set, const char *key, const char *text) {
    cfgitem *item = find_item(set, key);
    if (item == nullptr || text == nullptr)
        return 1;
    PVOL_CHECK(item->type == STR_VAL);
    const uint64_t needed = std::strlen(text) + 1;
    if (item->value.text == nullptr || needed > item->allocated_size) {
        // The old text goes first; on failure the item stays without text.
        std::free(item->value.text);
        item->allocated_size = 0;
        item->value.text = copy_bytes(text, needed);
        if (item->value.text == nullptr)
            return 1;
        item->allocated_size = needed;
        return 0;
    }
    std::memcpy(item->value.text, text, needed);
    return 0;
}

int cfgset_set_units(cfgset *set, const char *key, const char *units) {
    cfgitem *item = find_item(set, key);
    if (item == nullptr || units == nullptr)
        return 1;
    std::free(item->units);
    item->units = ::strdup(units);
    return item->units != nullptr ? 0 : 1;
}

char *cfgset_get_units(const cfgset *set, const char *key, char *buffer, uint64_t length) {
    const cfgitem *item = find_item(set, key);
    if (item == nullptr || item->units == nullptr)
        return nullptr;
    return bounded_copy(buffer, item->units, length);
}

const cfgitem *cfgset_get_next_item(const cfgset *set, const cfgitem *item) {
    PVOL_CHECK(set != nullptr);
    if (item == nullptr)
        return first_item_from(set, 0);
    const dllist *next = item->node.next;
    const dllist *first_head = set->table.buckets;
    const dllist *end_head = first_head + bucket_count(&set->table);
    // A link into the bucket array is the end of a chain: go on with the next bucket.
    std::less<const dllist *> before;
    if (!before(next, first_head) && before(next, end_head)) {
        return first_item_from(set, static_cast<uint32_t>(next - first_head) + 1);
    }
    return item_of(next);
}

const char *cfgset_item_get_name(const cfgitem *item) {
    return item != nullptr ? item->name : nullptr;
}

namespace {

bool same_text(const char *a, const char *b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    return std::strcmp(a, b) == 0;
}

bool item_matches(const cfgitem *a, const cfgitem *b) {
    // Same-named items of different types are different, whatever their bits.
    if (a->type != b->type)
        return false;
    switch (a->type) {
        case INT_VAL:
            if (a->value.i != b->value.i)
                return false;
            break;
        case DBL_VAL:
            if (!(a->value.d == b->value.d))
                return false;
            break;
        case U64_VAL:
            if (a->value.u != b->value.u)
                return false;
            break;
        case STR_VAL:
            if (!same_text(a->value.text, b->value.text))
                return false;
            break;
        default:
            break;
    }
    if (a->allocated_size != b->allocated_size)
        return false;
    if (a->type == BIN_BUF && std::memcmp(a->value.buf, b->value.buf, a->allocated_size) != 0) {
        return false;
    }
    return (a->units == nullptr) == (b->units == nullptr);
}

}  // namespace

int cfgset_compare(const cfgset *a, const cfgset *b) {
    if (a == nullptr || b == nullptr)
        return a == b ? 1 : 0;
    for (const cfgitem *item = cfgset_get_next_item(a, nullptr); item != nullptr;
         item = cfgset_get_next_item(a, item)) {
        const cfgitem *other = find_item(b, item->name);
        if (other == nullptr || !item_matches(item, other))
            return 0;
    }
    return 1;
}

cfgset *cfgset_new_copy(const cfgset *set) {
    if (set == nullptr)
        return nullptr;
    cfgset *copy = cfgset_new(set->table.bits);
    if (copy == nullptr)
        return nullptr;
    for (const cfgitem *item = cfgset_get_next_item(set, nullptr); item != nullptr;
         item = cfgset_get_next_item(set, item)) {
        cfgitem *twin = cfgitem_new(item->name, item->type);
        bool ok = twin != nullptr;
        if (ok) {
            twin->value = item->value;
            twin->allocated_size = item->allocated_size;
            // Texts keep their whole stored capacity, so that the copy compares equal.
            if ((item->type == STR_VAL && item->value.text != nullptr) || item->type == BIN_BUF) {
                twin->value.text = copy_bytes(item->value.text, item->allocated_size);
                ok = twin->value.text != nullptr;
            } else if (item->type == STR_VAL) {
                twin->value.text = nullptr;
            }
        }
        if (ok && item->units != nullptr) {
            twin->units = ::strdup(item->units);
            ok = twin->units != nullptr;
        }
        if (!ok || insert_item(copy, twin) == nullptr) {
            if (!ok && twin != nullptr)
                cfgitem_delete_node(&twin->node);
            cfgset_delete(copy);
            return nullptr;
        }
    }
    return copy;
}
