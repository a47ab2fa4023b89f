#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <cstdio>
#include <string>
#include <vector>

#include "nav_system_internal.h"
#include "radar_ray_internal.h"
#include "pvol/radar_scan.h"
#include "radar_sweep_internal.h"
#include "pvol_handles.h"
#include "reader_checks.h"

namespace {

using rawfile::sweeps_of;

constexpr double kDegree = 3.141592653589793 / 180.0;
constexpr dscan kMask{125.0, 250.0, 3};
constexpr dscan kSector{0.0, kDegree, 360};

ScanHandle new_scan() {
    const rposition_fixed site{1.0, 0.3, 100.0, 120.0};
    return ScanHandle(
        pvol_new("VOL_A", "Volume scan", "SITE", "Test site", RPOSITION_FIXED, &site));
}

// A sweep built the way a reader builds one: fresh configurations, two rays, the creator's
// references dropped at the end. extra_ray_attribute and extra_sweep_attribute make the
// configurations differ from the plain ones.
radar_sweep *build_sweep(double elevation_degrees, long seconds,
                         const char *extra_ray_attribute = nullptr,
                         const char *extra_sweep_attribute = nullptr) {
    radar_ray_conf *rconf = rayconf_new(1000, 5.6e9, 13.4, 150, 1e-6, 32, 70, -40, 0.008, 1);
    native_data_desc dbz{};
    dbz.bin_format = BITS_8;
    dbz.step = 0.5;
    dbz.offset = -32;
    native_data_desc vel{};
    vel.bin_format = BITS_16;
    vel.step = 0.01;
    rayconf_add_moment(rconf, RD_DBZ, &kMask, &dbz);
    rayconf_add_moment(rconf, RD_VEL, &kMask, &vel);
    rayconf_add_double(rconf, "ORVA Ray Log Threshold", 0.5);
    if (extra_ray_attribute != nullptr)
        rayconf_add_int(rconf, extra_ray_attribute, 1);

    radar_sweep_conf *sconf = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(sconf, rconf);
    sweepconf_add_string(sconf, "ORVA Scan Task Name", "VOL_A");
    if (extra_sweep_attribute != nullptr)
        sweepconf_add_int(sconf, extra_sweep_attribute, 1);

    radar_sweep *sweep = rsweep_new(sconf);
    const double elevation = elevation_degrees * kDegree;
    for (int i = 0; i < 2; ++i) {
        const angle_interval az{i * kDegree, (i + 0.5) * kDegree, (i + 1) * kDegree};
        const angle_interval el{elevation, elevation, elevation};
        const timeval time{seconds + i, 500000};
        rposition *own = rposition_new_fixed(nullptr);
        rsweep_add_ray(sweep, rray_new(rconf, &az, &el, &time, own, 0));
        rposition_unref(own);
    }
    rsweep_set_fixed_angle(sweep, elevation);
    const timeval time{seconds, 500000};
    rsweep_set_time(sweep, &time);
    sweepconf_unref(sconf);
    rayconf_unref(rconf);
    return sweep;
}

std::string dump(int (*dumper)(const radar_scan *, FILE *), const radar_scan *scan) {
    char *text = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&text, &size);
    EXPECT_EQ(dumper(scan, stream), 0);
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(ScanTest, NewScanTextsAndAttributes) {
    EXPECT_EQ(pvol_new("a", "b", "c", "d", RPOSITION_MOVING, nullptr), nullptr);
    EXPECT_EQ(pvol_delete(nullptr), 1);

    ScanHandle bare(pvol_new(nullptr, nullptr, "SITE", nullptr, RPOSITION_FIXED, nullptr));
    char text[16];
    EXPECT_EQ(pvol_get_site_info(bare.get(), text, sizeof text), nullptr);
    EXPECT_STREQ(pvol_get_site_name(bare.get(), text, sizeof text), "SITE");
    rposition_fixed fixed{1, 1, 1, 1};
    rposition_get_fixed(pvol_get_position(bare.get()), &fixed);
    EXPECT_EQ(fixed.altitude, 0.0);
    EXPECT_EQ(pvol_get_next_sweep(bare.get(), nullptr), nullptr);
    EXPECT_EQ(pvol_get_next_sweepconf(bare.get(), nullptr), nullptr);
    EXPECT_EQ(pvol_get_next_rayconf(bare.get(), nullptr), nullptr);

    auto scan = new_scan();
    EXPECT_EQ(pvol_set_name(scan.get(), nullptr), 1);
    EXPECT_STREQ(pvol_get_name(scan.get(), text, sizeof text), "VOL_A");
    EXPECT_EQ(pvol_set_name(scan.get(), "A much longer task name"), 0);
    char short_text[4];
    pvol_get_name(scan.get(), short_text, sizeof short_text);
    EXPECT_EQ(std::string(short_text, 4), "A mu");
    EXPECT_EQ(pvol_set_info(scan.get(), ""), 0);
    EXPECT_STREQ(pvol_get_info(scan.get(), text, sizeof text), "");

    // Without attributes a double reads 0.0; with a set, an absent key reads NaN.
    EXPECT_EQ(pvol_get_double(scan.get(), "isotherm_0C"), 0.0);
    EXPECT_EQ(pvol_add_double(scan.get(), "isotherm_0C", 2500.0), 0);
    EXPECT_EQ(pvol_add_double(scan.get(), "isotherm_0C", 0.0), 1);
    EXPECT_EQ(pvol_get_double(scan.get(), "isotherm_0C"), 2500.0);
    EXPECT_TRUE(std::isnan(pvol_get_double(scan.get(), "absent")));
}

TEST(ScanTest, EquivalentConfigurationsAreRegisteredOnce) {
    auto scan = new_scan();
    for (int i = 0; i < 3; ++i) {
        radar_sweep *sweep = build_sweep(0.5 + i, 100 * i);
        ASSERT_EQ(pvol_add_sweep(scan.get(), sweep), sweep);
    }
    EXPECT_EQ(pvol_get_sweeps_count(scan.get()), 3u);
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 1u);
    EXPECT_EQ(pvol_get_rayconf_count(scan.get()), 1u);
    radar_sweep_conf *sconf = pvol_get_next_sweepconf(scan.get(), nullptr);
    radar_ray_conf *rconf = pvol_get_next_rayconf(scan.get(), nullptr);
    EXPECT_EQ(pvol_get_next_sweepconf(scan.get(), sconf), nullptr);
    EXPECT_EQ(pvol_get_next_rayconf(scan.get(), rconf), nullptr);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, nullptr), rconf);
    EXPECT_EQ(sconf->ref, 1 + 3);      // the scan and three sweeps
    EXPECT_EQ(rconf->ref, 1 + 1 + 6);  // the scan, the sweep configuration and six rays
    for (radar_sweep *sweep : sweeps_of(scan.get())) {
        EXPECT_EQ(rsweep_get_config(sweep), sconf);
        EXPECT_EQ(rsweep_get_my_scan(sweep), scan.get());
        for (int i = 0; i < 2; ++i) {
            const radar_ray *ray = rsweep_get_ray(sweep, i);
            EXPECT_EQ(rray_get_config(ray), rconf);
            EXPECT_EQ(rray_get_position(ray), pvol_get_position(scan.get()));
            EXPECT_EQ(ray->position_index, -1);
        }
        EXPECT_EQ(rsweep_get_position(sweep), pvol_get_position(scan.get()));
    }
}

