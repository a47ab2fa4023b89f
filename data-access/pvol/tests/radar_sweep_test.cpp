#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "radar_ray_internal.h"
#include "pvol/radar_sweep.h"
#include "radar_sweep_internal.h"

namespace {

constexpr dscan kMask{0.0, 500.0, 4};
constexpr dscan kSector{0.0, 0.0174, 360};

radar_ray_conf *new_rayconf(double prf) {
    radar_ray_conf *rconf = rayconf_new(prf, 5.6e9, 13.4, 150, 1e-6, 32, 70, -40, 0.008, 1);
    native_data_desc scale{};
    scale.bin_format = BITS_8;
    scale.step = 0.5;
    rayconf_add_moment(rconf, RD_DBZ, &kMask, &scale);
    return rconf;
}

radar_ray *new_ray(radar_ray_conf *rconf, long seconds, long microseconds = 0) {
    const timeval time{seconds, microseconds};
    return rray_new(rconf, nullptr, nullptr, &time, nullptr, -1);
}

TEST(SweepTest, NewSweepAndRayTimeBookkeeping) {
    radar_ray_conf *rconf = new_rayconf(1000);
    radar_sweep_conf *sconf = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(sconf, rconf);
    radar_sweep *sweep = rsweep_new(sconf);
    EXPECT_EQ(sconf->ref, 2);
    EXPECT_EQ(rsweep_get_ray_count(sweep), 0u);
    EXPECT_EQ(rsweep_get_earliest_ray(sweep), -1);
    timeval time{};
    EXPECT_EQ(rsweep_get_starttime(sweep, &time)->tv_sec, -1);
    EXPECT_EQ(rsweep_get_stoptime(sweep, &time)->tv_sec, -1);
    EXPECT_EQ(rsweep_get_first_ray(sweep), nullptr);
    EXPECT_EQ(rsweep_get_position(sweep), nullptr);

    EXPECT_EQ(rsweep_add_ray(sweep, nullptr), 0);  // an empty slot changes no time
    EXPECT_EQ(rsweep_get_earliest_ray(sweep), -1);
    radar_ray *first = new_ray(rconf, 10);
    EXPECT_EQ(rsweep_add_ray(sweep, first), 1);
    EXPECT_EQ(rsweep_add_ray(sweep, new_ray(rconf, 5, 500)), 2);
    EXPECT_EQ(rsweep_add_ray(sweep, new_ray(rconf, 5, 500)), 3);  // equal: first one stays
    EXPECT_EQ(rsweep_get_earliest_ray(sweep), 2);
    EXPECT_EQ(rsweep_add_ray(sweep, new_ray(rconf, 5, 499)), 4);
    EXPECT_EQ(rsweep_add_ray(sweep, new_ray(rconf, 20)), 5);
    EXPECT_EQ(rsweep_add_ray(sweep, new_ray(rconf, 20, 1)), 6);
    EXPECT_EQ(rsweep_get_ray_count(sweep), 7u);
    EXPECT_EQ(rsweep_get_first_ray(sweep), first);
    EXPECT_EQ(rray_get_index(first), 1);
    EXPECT_EQ(rsweep_get_ray(sweep, 0), nullptr);
    EXPECT_EQ(rsweep_get_ray(sweep, 7), nullptr);
    EXPECT_EQ(rsweep_get_ray(sweep, -1), nullptr);
    EXPECT_EQ(rsweep_get_earliest_ray(sweep), 4);
    rsweep_get_starttime(sweep, &time);
    EXPECT_EQ(time.tv_sec, 5);
    EXPECT_EQ(time.tv_usec, 499);
    rsweep_get_stoptime(sweep, &time);
    EXPECT_EQ(time.tv_sec, 20);
    EXPECT_EQ(time.tv_usec, 1);

    // A copy keeps slots, times and bookkeeping; its rays are new objects at the same indexes.
    rsweep_set_schedule_index(sweep, 3);
    rsweep_set_fixed_angle(sweep, 0.5);
    radar_sweep *copy = rsweep_new_copy(sweep);
    EXPECT_EQ(rsweep_get_ray_count(copy), 7u);
    EXPECT_EQ(rsweep_get_ray(copy, 0), nullptr);
    EXPECT_NE(rsweep_get_ray(copy, 1), first);
    EXPECT_EQ(rray_get_index(rsweep_get_ray(copy, 6)), 6);
    EXPECT_EQ(rsweep_get_earliest_ray(copy), 4);
    EXPECT_EQ(rsweep_get_schedule_index(copy), 3);
    EXPECT_EQ(rsweep_get_fixed_angle(copy), 0.5);
    EXPECT_EQ(rsweep_get_config(copy), sconf);
    EXPECT_EQ(rconf->ref, 1 + 1 + 12);  // creator, sweep configuration, 6 rays in each sweep

    rsweep_delete(copy);
    rsweep_delete(sweep);
    EXPECT_EQ(sconf->ref, 1);
    sweepconf_unref(sconf);
    EXPECT_EQ(rconf->ref, 1);
    rayconf_unref(rconf);
}

TEST(SweepConfTest, RayConfigurationList) {
    radar_sweep_conf *sconf = sweepconf_new_rhi(nullptr);
    dscan sector{};
    sweepconf_get_sector(sconf, &sector);
    EXPECT_TRUE(std::isnan(sector.start));
    EXPECT_EQ(sector.count, 0u);
    EXPECT_EQ(sweepconf_get_type(sconf), SWEEP_RHI);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, nullptr), nullptr);

    radar_ray_conf *a = new_rayconf(1000);
    radar_ray_conf *a_twin = new_rayconf(1000);
    radar_ray_conf *b = new_rayconf(1200);
    EXPECT_EQ(sweepconf_add_rayconf(sconf, a), a);
    EXPECT_EQ(sweepconf_add_rayconf(sconf, a_twin), a);
    EXPECT_EQ(sweepconf_add_rayconf(sconf, a), a);
    EXPECT_EQ(a->ref, 2);
    EXPECT_EQ(a_twin->ref, 1);
    EXPECT_EQ(sweepconf_add_rayconf(sconf, b), b);
    EXPECT_EQ(sweepconf_get_rayconf_count(sconf), 2u);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, nullptr), a);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, a), b);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, b), nullptr);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf, a_twin), nullptr);

    // Attributes: nothing stored reads as 0.0 and null until the set exists.
    EXPECT_EQ(sweepconf_get_double(sconf, "ORVA Sweep Scan Speed"), 0.0);
    uint64_t length = 4;
    char buffer[4];
    EXPECT_EQ(sweepconf_get_buf(sconf, "ORVA Sweep Ingest Header", buffer, &length), nullptr);
    EXPECT_EQ(sweepconf_add_buf(sconf, "ORVA Sweep Ingest Header", "abcdef", 6), 0);
    EXPECT_EQ(sweepconf_add_buf(sconf, "ORVA Sweep Ingest Header", "abcdef", 6), 1);
    EXPECT_EQ(sweepconf_get_buf(sconf, "ORVA Sweep Ingest Header", buffer, &length), buffer);
    EXPECT_EQ(std::string(buffer, 4), "abcd");

    sweepconf_unref(sconf);
    EXPECT_EQ(a->ref, 1);
    for (radar_ray_conf *rconf : {a, a_twin, b})
        rayconf_unref(rconf);
}

