#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "nav_system_internal.h"
#include "pvol/radar_ray.h"
#include "radar_ray_internal.h"
#include "pvol_handles.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

native_data_desc scale_of(int format, uint16_t not_scanned, uint16_t under_threshold) {
    native_data_desc scale{};
    scale.bin_format = format;
    scale.max_value = format == BITS_8 ? 255 : 65535;
    scale.min_value = 2;
    scale.step = 0.5;
    scale.offset = -32.0;
    scale.not_scanned = not_scanned;
    scale.under_threshold = under_threshold;
    return scale;
}

// Moments: 0 dBZ at 8 bits (not_scanned 0, under_threshold 1), 1 V at 16 bits (not_scanned
// 0xffff, under_threshold 0), 2 a custom moment in doubles, 3 ZDR as floats. Six bins each.
struct RayTest : ::testing::Test {
    const dscan mask{0.0, 250.0, 6};
    RayConfHandle rconf;
    const RayDataHandle buffer{radar_ray_data_new()};

    void SetUp() override {
        rconf.reset(rayconf_new(1000, 5.6e9, 13.4, 150, 1e-6, 32, 70, -40, 0.008, 1));
        const native_data_desc dbz = scale_of(BITS_8, 0, 1);
        const native_data_desc vel = scale_of(BITS_16, 0xffff, 0);
        const native_data_desc zdr = scale_of(BITS_32, 0, 0);
        rayconf_add_moment(rconf.get(), RD_DBZ, &mask, &dbz);
        rayconf_add_moment(rconf.get(), RD_VEL, &mask, &vel);
        rayconf_add_custom_moment(rconf.get(), "rain", "mm/h", &mask);
        rayconf_add_moment(rconf.get(), RD_ZDR, &mask, &zdr);
    }

    template <typename T>
    std::vector<T> contents(const radar_ray_data *data) {
        const auto *first = static_cast<const T *>(data->data);
        return std::vector<T>(first, first + data->bins);
    }

    void set_values(const std::vector<double> &values) {
        ASSERT_NE(radar_ray_data_resize(buffer.get(), BITS_64, values.size()), nullptr);
        std::memcpy(buffer->data, values.data(), values.size() * sizeof(double));
    }
};

TEST_F(RayTest, NewRayDefaultsAndUnfilledMomentsReadAsNoData) {
    RayConfHandle empty(rayconf_new(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(rray_new(empty.get(), nullptr, nullptr, nullptr, nullptr, 5), nullptr);
    EXPECT_EQ(rray_new(nullptr, nullptr, nullptr, nullptr, nullptr, 5), nullptr);
    empty.reset();

    RayHandle ray(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, 5));
    ASSERT_NE(ray, nullptr);
    EXPECT_EQ(rconf->ref, 2);
    EXPECT_EQ(rray_get_index(ray.get()), -1);
    EXPECT_EQ(rray_get_position(ray.get()), nullptr);
    EXPECT_EQ(ray->position_index, -1);
    const angle_interval az = rray_get_azimuth(ray.get());
    const angle_interval el = rray_get_elevation(ray.get());
    for (double angle : {az.start, az.between, az.stop, el.start, el.between, el.stop}) {
        EXPECT_TRUE(std::isnan(angle));
    }
    timeval time{1, 1};
    rray_get_time(ray.get(), &time);
    EXPECT_EQ(time.tv_sec, 0);
    EXPECT_EQ(time.tv_usec, 0);

    ASSERT_EQ(rray_get_native(ray.get(), 0, buffer.get()), buffer.get());
    EXPECT_EQ(contents<uint8_t>(buffer.get()), std::vector<uint8_t>(6, 0));
    ASSERT_EQ(rray_get_native(ray.get(), 1, buffer.get()), buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get()), std::vector<uint16_t>(6, 0xffff));
    ASSERT_EQ(rray_get_dat(ray.get(), 2, buffer.get()), buffer.get());
    for (double v : contents<double>(buffer.get()))
        EXPECT_TRUE(std::isnan(v));
    ASSERT_EQ(rray_get_dat(ray.get(), 3, buffer.get()), buffer.get());
    for (double v : contents<double>(buffer.get()))
        EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(rray_get_native(ray.get(), 4, buffer.get()), nullptr);
    EXPECT_EQ(rray_get_dat(ray.get(), -1, buffer.get()), nullptr);
    ray.reset();
    EXPECT_EQ(rconf->ref, 1);
}