TEST(ScanTest, AnExtraAttributeOnEitherSideMakesANewConfiguration) {
    auto scan = new_scan();
    pvol_add_sweep(scan.get(), build_sweep(0.5, 0));
    pvol_add_sweep(scan.get(), build_sweep(1.5, 10, nullptr, "ORVA Sweep Minor Task ID"));
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 2u);
    EXPECT_EQ(pvol_get_rayconf_count(scan.get()), 1u);
    pvol_add_sweep(scan.get(), build_sweep(2.5, 20, "ORVA Ray SQI Threshold"));
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 3u);
    EXPECT_EQ(pvol_get_rayconf_count(scan.get()), 2u);

    // First-seen order; the third sweep's rays use the second ray configuration.
    radar_ray_conf *first = pvol_get_next_rayconf(scan.get(), nullptr);
    radar_ray_conf *second = pvol_get_next_rayconf(scan.get(), first);
    EXPECT_EQ(rayconf_is_defined(second, "ORVA Ray SQI Threshold"), 1);
    const auto sweeps = sweeps_of(scan.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweeps[1], 0)), first);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweeps[2], 1)), second);
}

TEST(ScanTest, ConfigurationsPairWithRegisteredOnesBothWays) {
    // Registered [a, b] where b is a plus one attribute; a sweep listing [b', a'] takes them
    // over, each ray keeping the configuration with its attributes.
    auto scan = new_scan();
    radar_sweep *first = build_sweep(0.5, 0);
    radar_ray_conf *a = sweepconf_get_next_rayconf(rsweep_get_config(first), nullptr);
    radar_ray_conf *b = rayconf_new_copy(a);
    rayconf_add_int(b, "ORVA Ray Extra", 1);
    sweepconf_add_rayconf(rsweep_get_config(first), b);
    rayconf_unref(b);
    pvol_add_sweep(scan.get(), first);

    radar_sweep *second = build_sweep(1.5, 10, "ORVA Ray Extra");
    radar_sweep_conf *sconf = rsweep_get_config(second);
    radar_ray_conf *b_second = sweepconf_get_next_rayconf(sconf, nullptr);
    radar_ray_conf *a_second = rayconf_new_copy(a);
    sweepconf_add_rayconf(sconf, a_second);
    const angle_interval az{0, 0, 0};
    const timeval time{20, 0};
    rsweep_add_ray(second, rray_new(a_second, &az, &az, &time, nullptr, -1));
    rayconf_unref(a_second);

    ASSERT_EQ(pvol_add_sweep(scan.get(), second), second);
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 1u);
    EXPECT_EQ(pvol_get_rayconf_count(scan.get()), 2u);
    EXPECT_EQ(rsweep_get_config(second), rsweep_get_config(first));
    EXPECT_EQ(rray_get_config(rsweep_get_ray(second, 0)), b);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(second, 2)), a);
    EXPECT_NE(b_second, b);
}