TEST(SweepConfTest, Equivalence) {
    radar_ray_conf *a = new_rayconf(1000);
    radar_ray_conf *b = new_rayconf(1200);
    const dscan other_sector{0.5, 0.01, 10};
    radar_sweep_conf *manual1 = sweepconf_new_manual();
    radar_sweep_conf *manual2 = sweepconf_new_manual();
    manual2->sector = other_sector;
    EXPECT_EQ(sweepconf_compare(manual1, manual2), 1);

    dscan fewer = kSector;
    fewer.count = 359;
    radar_sweep_conf *ppi1 = sweepconf_new_ppi(&kSector);
    radar_sweep_conf *ppi2 = sweepconf_new_ppi(&fewer);
    radar_sweep_conf *rhi = sweepconf_new_rhi(&kSector);
    EXPECT_EQ(sweepconf_compare(ppi1, ppi2), 0);
    EXPECT_EQ(sweepconf_compare(ppi1, rhi), 0);
    EXPECT_EQ(sweepconf_compare(ppi1, nullptr), 0);
    EXPECT_EQ(sweepconf_compare(nullptr, ppi1), 0);

    // Ray configurations: b must hold an equivalent of each of a's, anywhere in its list.
    radar_sweep_conf *ppi3 = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(ppi1, a);
    sweepconf_add_rayconf(ppi3, b);
    sweepconf_add_rayconf(ppi3, a);
    EXPECT_EQ(sweepconf_compare(ppi1, ppi3), 1);
    EXPECT_EQ(sweepconf_compare(ppi3, ppi1), 0);

    // Attributes: a NaN never matches, except for the configuration itself.
    sweepconf_add_double(ppi1, "ORVA Sweep Scan Speed", std::nan(""));
    sweepconf_add_double(ppi3, "ORVA Sweep Scan Speed", std::nan(""));
    EXPECT_EQ(sweepconf_compare(ppi1, ppi3), 0);
    EXPECT_EQ(sweepconf_compare(ppi1, ppi1), 1);

    for (radar_sweep_conf *sconf : {manual1, manual2, ppi1, ppi2, ppi3, rhi}) {
        sweepconf_unref(sconf);
    }
    rayconf_unref(a);
    rayconf_unref(b);
}