TEST_F(RayTest, NativeCopiesPadWithNoData) {
    const angle_interval az{0.1, 0.15, 0.2};
    const timeval time{1000, 250};
    PositionHandle pos(rposition_new_fixed(nullptr));
    RayHandle ray(rray_new(rconf.get(), &az, nullptr, &time, pos.get(), 3));
    EXPECT_EQ(pos->ref, 2);
    EXPECT_EQ(ray->position_index, 3);
    EXPECT_EQ(rray_get_azimuth(ray.get()).between, 0.15);

    radar_ray_data_resize(buffer.get(), BITS_16, 2);
    static_cast<uint16_t *>(buffer->data)[0] = 100;
    static_cast<uint16_t *>(buffer->data)[1] = 200;
    ASSERT_EQ(rray_set_from_native(ray.get(), 1, buffer.get()), 0);
    rray_get_native(ray.get(), 1, buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get()),
              (std::vector<uint16_t>{100, 200, 0xffff, 0xffff, 0xffff, 0xffff}));

    radar_ray_data_resize(buffer.get(), BITS_8, 3);
    std::memcpy(buffer->data, "\x05\x06\x07", 3);
    ASSERT_EQ(rray_set_from_native(ray.get(), 0, buffer.get()), 0);
    rray_get_native(ray.get(), 0, buffer.get());
    EXPECT_EQ(contents<uint8_t>(buffer.get()), (std::vector<uint8_t>{5, 6, 7, 0, 0, 0}));

    radar_ray_data_resize(buffer.get(), BITS_64, 1);
    static_cast<double *>(buffer->data)[0] = 2.5;
    ASSERT_EQ(rray_set_from_native(ray.get(), 2, buffer.get()), 0);
    rray_get_native(ray.get(), 2, buffer.get());
    EXPECT_EQ(buffer->bins, 6u);
    EXPECT_EQ(contents<double>(buffer.get())[0], 2.5);
    EXPECT_TRUE(std::isnan(contents<double>(buffer.get())[1]));

    // Floats are not handed out natively.
    radar_ray_data_resize(buffer.get(), BITS_32, 1);
    EXPECT_EQ(rray_set_from_native(ray.get(), 3, buffer.get()), -1);
    ASSERT_EQ(rray_get_native(ray.get(), 3, buffer.get()), buffer.get());
    EXPECT_EQ(buffer->bins, 0u);
    EXPECT_EQ(rray_set_from_native(ray.get(), 4, buffer.get()), 1);

    RayHandle copy(rray_new_copy(ray.get()));
    EXPECT_EQ(pos->ref, 3);
    rray_get_native(copy.get(), 0, buffer.get());
    EXPECT_EQ(contents<uint8_t>(buffer.get()), (std::vector<uint8_t>{5, 6, 7, 0, 0, 0}));
    rray_get_native(copy.get(), 1, buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get())[1], 200);
    timeval copied{};
    EXPECT_EQ(rray_get_time(copy.get(), &copied)->tv_usec, 250);
    copy.reset();
    ray.reset();
    EXPECT_EQ(pos->ref, 1);
    pos.reset();

    // "No data" codes whose bytes differ, at 16 and at 8 bits.
    const native_data_desc uneven16 = scale_of(BITS_16, 0x1234, 0);
    const native_data_desc uneven8 = scale_of(BITS_8, 7, 0);
    ASSERT_EQ(rayconf_add_moment(rconf.get(), RD_SQI, &mask, &uneven16), 4);
    ASSERT_EQ(rayconf_add_moment(rconf.get(), RD_KDP, &mask, &uneven8), 5);
    ray.reset(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, -1));
    ASSERT_EQ(rray_get_native(ray.get(), 4, buffer.get()), buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get()), std::vector<uint16_t>(6, 0x1234));
    ASSERT_EQ(rray_get_native(ray.get(), 5, buffer.get()), buffer.get());
    EXPECT_EQ(contents<uint8_t>(buffer.get()), std::vector<uint8_t>(6, 7));
    radar_ray_data_resize(buffer.get(), BITS_16, 5);
    std::fill_n(static_cast<uint16_t *>(buffer->data), 5, uint16_t{1});
    ASSERT_EQ(rray_set_from_native(ray.get(), 4, buffer.get()), 0);
    radar_ray_data_resize(buffer.get(), BITS_16, 1);
    ASSERT_EQ(rray_set_from_native(ray.get(), 4, buffer.get()), 0);
    rray_get_native(ray.get(), 4, buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get()),
              (std::vector<uint16_t>{1, 0x1234, 0x1234, 0x1234, 0x1234, 0x1234}));
}