TEST(ScanTest, Ejects) {
    auto scan = new_scan();
    auto other = new_scan();
    for (int i = 0; i < 3; ++i) {
        radar_sweep *sweep = build_sweep(1.0 + i, 10 * i);
        rsweep_set_schedule_index(sweep, i + 1);
        pvol_add_sweep(scan.get(), sweep);
    }
    radar_sweep *foreign = build_sweep(0.5, 0);
    pvol_add_sweep(other.get(), foreign);
    EXPECT_EQ(pvol_eject_sweep(scan.get(), foreign), nullptr);
    EXPECT_EQ(pvol_eject_sweep(scan.get(), nullptr), nullptr);

    EXPECT_EQ(pvol_eject_sweep_a(scan.get(), 2.1), nullptr);
    EXPECT_EQ(pvol_eject_sweep_a(scan.get(), 1.9), nullptr);
    radar_sweep *by_angle = pvol_eject_sweep_a(scan.get(), 2.09);
    ASSERT_NE(by_angle, nullptr);
    EXPECT_EQ(rsweep_get_schedule_index(by_angle), 2);
    EXPECT_EQ(pvol_get_sweeps_count(scan.get()), 2u);
    EXPECT_EQ(rsweep_get_my_scan(by_angle), scan.get());         // left as it was
    EXPECT_EQ(pvol_eject_sweep(scan.get(), by_angle), nullptr);  // not in the list any more

    EXPECT_EQ(pvol_eject_sweep_n(scan.get(), 2), nullptr);
    radar_sweep *by_number = pvol_eject_sweep_n(scan.get(), 3);
    ASSERT_NE(by_number, nullptr);
    const auto rest = sweeps_of(scan.get());
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rsweep_get_schedule_index(rest[0]), 1);
    radar_sweep *last = pvol_eject_sweep(scan.get(), rest[0]);
    EXPECT_EQ(last, rest[0]);
    EXPECT_EQ(pvol_get_sweeps_count(scan.get()), 0u);
    EXPECT_EQ(pvol_get_next_sweep(scan.get(), nullptr), nullptr);
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 1u);  // configurations stay registered

    // An ejected sweep can come back; one more goes to the caller for deletion.
    EXPECT_EQ(pvol_add_sweep(scan.get(), by_number), by_number);
    EXPECT_EQ(pvol_get_sweepconf_count(scan.get()), 1u);
    rsweep_delete(by_angle);
    rsweep_delete(last);
}

