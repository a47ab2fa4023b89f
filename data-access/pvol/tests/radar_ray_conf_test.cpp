#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "pvol/nav_system.h"
#include "nav_system_internal.h"
#include "pvol/radar_ray.h"
#include "radar_ray_internal.h"
#include "pvol_handles.h"

namespace {

constexpr dscan kRangeMask{250.0, 500.0, 400};

native_data_desc scale_8bit() {
    native_data_desc scale{};
    scale.bin_format = BITS_8;
    scale.max_value = 255;
    scale.min_value = 1;
    scale.step = 0.5;
    scale.offset = -32.0;
    return scale;
}

radar_ray_conf *new_conf() {
    radar_ray_conf *rconf =
        rayconf_new(1000.0, 5.6e9, 13.4, 150.0, 1e-6, 32, 70.0, -40.0, 0.008, 1);
    const native_data_desc scale = scale_8bit();
    rayconf_add_moment(rconf, RD_DBZ, &kRangeMask, &scale);
    rayconf_add_custom_moment(rconf, "rainrate", "mm/h", &kRangeMask);
    return rconf;
}

TEST(TypeTableTest, RowsAreInValueOrder) {
    for (int t = -1; t < MAX_RD - 1; ++t)
        EXPECT_EQ(raw_data_types[t + 1].type, t);
    EXPECT_EQ(raw_data_types[RD_DBZ + 1].orva_code_8, 2);
    EXPECT_EQ(raw_data_types[RD_DBZ + 1].orva_code_16, 9);
    EXPECT_STREQ(raw_data_types[RD_DBZ + 1].name_16, "dBZ2");
    EXPECT_STREQ(raw_data_types[RD_HCLASS + 1].name_16, "HCl2");
    EXPECT_EQ(raw_data_types[RD_ANY + 1].orva_code_8, 34);
}

TEST(RayDataBufferTest, GrowsButNeverShrinks) {
    RayDataHandle buffer(radar_ray_data_new());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, BITS_UNKNOWN);
    ASSERT_EQ(radar_ray_data_resize(buffer.get(), BITS_16, 100), buffer.get());
    EXPECT_EQ(buffer->capacity, 200u);
    ASSERT_EQ(radar_ray_data_resize(buffer.get(), BITS_8, 10), buffer.get());
    EXPECT_EQ(buffer->type, BITS_8);
    EXPECT_EQ(buffer->bins, 10u);
    EXPECT_EQ(buffer->capacity, 200u);
    EXPECT_EQ(radar_ray_data_resize(buffer.get(), BITS_UNKNOWN, 10), nullptr);
    EXPECT_EQ(radar_ray_data_resize(buffer.get(), 5, 10), nullptr);
    EXPECT_EQ(buffer->type, BITS_8);
}