TEST_F(RayTest, PhysicalValuesWithSpecialCodesAndWrap) {
    RayHandle ray(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, -1));
    // 8 bits: code = (v + 32) / 0.5, min 2, max 255.
    set_values({-31.0, -32.0, kInf, -kInf, 96.0, 0.0});
    ASSERT_EQ(rray_set_dat(ray.get(), 0, buffer.get()), 0);
    rray_get_native(ray.get(), 0, buffer.get());
    // -32 gives code 0, below min 2: under threshold (1). 96 is one step above the top (256),
    // stored in 8 bits as 0, which is the no-data code.
    EXPECT_EQ(contents<uint8_t>(buffer.get()), (std::vector<uint8_t>{2, 1, 255, 1, 0, 64}));
    rray_get_dat(ray.get(), 0, buffer.get());
    const auto values = contents<double>(buffer.get());
    EXPECT_EQ(values[0], -31.0);
    EXPECT_EQ(values[1], -kInf);
    EXPECT_EQ(values[2], 95.5);
    EXPECT_TRUE(std::isnan(values[4]));
    EXPECT_EQ(values[5], 0.0);

    // 16 bits; missing bins count as NaN; truncation toward zero; far beyond the int range.
    set_values({std::nan(""), -30.99, 1e300, -1e300});
    ASSERT_EQ(rray_set_dat(ray.get(), 1, buffer.get()), 0);
    rray_get_native(ray.get(), 1, buffer.get());
    EXPECT_EQ(contents<uint16_t>(buffer.get()),
              (std::vector<uint16_t>{0xffff, 2, 65535, 0, 0xffff, 0xffff}));
    rray_get_dat(ray.get(), 1, buffer.get());
    EXPECT_TRUE(std::isnan(contents<double>(buffer.get())[0]));
    EXPECT_EQ(contents<double>(buffer.get())[3], -kInf);

    // Floats narrow, doubles pass unchanged.
    set_values({1.25, -kInf});
    ASSERT_EQ(rray_set_dat(ray.get(), 3, buffer.get()), 0);
    ASSERT_EQ(rray_set_dat(ray.get(), 2, buffer.get()), 0);
    rray_get_dat(ray.get(), 3, buffer.get());
    EXPECT_EQ(contents<double>(buffer.get())[0], 1.25);
    EXPECT_TRUE(std::isnan(contents<double>(buffer.get())[5]));
    rray_get_dat(ray.get(), 2, buffer.get());
    EXPECT_EQ(contents<double>(buffer.get())[1], -kInf);
}

