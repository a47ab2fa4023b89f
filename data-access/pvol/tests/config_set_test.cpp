#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pvol/config_set.h"
#include "config_set_internal.h"
#include "pvol_handles.h"

namespace {

ConfigSetHandle new_set() {
    return ConfigSetHandle(cfgset_new(4));
}

std::vector<std::string> item_names(const cfgset *set) {
    std::vector<std::string> names;
    for (const cfgitem *item = cfgset_get_next_item(set, nullptr); item != nullptr;
         item = cfgset_get_next_item(set, item)) {
        names.emplace_back(cfgset_item_get_name(item));
    }
    return names;
}

TEST(ConfigSetHashTest, PublishedValuesAndBuckets) {
    EXPECT_EQ(string_hash_function(""), 0xbd49d10du);
    EXPECT_EQ(string_hash_function("abc"), 0x251e4793u);
    EXPECT_EQ(string_hash_function("") & 15u, 13u);
    EXPECT_EQ(string_hash_function("abc") & 15u, 3u);
}

TEST(ConfigSetIterationTest, FollowsBucketsThenInsertion) {
    auto set = new_set();
    ASSERT_NE(cfgset_add_int(set.get(), "", 1), nullptr);
    ASSERT_NE(cfgset_add_int(set.get(), "abc", 2), nullptr);
    EXPECT_EQ(item_names(set.get()), (std::vector<std::string>{"abc", ""}));

    // Many keys, long ones included (the hash's 12-byte blocks): each visited once, buckets
    // ascending, and within a bucket in the order of adding.
    auto many = new_set();
    std::vector<std::string> added;
    for (int i = 0; i < 60; ++i) {
        added.push_back("ORVA Sweep Attribute number " + std::to_string(i * 7));
        ASSERT_NE(cfgset_add_int(many.get(), added.back().c_str(), i), nullptr);
    }
    const auto names = item_names(many.get());
    ASSERT_EQ(names.size(), added.size());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              std::set<std::string>(added.begin(), added.end()));
    for (size_t i = 1; i < names.size(); ++i) {
        const uint32_t prev_bucket = string_hash_function(names[i - 1].c_str()) & 15u;
        const uint32_t bucket = string_hash_function(names[i].c_str()) & 15u;
        ASSERT_LE(prev_bucket, bucket);
        if (prev_bucket == bucket) {
            ASSERT_LT(cfgset_get_int(many.get(), names[i - 1].c_str()),
                      cfgset_get_int(many.get(), names[i].c_str()));
        }
    }

    auto empty = new_set();
    EXPECT_EQ(cfgset_get_next_item(empty.get(), nullptr), nullptr);
    EXPECT_EQ(cfgset_item_get_name(nullptr), nullptr);
}

TEST(ConfigSetAddTest, NeverReplacesAndRemoveEmptiesTheSet) {
    auto set = new_set();
    ASSERT_EQ(cfgset_add_int(set.get(), "k", 7), set.get());
    EXPECT_EQ(cfgset_add_int(set.get(), "k", 8), nullptr);
    EXPECT_EQ(cfgset_add_string(set.get(), "k", "text"), nullptr);
    EXPECT_EQ(set->count, 1u);
    EXPECT_EQ(cfgset_get_int(set.get(), "k"), 7);
    EXPECT_EQ(cfgset_get_type(set.get(), "k"), INT_VAL);

    const unsigned char empty_buf[1] = {0};
    EXPECT_EQ(cfgset_add_buf(set.get(), "b", empty_buf, 0), nullptr);
    EXPECT_EQ(cfgset_get_type(set.get(), "b"), 0);

    EXPECT_EQ(cfgset_remove(set.get(), "absent"), nullptr);
    EXPECT_EQ(cfgset_remove(set.get(), "k"), set.get());
    EXPECT_EQ(set->count, 0u);
    EXPECT_EQ(cfgset_get_next_item(set.get(), nullptr), nullptr);
    EXPECT_EQ(cfgset_get_type(set.get(), "k"), 0);
}