TEST(SweepTest, SwapsMoveRaysToEquivalentConfigurations) {
    // The sweep and its rays on fresh configurations; a second, equivalent set takes over.
    radar_ray_conf *old_a = new_rayconf(1000);
    radar_ray_conf *old_b = new_rayconf(1200);
    radar_sweep_conf *old_sconf = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(old_sconf, old_a);
    sweepconf_add_rayconf(old_sconf, old_b);
    radar_sweep *sweep = rsweep_new(old_sconf);
    rsweep_add_ray(sweep, new_ray(old_a, 1));
    rsweep_add_ray(sweep, new_ray(old_b, 2));
    rsweep_add_ray(sweep, nullptr);

    radar_ray_conf *new_a = new_rayconf(1000);
    radar_ray_conf *new_b = new_rayconf(1200);
    radar_sweep_conf *new_sconf = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(new_sconf, new_b);
    sweepconf_add_rayconf(new_sconf, new_a);

    EXPECT_EQ(rsweep_swap_config(sweep, old_sconf, new_sconf), nullptr);  // not the sweep's
    EXPECT_EQ(rsweep_get_config(sweep), old_sconf);
    EXPECT_EQ(rsweep_swap_rayconf(sweep, old_a, old_a), old_a);
    EXPECT_EQ(rsweep_swap_config(sweep, new_sconf, old_sconf), new_sconf);
    EXPECT_EQ(rsweep_get_config(sweep), new_sconf);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 0)), new_a);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 1)), new_b);
    // The old configuration now lists the new ray configurations in its own order.
    EXPECT_EQ(sweepconf_get_next_rayconf(old_sconf, nullptr), new_a);
    EXPECT_EQ(sweepconf_get_next_rayconf(old_sconf, new_a), new_b);
    EXPECT_EQ(old_a->ref, 1);
    EXPECT_EQ(old_b->ref, 1);
    EXPECT_EQ(old_sconf->ref, 1);
    EXPECT_EQ(new_a->ref, 4);  // creator, two sweep configurations, one ray

    // A ray configuration that the sweep's configuration does not list is not swapped.
    radar_ray_conf *stray = new_rayconf(1000);
    EXPECT_EQ(rsweep_swap_rayconf(sweep, stray, old_a), nullptr);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 0)), new_a);

    rsweep_delete(sweep);
    for (radar_sweep_conf *sconf : {old_sconf, new_sconf})
        sweepconf_unref(sconf);
    for (radar_ray_conf *rconf : {old_a, old_b, new_a, new_b, stray})
        rayconf_unref(rconf);
}

TEST(SweepTest, SwapPairsRayConfigurationsEquivalentBothWays) {
    // b holds one attribute more than a; a one-way match would take b's rays to a_new.
    radar_ray_conf *a = new_rayconf(1000);
    radar_ray_conf *b = new_rayconf(1000);
    rayconf_add_int(b, "ORVA Ray Extra", 1);
    radar_sweep_conf *old_sconf = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(old_sconf, b);
    sweepconf_add_rayconf(old_sconf, a);
    radar_sweep *sweep = rsweep_new(old_sconf);
    rsweep_add_ray(sweep, new_ray(b, 1));
    rsweep_add_ray(sweep, new_ray(a, 2));

    radar_ray_conf *a_new = new_rayconf(1000);
    radar_ray_conf *b_new = new_rayconf(1000);
    rayconf_add_int(b_new, "ORVA Ray Extra", 1);
    // Without a partner for b, nothing moves.
    radar_sweep_conf *only_a = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(only_a, a_new);
    EXPECT_EQ(rsweep_swap_config(sweep, only_a, old_sconf), nullptr);
    EXPECT_EQ(rsweep_get_config(sweep), old_sconf);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 0)), b);

    radar_sweep_conf *both = sweepconf_new_ppi(&kSector);
    sweepconf_add_rayconf(both, a_new);
    sweepconf_add_rayconf(both, b_new);
    EXPECT_EQ(rsweep_swap_config(sweep, both, old_sconf), both);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 0)), b_new);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep, 1)), a_new);

    rsweep_delete(sweep);
    for (radar_sweep_conf *sconf : {old_sconf, only_a, both})
        sweepconf_unref(sconf);
    for (radar_ray_conf *rconf : {a, b, a_new, b_new})
        rayconf_unref(rconf);
}

TEST(SweepDeathTest, BrokenPreconditions) {
    EXPECT_DEATH(rsweep_new(nullptr), "sconf != \\(\\(void \\*\\)0\\)");
    radar_sweep_conf *ppi = sweepconf_new_ppi(&kSector);
    radar_sweep_conf *manual = sweepconf_new_manual();
    radar_sweep *sweep = rsweep_new(ppi);
    EXPECT_DEATH(rsweep_swap_config(sweep, manual, ppi), "sweepconf_compare\\(new, old\\)");
    radar_ray_conf *a = new_rayconf(1000);
    radar_ray_conf *b = new_rayconf(1200);
    sweepconf_add_rayconf(ppi, a);
    EXPECT_DEATH(rsweep_swap_rayconf(sweep, b, a), "rayconf_compare\\(new_rconf, old_rconf\\)");

    dllist head;
    dllist_init_head(&head);
    dllist_insert_before(rsweep_get_node(sweep), &head);
    EXPECT_DEATH(rsweep_delete(sweep), "sweep->node.next == ");
    dllist_remove(rsweep_get_node(sweep));
    rsweep_delete(sweep);

    manual->ref = 0;
    EXPECT_DEATH(sweepconf_ref(manual), "sconf->ref > 0");
    manual->ref = 1;
    for (radar_sweep_conf *sconf : {ppi, manual})
        sweepconf_unref(sconf);
    rayconf_unref(a);
    rayconf_unref(b);
}

}  // namespace