TEST(RayConfTest, MomentsAndIndexes) {
    RayConfHandle rconf(rayconf_new(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
    const native_data_desc scale = scale_8bit();
    EXPECT_EQ(rayconf_add_moment(rconf.get(), RD_ANY, &kRangeMask, &scale), -1);
    EXPECT_EQ(rayconf_add_moment(rconf.get(), RD_CUSTOM, &kRangeMask, &scale), -1);
    EXPECT_EQ(rayconf_get_moments_count(rconf.get()), 0u);
    EXPECT_EQ(rayconf_add_moment(rconf.get(), RD_HCLASS, &kRangeMask, &scale), 0);
    EXPECT_EQ(rayconf_get_moment_index(rconf.get(), RD_VEL), -1);
    EXPECT_EQ(rayconf_add_moment(rconf.get(), RD_VEL, &kRangeMask, &scale), 1);
    EXPECT_EQ(rayconf_add_moment(rconf.get(), RD_VEL, &kRangeMask, &scale), 2);
    EXPECT_EQ(rayconf_get_moment_index(rconf.get(), RD_VEL), 2);
    EXPECT_EQ(rayconf_add_custom_moment(rconf.get(), "x", nullptr, &kRangeMask), -1);
    EXPECT_EQ(rayconf_add_custom_moment(rconf.get(), "rainrate", "mm/h", &kRangeMask), 3);
    EXPECT_EQ(rayconf_get_moments_count(rconf.get()), 4u);

    EXPECT_EQ(rayconf_get_moment(rconf.get(), -1), nullptr);
    EXPECT_EQ(rayconf_get_moment(rconf.get(), 4), nullptr);
    EXPECT_EQ(rayconf_get_moment(nullptr, 0), nullptr);
    const radar_moment *standard = rayconf_get_moment(rconf.get(), 0);
    EXPECT_EQ(rmoment_get_raw_type(standard), RD_HCLASS);
    EXPECT_EQ(rmoment_get_name(standard), nullptr);
    native_data_desc got_scale;
    ASSERT_EQ(rmoment_get_scale(standard, &got_scale), &got_scale);
    EXPECT_EQ(std::memcmp(&got_scale, &scale, sizeof scale), 0);

    const radar_moment *custom = rayconf_get_moment(rconf.get(), 3);
    EXPECT_EQ(rmoment_get_raw_type(custom), RD_CUSTOM);
    EXPECT_STREQ(rmoment_get_name(custom), "rainrate");
    EXPECT_STREQ(rmoment_get_units(custom), "mm/h");
    rmoment_get_scale(custom, &got_scale);
    EXPECT_EQ(got_scale.bin_format, BITS_64);
    EXPECT_EQ(got_scale.max_value, 0);
    EXPECT_EQ(rmoment_get_scale(nullptr, &got_scale), nullptr);

    EXPECT_EQ(raycon_set_exthdr_size(rconf.get(), 20), 0);
    EXPECT_EQ(raycon_set_exthdr_size(rconf.get(), 30), 1);
    EXPECT_EQ(rayconf_get_exthdr_size(rconf.get()), 20u);
}

TEST(RayConfTest, AttributesWithoutASetReadAsNothing) {
    RayConfHandle rconf(new_conf());
    char text[8];
    EXPECT_EQ(rayconf_get_double(rconf.get(), "ORVA Ray Log Threshold"), 0.0);
    EXPECT_EQ(rayconf_get_string(rconf.get(), "k", text, sizeof text), nullptr);
    EXPECT_EQ(rayconf_add_string(rconf.get(), "k", "value"), 0);
    EXPECT_EQ(rayconf_add_string(rconf.get(), "k", "other"), 1);
    EXPECT_TRUE(std::isnan(rayconf_get_double(rconf.get(), "ORVA Ray Log Threshold")));
    EXPECT_STREQ(rayconf_get_string(rconf.get(), "k", text, sizeof text), "value");
}

TEST(RayConfTest, Equivalence) {
    RayConfHandle a(new_conf());
    RayConfHandle b(new_conf());
    EXPECT_EQ(rayconf_compare(a.get(), b.get()), 1);
    EXPECT_EQ(raycon_set_exthdr_size(b.get(), 12), 0);  // takes no part
    EXPECT_EQ(rayconf_compare(a.get(), b.get()), 1);

    // A configuration without attributes holds no set at all, which matches no set but a set.
    rayconf_add_double(b.get(), "ORVA Ray SQI Threshold", 0.4);
    EXPECT_EQ(rayconf_compare(a.get(), b.get()), 0);
    rayconf_add_double(a.get(), "ORVA Ray SQI Threshold", 0.4);
    EXPECT_EQ(rayconf_compare(a.get(), b.get()), 1);
    rayconf_add_double(b.get(), "ORVA Ray Log Threshold", -1.0);
    EXPECT_EQ(rayconf_compare(a.get(), b.get()), 1);
    EXPECT_EQ(rayconf_compare(b.get(), a.get()), 0);

    RayConfHandle renamed(rayconf_new(1000.0, 5.6e9, 13.4, 150.0, 1e-6, 32, 70.0, -40.0, 0.008, 1));
    const native_data_desc scale = scale_8bit();
    rayconf_add_moment(renamed.get(), RD_DBZ, &kRangeMask, &scale);
    rayconf_add_custom_moment(renamed.get(), "rainrate", "mm/hr", &kRangeMask);
    EXPECT_EQ(rayconf_compare(a.get(), renamed.get()), 0);

    RayConfHandle other_scale(
        rayconf_new(1000.0, 5.6e9, 13.4, 150.0, 1e-6, 32, 70.0, -40.0, 0.008, 1));
    native_data_desc cyclic = scale;
    cyclic.cyclic = 1;
    rayconf_add_moment(other_scale.get(), RD_DBZ, &kRangeMask, &cyclic);
    rayconf_add_custom_moment(other_scale.get(), "rainrate", "mm/h", &kRangeMask);
    EXPECT_EQ(rayconf_compare(a.get(), other_scale.get()), 0);

    // -0.0 equals 0.0 as a number, but properties compare bit for bit.
    RayConfHandle zero(rayconf_new(0.0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    RayConfHandle negative_zero(rayconf_new(-0.0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(rayconf_compare(zero.get(), negative_zero.get()), 0);

    RayConfHandle copy(rayconf_new_copy(b.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(rayconf_compare(b.get(), copy.get()), 1);
    EXPECT_EQ(rayconf_compare(copy.get(), b.get()), 1);
    EXPECT_STREQ(rmoment_get_units(rayconf_get_moment(copy.get(), 1)), "mm/h");
    EXPECT_NE(rmoment_get_units(rayconf_get_moment(copy.get(), 1)),
              rmoment_get_units(rayconf_get_moment(b.get(), 1)));
}

TEST(RayConfDeathTest, ReferenceCountingInvariants) {
    radar_ray_conf *rconf = new_conf();
    rayconf_ref(rconf);
    EXPECT_EQ(rconf->ref, 2);
    rayconf_unref(rconf);
    rconf->ref = 0;
    EXPECT_DEATH(rayconf_ref(rconf), "rconf->ref > 0");
    EXPECT_DEATH(rayconf_unref(rconf), "rconf->ref > 0");
    rconf->ref = 1;

    dllist head;
    dllist_init_head(&head);
    dllist_insert_before(rayconf_get_node(rconf), &head);
    EXPECT_EQ(rayconf_from_node(head.next), rconf);
    EXPECT_DEATH(rayconf_unref(rconf), "rconf->node.next == \\(\\(\\(void \\*\\)0\\)\\)");
    dllist_remove(rayconf_get_node(rconf));
    rayconf_unref(rconf);
}

TEST(PositionTest, FixedAndMoving) {
    const rposition_fixed site{0.8, 0.4, 120.0, 150.5};
    rposition *fixed = rposition_new_fixed(&site);
    rposition *zero = rposition_new_fixed(nullptr);
    rposition *moving = rposition_new_moving();
    ASSERT_TRUE(fixed && zero && moving);

    rposition_fixed out{};
    ASSERT_EQ(rposition_get_fixed(fixed, &out), &out);
    EXPECT_EQ(out.ground_height, 120.0);
    EXPECT_EQ(out.altitude, 150.5);
    rposition_get_fixed(zero, &out);
    EXPECT_EQ(out.latitude, 0.0);
    EXPECT_EQ(rposition_get_fixed(moving, &out), nullptr);
    rposition_nav nav;
    EXPECT_EQ(rposition_get_nav(moving, 0, &nav), nullptr);
    EXPECT_EQ(rposition_get_nav(moving, -1, &nav), nullptr);
    EXPECT_EQ(rposition_get_nav(fixed, 0, &nav), nullptr);

    rposition *same_site = rposition_new_fixed(&site);
    EXPECT_EQ(rposition_is_equiv(fixed, same_site), 1);
    EXPECT_EQ(rposition_is_equiv(fixed, zero), 0);
    EXPECT_EQ(rposition_is_equiv(zero, moving), 0);  // different kinds
    EXPECT_EQ(rposition_is_equiv(moving, zero), 0);
    rposition *other_moving = rposition_new_moving();
    EXPECT_EQ(rposition_is_equiv(moving, other_moving), 1);

    EXPECT_EQ(rposition_ref(fixed), fixed);
    EXPECT_EQ(fixed->ref, 2);
    rposition_unref(fixed);
    for (rposition *pos : {fixed, zero, moving, same_site, other_moving})
        rposition_unref(pos);

    // A released position in caller storage: neither ref nor unref touches it.
    rposition released{};
    released.ref = 0;
    EXPECT_EQ(rposition_ref(&released), nullptr);
    rposition_unref(&released);
    EXPECT_EQ(released.ref, 0);
}

}  // namespace