TEST(ConfigSetGetTest, AbsentKeysLeaveBuffersAlone) {
    auto set = new_set();
    EXPECT_TRUE(std::isnan(cfgset_get_double(set.get(), "x")));
    EXPECT_EQ(cfgset_get_int(set.get(), "x"), 0);
    EXPECT_EQ(cfgset_get_uint64(set.get(), "x"), 0u);
    char text[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(cfgset_get_string(set.get(), "x", text, sizeof text), nullptr);
    EXPECT_EQ(cfgset_get_units(set.get(), "x", text, sizeof text), nullptr);
    uint64_t length = sizeof text;
    EXPECT_EQ(cfgset_get_buf(set.get(), "x", text, &length), nullptr);
    EXPECT_EQ(length, sizeof text);
    EXPECT_EQ(std::memcmp(text, "abcd", 4), 0);
    EXPECT_EQ(cfgset_set_int(set.get(), "x", 1), 1);
    EXPECT_EQ(cfgset_set_string(set.get(), "x", "t"), 1);
    EXPECT_EQ(cfgset_set_units(set.get(), "x", "m"), 1);
    EXPECT_EQ(cfgset_get_next_item(set.get(), nullptr), nullptr);
}

TEST(ConfigSetGetTest, TypedValuesAndBoundedCopies) {
    auto set = new_set();
    const uint64_t big = 0xfedcba9876543210ull;
    ASSERT_NE(cfgset_add_uint64(set.get(), "u", big), nullptr);
    ASSERT_NE(cfgset_add_double(set.get(), "d", -2.5), nullptr);
    ASSERT_NE(cfgset_add_string(set.get(), "s", "abcd"), nullptr);
    EXPECT_EQ(cfgset_get_uint64(set.get(), "u"), big);
    EXPECT_EQ(cfgset_get_int(set.get(), "u"), 0);  // not an INT_VAL
    EXPECT_EQ(cfgset_get_double(set.get(), "d"), -2.5);

    char exact[4];
    ASSERT_EQ(cfgset_get_string(set.get(), "s", exact, sizeof exact), exact);
    EXPECT_EQ(std::memcmp(exact, "abcd", 4), 0);  // four bytes, no terminator
    char roomy[8];
    std::memset(roomy, 'x', sizeof roomy);
    cfgset_get_string(set.get(), "s", roomy, sizeof roomy);
    EXPECT_EQ(std::memcmp(roomy, "abcd\0\0\0\0", 8), 0);

    ASSERT_EQ(cfgset_set_uint64(set.get(), "u", 5), 0);
    EXPECT_EQ(cfgset_get_uint64(set.get(), "u"), 5u);
    ASSERT_EQ(cfgset_set_double(set.get(), "d", 1.0), 0);
    EXPECT_EQ(cfgset_get_double(set.get(), "d"), 1.0);
    ASSERT_EQ(cfgset_set_string(set.get(), "s", "a much longer text"), 0);
    cfgset_get_string(set.get(), "s", roomy, sizeof roomy);
    EXPECT_EQ(std::memcmp(roomy, "a much l", 8), 0);
}

TEST(ConfigSetGetTest, BuffersAndUnits) {
    auto set = new_set();
    const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_NE(cfgset_add_buf(set.get(), "b", bytes, sizeof bytes), nullptr);
    unsigned char out[10] = {};
    uint64_t length = sizeof out;
    ASSERT_EQ(cfgset_get_buf(set.get(), "b", out, &length), out);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::memcmp(out, bytes, 6), 0);
    unsigned char part[3] = {};
    length = sizeof part;
    cfgset_get_buf(set.get(), "b", part, &length);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(part, bytes, 3), 0);

    char units[8];
    EXPECT_EQ(cfgset_get_units(set.get(), "b", units, sizeof units), nullptr);
    ASSERT_EQ(cfgset_set_units(set.get(), "b", "dBZ"), 0);
    ASSERT_EQ(cfgset_set_units(set.get(), "b", "m/s"), 0);
    ASSERT_EQ(cfgset_get_units(set.get(), "b", units, sizeof units), units);
    EXPECT_STREQ(units, "m/s");
}