TEST_F(RayTest, EqualSpecialCodesReadAsNoData) {
    RayConfHandle shared(rayconf_new(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    const native_data_desc scale = scale_of(BITS_8, 0, 0);
    rayconf_add_moment(shared.get(), RD_DBT, &mask, &scale);
    RayHandle ray(rray_new(shared.get(), nullptr, nullptr, nullptr, nullptr, -1));
    rray_get_dat(ray.get(), 0, buffer.get());
    EXPECT_TRUE(std::isnan(contents<double>(buffer.get())[0]));
}

TEST_F(RayTest, SlotsFollowMomentsAddedLater) {
    RayHandle ray(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, -1));
    const native_data_desc scale = scale_of(BITS_8, 0, 1);
    const dscan longer{0.0, 250.0, 8};
    ASSERT_EQ(rayconf_add_moment(rconf.get(), RD_SQI, &longer, &scale), 4);
    EXPECT_EQ(rray_get_native(ray.get(), 4, buffer.get()), nullptr);
    radar_ray_data_resize(buffer.get(), BITS_8, 8);
    std::memset(buffer->data, 9, 8);
    ASSERT_EQ(rray_set_from_native(ray.get(), 4, buffer.get()), 0);
    EXPECT_EQ(ray->count, 5u);
    ASSERT_EQ(rray_get_native(ray.get(), 4, buffer.get()), buffer.get());
    EXPECT_EQ(contents<uint8_t>(buffer.get()), std::vector<uint8_t>(8, 9));
}

TEST_F(RayTest, ConfigSwapPositionAndExtendedHeader) {
    RayHandle ray(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, -1));
    RayConfHandle twin(rayconf_new_copy(rconf.get()));
    RayConfHandle other(rayconf_new_copy(rconf.get()));
    EXPECT_EQ(rray_swap_config(ray.get(), twin.get(), other.get()), nullptr);
    EXPECT_EQ(rray_get_config(ray.get()), rconf.get());
    EXPECT_EQ(rconf->ref, 2);
    EXPECT_EQ(twin->ref, 1);
    EXPECT_EQ(rray_swap_config(ray.get(), twin.get(), rconf.get()), twin.get());
    EXPECT_EQ(rconf->ref, 1);
    EXPECT_EQ(twin->ref, 2);

    unsigned char header[4] = {1, 2, 3, 4};
    unsigned char out[4] = {};
    EXPECT_EQ(rray_add_exthdr(ray.get(), header), 0);  // size 0: nothing stored
    EXPECT_EQ(rray_get_exthdr(ray.get(), out), nullptr);
    raycon_set_exthdr_size(twin.get(), 4);
    EXPECT_EQ(rray_add_exthdr(ray.get(), header), 0);
    const unsigned char second[4] = {9, 9, 9, 9};
    EXPECT_EQ(rray_add_exthdr(ray.get(), second), 0);
    ASSERT_EQ(rray_get_exthdr(ray.get(), out), out);
    EXPECT_EQ(std::memcmp(out, header, 4), 0);
    RayHandle copy(rray_new_copy(ray.get()));
    EXPECT_EQ(rray_get_exthdr(copy.get(), out), nullptr);
    EXPECT_EQ(rray_get_index(copy.get()), -1);
    copy.reset();

    PositionHandle a(rposition_new_moving());
    PositionHandle b(rposition_new_moving());
    rray_set_position(ray.get(), a.get(), 2);
    rray_set_position(ray.get(), a.get(), 4);  // the same position again keeps its reference
    EXPECT_EQ(a->ref, 2);
    rray_set_position(ray.get(), b.get(), 1);
    EXPECT_EQ(a->ref, 1);
    EXPECT_EQ(b->ref, 2);
    rray_set_position(ray.get(), nullptr, 7);
    EXPECT_EQ(ray->position_index, -1);
    EXPECT_EQ(b->ref, 1);
}

using RayDeathTest = RayTest;

TEST_F(RayDeathTest, BrokenPreconditions) {
    RayHandle ray(rray_new(rconf.get(), nullptr, nullptr, nullptr, nullptr, -1));
    radar_ray_data_resize(buffer.get(), BITS_16, 2);
    EXPECT_DEATH(rray_set_from_native(ray.get(), 0, buffer.get()), "bin_type == dray->type");
    radar_ray_data_resize(buffer.get(), BITS_8, 7);
    EXPECT_DEATH(rray_set_from_native(ray.get(), 0, buffer.get()), "ray_max_length >= dray->bins");
    radar_ray_data_resize(buffer.get(), BITS_64, 7);
    EXPECT_DEATH(rray_set_dat(ray.get(), 0, buffer.get()), "dray->bins <= ray_length");
    EXPECT_DEATH(rray_swap_config(ray.get(), nullptr, rconf.get()), "new != \\(\\(void \\*\\)0\\)");
    EXPECT_DEATH(rray_swap_config(ray.get(), rconf.get(), rconf.get()), "old != new");
    ray.reset();

    RayConfHandle unknown(rayconf_new(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    const native_data_desc scale{};
    rayconf_add_moment(unknown.get(), RD_DBZ, &mask, &scale);
    EXPECT_DEATH(rray_new(unknown.get(), nullptr, nullptr, nullptr, nullptr, -1),
                 "ray->config->moment\\[i\\].scale.bin_format != BITS_UNKNOWN");
}

}  // namespace