TEST(ScanTest, SweepsMovedBetweenScansLeaveTheirOldRegistryIntact) {
    auto source = new_scan();
    pvol_add_sweep(source.get(), build_sweep(0.5, 0));
    pvol_add_sweep(source.get(), build_sweep(1.5, 10));
    radar_sweep_conf *source_sconf = pvol_get_next_sweepconf(source.get(), nullptr);
    radar_ray_conf *source_rconf = pvol_get_next_rayconf(source.get(), nullptr);

    auto target = new_scan();
    radar_sweep *moved = pvol_eject_sweep(source.get(), sweeps_of(source.get())[0]);
    ASSERT_EQ(pvol_add_sweep(target.get(), moved), moved);
    radar_sweep_conf *target_sconf = pvol_get_next_sweepconf(target.get(), nullptr);
    radar_ray_conf *target_rconf = pvol_get_next_rayconf(target.get(), nullptr);
    EXPECT_NE(target_sconf, source_sconf);
    EXPECT_NE(target_rconf, source_rconf);
    EXPECT_EQ(rsweep_get_config(moved), target_sconf);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(moved, 0)), target_rconf);
    EXPECT_EQ(pvol_get_next_sweepconf(source.get(), source_sconf), nullptr);
    EXPECT_EQ(pvol_get_next_rayconf(source.get(), source_rconf), nullptr);
    EXPECT_EQ(sweepconf_get_next_rayconf(source_sconf, nullptr), source_rconf);
    EXPECT_EQ(pvol_get_sweepconf_count(source.get()), 1u);

    // A new sweep configuration built on a ray configuration registered in another scan.
    radar_sweep_conf *sconf = sweepconf_new_rhi(&kSector);
    sweepconf_add_rayconf(sconf, source_rconf);
    radar_sweep *sweep = rsweep_new(sconf);
    rsweep_add_ray(sweep, rray_new(source_rconf, nullptr, nullptr, nullptr, nullptr, -1));
    auto third = new_scan();
    pvol_add_sweep(third.get(), sweep);
    sweepconf_unref(sconf);
    radar_ray_conf *third_rconf = pvol_get_next_rayconf(third.get(), nullptr);
    EXPECT_NE(third_rconf, source_rconf);
    EXPECT_EQ(rayconf_compare(third_rconf, source_rconf), 1);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 0)), third_rconf);
    EXPECT_EQ(pvol_get_next_rayconf(source.get(), source_rconf), nullptr);
}

TEST(ScanTest, CopyOwnsItsConfigurations) {
    auto source = new_scan();
    pvol_add_sweep(source.get(), build_sweep(0.5, 0));
    pvol_add_sweep(source.get(), build_sweep(1.5, 10, "ORVA Ray SQI Threshold"));
    pvol_add_sweep(source.get(), build_sweep(2.5, 20));
    pvol_add_double(source.get(), "isotherm_0C", 1.0);

    ScanHandle copy(pvol_new_copy(source.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(pvol_get_sweeps_count(copy.get()), 3u);
    EXPECT_EQ(pvol_get_sweepconf_count(copy.get()), 2u);
    EXPECT_EQ(pvol_get_rayconf_count(copy.get()), 2u);
    EXPECT_EQ(pvol_is_defined(copy.get(), "isotherm_0C"), 0);
    char text[16];
    EXPECT_STREQ(pvol_get_site_info(copy.get(), text, sizeof text), "Test site");
    EXPECT_NE(pvol_get_position(copy.get()), pvol_get_position(source.get()));
    EXPECT_EQ(rposition_is_equiv(pvol_get_position(copy.get()), pvol_get_position(source.get())),
              1);

    // Registries are disjoint and the source's lists still hold exactly their own entries.
    std::vector<radar_ray_conf *> registered;
    for (const radar_scan *scan : {source.get(), copy.get()}) {
        for (radar_ray_conf *r = pvol_get_next_rayconf(scan, nullptr); r != nullptr;
             r = pvol_get_next_rayconf(scan, r)) {
            registered.push_back(r);
        }
    }
    ASSERT_EQ(registered.size(), 4u);
    EXPECT_EQ(std::set<radar_ray_conf *>(registered.begin(), registered.end()).size(), 4u);

    const auto copied = sweeps_of(copy.get());
    const auto original = sweeps_of(source.get());
    radar_ray_data *a = radar_ray_data_new();
    radar_ray_data *b = radar_ray_data_new();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rsweep_get_fixed_angle(copied[i]), rsweep_get_fixed_angle(original[i]));
        EXPECT_EQ(rsweep_get_my_scan(copied[i]), copy.get());
        const radar_ray *ray = rsweep_get_ray(copied[i], 1);
        EXPECT_EQ(rray_get_position(ray), pvol_get_position(copy.get()));
        EXPECT_EQ(rray_get_index(ray), 1);
        rray_get_native(ray, 0, a);
        rray_get_native(rsweep_get_ray(original[i], 1), 0, b);
        EXPECT_EQ(std::memcmp(a->data, b->data, a->bins), 0);
    }
    radar_ray_data_delete(a);
    radar_ray_data_delete(b);

    // A source on a moving platform is not copied.
    rposition *moving = rposition_new_moving();
    pvol_set_position(source.get(), moving);
    rposition_unref(moving);
    EXPECT_EQ(pvol_new_copy(source.get()), nullptr);
}