TEST(ConfigSetCompareTest, BHoldsA) {
    auto a = new_set();
    auto b = new_set();
    EXPECT_EQ(cfgset_compare(nullptr, nullptr), 1);
    EXPECT_EQ(cfgset_compare(a.get(), nullptr), 0);
    EXPECT_EQ(cfgset_compare(nullptr, a.get()), 0);
    for (cfgset *set : {a.get(), b.get()}) {
        cfgset_add_int(set, "i", 3);
        cfgset_add_double(set, "d", 0.25);
        cfgset_add_string(set, "s", "name");
        const unsigned char bytes[3] = {9, 8, 7};
        cfgset_add_buf(set, "b", bytes, 3);
    }
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 1);
    cfgset_add_uint64(b.get(), "extra", 1);
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 1);
    EXPECT_EQ(cfgset_compare(b.get(), a.get()), 0);

    cfgset_set_units(a.get(), "i", "km");
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 0);
    cfgset_set_units(b.get(), "i", "m");  // only presence of units counts
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 1);

    uint64_t length = 3;
    unsigned char changed[3] = {9, 8, 6};
    cfgset_remove(b.get(), "b");
    cfgset_add_buf(b.get(), "b", changed, length);
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 0);
}

TEST(ConfigSetCompareTest, StoredCapacityTypesAndNaN) {
    auto a = new_set();
    auto b = new_set();
    cfgset_add_string(a.get(), "s", "ab");
    cfgset_add_string(b.get(), "s", "abcdef");
    ASSERT_EQ(cfgset_set_string(b.get(), "s", "ab"), 0);
    EXPECT_EQ(b->count, 1u);
    EXPECT_EQ(cfgset_compare(a.get(), b.get()), 0);  // same text, larger stored capacity

    auto ints = new_set();
    auto doubles = new_set();
    cfgset_add_int(ints.get(), "v", 0);
    cfgset_add_double(doubles.get(), "v", 0.0);
    EXPECT_EQ(cfgset_compare(ints.get(), doubles.get()), 0);
    EXPECT_EQ(cfgset_compare(doubles.get(), ints.get()), 0);

    auto nan = new_set();
    cfgset_add_double(nan.get(), "v", std::nan(""));
    EXPECT_EQ(cfgset_compare(nan.get(), nan.get()), 0);
}

TEST(ConfigSetCopyTest, KeepsCapacitiesUnitsAndOrder) {
    auto set = new_set();
    cfgset_add_string(set.get(), "s", "a long text");
    cfgset_set_string(set.get(), "s", "x");
    cfgset_add_int(set.get(), "abc", 1);
    cfgset_add_int(set.get(), "", 2);
    cfgset_set_units(set.get(), "abc", "dB");
    const unsigned char bytes[2] = {1, 2};
    cfgset_add_buf(set.get(), "b", bytes, 2);
    ConfigSetHandle copy(cfgset_new_copy(set.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->count, set->count);
    EXPECT_EQ(item_names(copy.get()), item_names(set.get()));
    EXPECT_EQ(cfgset_compare(set.get(), copy.get()), 1);
    EXPECT_EQ(cfgset_compare(copy.get(), set.get()), 1);
}

TEST(ConfigSetDeathTest, TypedAccessOfAnotherType) {
    auto set = new_set();
    cfgset_add_int(set.get(), "i", 1);
    EXPECT_DEATH(cfgset_get_double(set.get(), "i"), "item->type == DBL_VAL");
    EXPECT_DEATH(cfgset_set_string(set.get(), "i", "x"), "item->type == STR_VAL");
    char buffer[4];
    EXPECT_DEATH(cfgset_get_string(set.get(), "i", buffer, 4), "item->type == STR_VAL");
}

}  // namespace