TEST(ScanTest, PositionAndTimeShift) {
    auto scan = new_scan();
    pvol_add_sweep(scan.get(), build_sweep(0.5, 1000));
    radar_sweep *sweep = sweeps_of(scan.get())[0];
    rposition *recorded = pvol_get_position(scan.get());

    EXPECT_EQ(pvol_set_position(scan.get(), nullptr), -1);
    rposition *moved = rposition_new_fixed(nullptr);
    EXPECT_EQ(pvol_set_position(scan.get(), moved), 0);
    rposition_unref(moved);
    EXPECT_EQ(pvol_get_position(scan.get()), moved);
    EXPECT_EQ(rray_get_position(rsweep_get_ray(sweep, 0)), recorded);  // rays keep theirs

    const timeval stamp{1000, 500000};
    pvol_set_time_stamp(scan.get(), &stamp);
    const timeval delta{0, 700000};
    EXPECT_EQ(pvol_shift_time_stamp(scan.get(), &delta), 0);
    timeval time{};
    pvol_get_time_stamp(scan.get(), &time);
    EXPECT_EQ(time.tv_sec, 1001);
    EXPECT_EQ(time.tv_usec, 200000);
    rsweep_get_time(sweep, &time);
    EXPECT_EQ(time.tv_sec, 1001);
    EXPECT_EQ(time.tv_usec, 200000);
    rray_get_time(rsweep_get_ray(sweep, 1), &time);
    EXPECT_EQ(time.tv_sec, 1002);
    EXPECT_EQ(time.tv_usec, 200000);
    rsweep_get_starttime(sweep, &time);
    EXPECT_EQ(time.tv_sec, 1000);
    EXPECT_EQ(time.tv_usec, 500000);
    rsweep_get_stoptime(sweep, &time);
    EXPECT_EQ(time.tv_sec, 1001);
}

TEST(ScanTest, Dumps) {
    auto scan = new_scan();
    const timeval stamp{1622548800, 123999};  // 2021-06-01 12:00:00 UTC
    pvol_set_time_stamp(scan.get(), &stamp);
    EXPECT_EQ(dump(pvol_dump_brief, scan.get()), "Ing. file: date 2021-06-01 12:00:00:123 UTC;\n");
    pvol_set_name(scan.get(), "A_TASK_NAME_LONGER_THAN_16");
    EXPECT_EQ(dump(pvol_dump_verbose, scan.get()),
              "Ing. file: date 2021-06-01 12:00:00:123 UTC; task: A_TASK_NAME_LONG; "
              "task info: Volume scan; 0 sweep\n");
    pvol_add_sweep(scan.get(), build_sweep(0.5, 1622548800));
    const std::string one = dump(pvol_dump_verbose, scan.get());
    EXPECT_EQ(one.substr(one.size() - 10), "; 1 sweep\n");
    pvol_add_sweep(scan.get(), build_sweep(1.5, 1622548900));
    const std::string verbose = dump(pvol_dump_verbose, scan.get());
    EXPECT_EQ(verbose.substr(verbose.size() - 11), "; 2 sweeps\n");

    const std::string lines = dump(pvol_dump_timestamps, scan.get());
    EXPECT_EQ(lines.substr(0, lines.find('\n') + 1),
              "Ray 0:0: az 0:1, el 0.5:0.5, 2021-06-01 12:00:00, data types: { 4(8 bits), "
              "9(16 bits)}\n");
    EXPECT_NE(lines.find("Ray 1:1: az 1:2, el 1.5:1.5, 2021-06-01 12:01:41, data types: { "),
              std::string::npos);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4);
}

TEST(ScanDeathTest, ASweepIsInOneScanAtATime) {
    auto scan = new_scan();
    radar_sweep *sweep = build_sweep(0.5, 0);
    pvol_add_sweep(scan.get(), sweep);
    EXPECT_DEATH(pvol_add_sweep(scan.get(), sweep), "sweep->node.next == ");
    EXPECT_DEATH(rsweep_delete(sweep), "sweep->node.next == ");
}

}  // namespace
