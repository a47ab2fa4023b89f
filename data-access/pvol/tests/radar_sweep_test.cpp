#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "radar_ray_internal.h"
#include "pvol/radar_sweep.h"
#include "radar_sweep_internal.h"
#include "pvol_handles.h"

namespace {

constexpr dscan kMask{0.0, 500.0, 4};
constexpr dscan kSector{0.0, 0.0174, 360};

radar_ray_conf *new_rayconf(double prf) {
    RayConfHandle rconf(rayconf_new(prf, 5.6e9, 13.4, 150, 1e-6, 32, 70, -40, 0.008, 1));
    native_data_desc scale{};
    scale.bin_format = BITS_8;
    scale.step = 0.5;
    rayconf_add_moment(rconf.get(), RD_DBZ, &kMask, &scale);
    return rconf.release();
}

radar_ray *new_ray(radar_ray_conf *rconf, long seconds, long microseconds = 0) {
    const timeval time{seconds, microseconds};
    return rray_new(rconf, nullptr, nullptr, &time, nullptr, -1);
}

TEST(SweepTest, NewSweepAndRayTimeBookkeeping) {
    RayConfHandle rconf(new_rayconf(1000));
    SweepConfHandle sconf(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(sconf.get(), rconf.get());
    SweepHandle sweep(rsweep_new(sconf.get()));
    EXPECT_EQ(sconf->ref, 2);
    EXPECT_EQ(rsweep_get_ray_count(sweep.get()), 0u);
    EXPECT_EQ(rsweep_get_earliest_ray(sweep.get()), -1);
    timeval time{};
    EXPECT_EQ(rsweep_get_starttime(sweep.get(), &time)->tv_sec, -1);
    EXPECT_EQ(rsweep_get_stoptime(sweep.get(), &time)->tv_sec, -1);
    EXPECT_EQ(rsweep_get_first_ray(sweep.get()), nullptr);
    EXPECT_EQ(rsweep_get_position(sweep.get()), nullptr);

    EXPECT_EQ(rsweep_add_ray(sweep.get(), nullptr), 0);  // an empty slot changes no time
    EXPECT_EQ(rsweep_get_earliest_ray(sweep.get()), -1);
    radar_ray *first = new_ray(rconf.get(), 10);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), first), 1);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), new_ray(rconf.get(), 5, 500)), 2);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), new_ray(rconf.get(), 5, 500)),
              3);  // equal: first one stays
    EXPECT_EQ(rsweep_get_earliest_ray(sweep.get()), 2);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), new_ray(rconf.get(), 5, 499)), 4);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), new_ray(rconf.get(), 20)), 5);
    EXPECT_EQ(rsweep_add_ray(sweep.get(), new_ray(rconf.get(), 20, 1)), 6);
    EXPECT_EQ(rsweep_get_ray_count(sweep.get()), 7u);
    EXPECT_EQ(rsweep_get_first_ray(sweep.get()), first);
    EXPECT_EQ(rray_get_index(first), 1);
    EXPECT_EQ(rsweep_get_ray(sweep.get(), 0), nullptr);
    EXPECT_EQ(rsweep_get_ray(sweep.get(), 7), nullptr);
    EXPECT_EQ(rsweep_get_ray(sweep.get(), -1), nullptr);
    EXPECT_EQ(rsweep_get_earliest_ray(sweep.get()), 4);
    rsweep_get_starttime(sweep.get(), &time);
    EXPECT_EQ(time.tv_sec, 5);
    EXPECT_EQ(time.tv_usec, 499);
    rsweep_get_stoptime(sweep.get(), &time);
    EXPECT_EQ(time.tv_sec, 20);
    EXPECT_EQ(time.tv_usec, 1);

    // A copy keeps slots, times and bookkeeping; its rays are new objects at the same indexes.
    rsweep_set_schedule_index(sweep.get(), 3);
    rsweep_set_fixed_angle(sweep.get(), 0.5);
    SweepHandle copy(rsweep_new_copy(sweep.get()));
    EXPECT_EQ(rsweep_get_ray_count(copy.get()), 7u);
    EXPECT_EQ(rsweep_get_ray(copy.get(), 0), nullptr);
    EXPECT_NE(rsweep_get_ray(copy.get(), 1), first);
    EXPECT_EQ(rray_get_index(rsweep_get_ray(copy.get(), 6)), 6);
    EXPECT_EQ(rsweep_get_earliest_ray(copy.get()), 4);
    EXPECT_EQ(rsweep_get_schedule_index(copy.get()), 3);
    EXPECT_EQ(rsweep_get_fixed_angle(copy.get()), 0.5);
    EXPECT_EQ(rsweep_get_config(copy.get()), sconf.get());
    EXPECT_EQ(rconf->ref,
              1 + 1 + 12);  // creator, sweep configuration, 6 rays in each sweep

    copy.reset();
    sweep.reset();
    EXPECT_EQ(sconf->ref, 1);
    sconf.reset();
    EXPECT_EQ(rconf->ref, 1);
}

TEST(SweepConfTest, RayConfigurationList) {
    SweepConfHandle sconf(sweepconf_new_rhi(nullptr));
    dscan sector{};
    sweepconf_get_sector(sconf.get(), &sector);
    EXPECT_TRUE(std::isnan(sector.start));
    EXPECT_EQ(sector.count, 0u);
    EXPECT_EQ(sweepconf_get_type(sconf.get()), SWEEP_RHI);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf.get(), nullptr), nullptr);

    RayConfHandle a(new_rayconf(1000));
    RayConfHandle a_twin(new_rayconf(1000));
    RayConfHandle b(new_rayconf(1200));
    EXPECT_EQ(sweepconf_add_rayconf(sconf.get(), a.get()), a.get());
    EXPECT_EQ(sweepconf_add_rayconf(sconf.get(), a_twin.get()), a.get());
    EXPECT_EQ(sweepconf_add_rayconf(sconf.get(), a.get()), a.get());
    EXPECT_EQ(a->ref, 2);
    EXPECT_EQ(a_twin->ref, 1);
    EXPECT_EQ(sweepconf_add_rayconf(sconf.get(), b.get()), b.get());
    EXPECT_EQ(sweepconf_get_rayconf_count(sconf.get()), 2u);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf.get(), nullptr), a.get());
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf.get(), a.get()), b.get());
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf.get(), b.get()), nullptr);
    EXPECT_EQ(sweepconf_get_next_rayconf(sconf.get(), a_twin.get()), nullptr);

    // Attributes: nothing stored reads as 0.0 and null until the set exists.
    EXPECT_EQ(sweepconf_get_double(sconf.get(), "ORVA Sweep Scan Speed"), 0.0);
    uint64_t length = 4;
    char buffer[4];
    EXPECT_EQ(sweepconf_get_buf(sconf.get(), "ORVA Sweep Ingest Header", buffer, &length), nullptr);
    EXPECT_EQ(sweepconf_add_buf(sconf.get(), "ORVA Sweep Ingest Header", "abcdef", 6), 0);
    EXPECT_EQ(sweepconf_add_buf(sconf.get(), "ORVA Sweep Ingest Header", "abcdef", 6), 1);
    EXPECT_EQ(sweepconf_get_buf(sconf.get(), "ORVA Sweep Ingest Header", buffer, &length), buffer);
    EXPECT_EQ(std::string(buffer, 4), "abcd");

    sconf.reset();
    EXPECT_EQ(a->ref, 1);
}

TEST(SweepConfTest, Equivalence) {
    RayConfHandle a(new_rayconf(1000));
    RayConfHandle b(new_rayconf(1200));
    const dscan other_sector{0.5, 0.01, 10};
    SweepConfHandle manual1(sweepconf_new_manual());
    SweepConfHandle manual2(sweepconf_new_manual());
    manual2->sector = other_sector;
    EXPECT_EQ(sweepconf_compare(manual1.get(), manual2.get()), 1);

    dscan fewer = kSector;
    fewer.count = 359;
    SweepConfHandle ppi1(sweepconf_new_ppi(&kSector));
    SweepConfHandle ppi2(sweepconf_new_ppi(&fewer));
    SweepConfHandle rhi(sweepconf_new_rhi(&kSector));
    EXPECT_EQ(sweepconf_compare(ppi1.get(), ppi2.get()), 0);
    EXPECT_EQ(sweepconf_compare(ppi1.get(), rhi.get()), 0);
    EXPECT_EQ(sweepconf_compare(ppi1.get(), nullptr), 0);
    EXPECT_EQ(sweepconf_compare(nullptr, ppi1.get()), 0);

    // Ray configurations: b must hold an equivalent of each of a's, anywhere in its
    // list.
    SweepConfHandle ppi3(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(ppi1.get(), a.get());
    sweepconf_add_rayconf(ppi3.get(), b.get());
    sweepconf_add_rayconf(ppi3.get(), a.get());
    EXPECT_EQ(sweepconf_compare(ppi1.get(), ppi3.get()), 1);
    EXPECT_EQ(sweepconf_compare(ppi3.get(), ppi1.get()), 0);

    // Attributes: a NaN never matches, except for the configuration itself.
    sweepconf_add_double(ppi1.get(), "ORVA Sweep Scan Speed", std::nan(""));
    sweepconf_add_double(ppi3.get(), "ORVA Sweep Scan Speed", std::nan(""));
    EXPECT_EQ(sweepconf_compare(ppi1.get(), ppi3.get()), 0);
    EXPECT_EQ(sweepconf_compare(ppi1.get(), ppi1.get()), 1);
}

TEST(SweepTest, SwapsMoveRaysToEquivalentConfigurations) {
    // The sweep and its rays on fresh configurations; a second, equivalent set takes over.
    RayConfHandle old_a(new_rayconf(1000));
    RayConfHandle old_b(new_rayconf(1200));
    SweepConfHandle old_sconf(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(old_sconf.get(), old_a.get());
    sweepconf_add_rayconf(old_sconf.get(), old_b.get());
    SweepHandle sweep(rsweep_new(old_sconf.get()));
    rsweep_add_ray(sweep.get(), new_ray(old_a.get(), 1));
    rsweep_add_ray(sweep.get(), new_ray(old_b.get(), 2));
    rsweep_add_ray(sweep.get(), nullptr);

    RayConfHandle new_a(new_rayconf(1000));
    RayConfHandle new_b(new_rayconf(1200));
    SweepConfHandle new_sconf(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(new_sconf.get(), new_b.get());
    sweepconf_add_rayconf(new_sconf.get(), new_a.get());

    EXPECT_EQ(rsweep_swap_config(sweep.get(), old_sconf.get(), new_sconf.get()),
              nullptr);  // not the sweep's
    EXPECT_EQ(rsweep_get_config(sweep.get()), old_sconf.get());
    EXPECT_EQ(rsweep_swap_rayconf(sweep.get(), old_a.get(), old_a.get()), old_a.get());
    EXPECT_EQ(rsweep_swap_config(sweep.get(), new_sconf.get(), old_sconf.get()), new_sconf.get());
    EXPECT_EQ(rsweep_get_config(sweep.get()), new_sconf.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 0)), new_a.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 1)), new_b.get());
    // The old configuration now lists the new ray configurations in its own order.
    EXPECT_EQ(sweepconf_get_next_rayconf(old_sconf.get(), nullptr), new_a.get());
    EXPECT_EQ(sweepconf_get_next_rayconf(old_sconf.get(), new_a.get()), new_b.get());
    EXPECT_EQ(old_a->ref, 1);
    EXPECT_EQ(old_b->ref, 1);
    EXPECT_EQ(old_sconf->ref, 1);
    EXPECT_EQ(new_a->ref, 4);  // creator, two sweep configurations, one ray

    // A ray configuration that the sweep's configuration does not list is not swapped.
    RayConfHandle stray(new_rayconf(1000));
    EXPECT_EQ(rsweep_swap_rayconf(sweep.get(), stray.get(), old_a.get()), nullptr);
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 0)), new_a.get());

    sweep.reset();
}

TEST(SweepTest, SwapPairsRayConfigurationsEquivalentBothWays) {
    // b holds one attribute more than a; a one-way match would take b's rays to a_new.
    RayConfHandle a(new_rayconf(1000));
    RayConfHandle b(new_rayconf(1000));
    rayconf_add_int(b.get(), "ORVA Ray Extra", 1);
    SweepConfHandle old_sconf(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(old_sconf.get(), b.get());
    sweepconf_add_rayconf(old_sconf.get(), a.get());
    SweepHandle sweep(rsweep_new(old_sconf.get()));
    rsweep_add_ray(sweep.get(), new_ray(b.get(), 1));
    rsweep_add_ray(sweep.get(), new_ray(a.get(), 2));

    RayConfHandle a_new(new_rayconf(1000));
    RayConfHandle b_new(new_rayconf(1000));
    rayconf_add_int(b_new.get(), "ORVA Ray Extra", 1);
    // Without a partner for b, nothing moves.
    SweepConfHandle only_a(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(only_a.get(), a_new.get());
    EXPECT_EQ(rsweep_swap_config(sweep.get(), only_a.get(), old_sconf.get()), nullptr);
    EXPECT_EQ(rsweep_get_config(sweep.get()), old_sconf.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 0)), b.get());

    SweepConfHandle both(sweepconf_new_ppi(&kSector));
    sweepconf_add_rayconf(both.get(), a_new.get());
    sweepconf_add_rayconf(both.get(), b_new.get());
    EXPECT_EQ(rsweep_swap_config(sweep.get(), both.get(), old_sconf.get()), both.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 0)), b_new.get());
    EXPECT_EQ(rray_get_config(rsweep_get_ray(sweep.get(), 1)), a_new.get());

    sweep.reset();
}

TEST(SweepDeathTest, BrokenPreconditions) {
    EXPECT_DEATH(rsweep_new(nullptr), "sconf != \\(\\(void \\*\\)0\\)");
    SweepConfHandle ppi(sweepconf_new_ppi(&kSector));
    SweepConfHandle manual(sweepconf_new_manual());
    SweepHandle sweep(rsweep_new(ppi.get()));
    EXPECT_DEATH(rsweep_swap_config(sweep.get(), manual.get(), ppi.get()),
                 "sweepconf_compare\\(new, old\\)");
    RayConfHandle a(new_rayconf(1000));
    RayConfHandle b(new_rayconf(1200));
    sweepconf_add_rayconf(ppi.get(), a.get());
    EXPECT_DEATH(rsweep_swap_rayconf(sweep.get(), b.get(), a.get()),
                 "rayconf_compare\\(new_rconf, old_rconf\\)");

    dllist head;
    dllist_init_head(&head);
    dllist_insert_before(rsweep_get_node(sweep.get()), &head);
    EXPECT_DEATH(rsweep_delete(sweep.get()), "sweep->node.next == ");
    dllist_remove(rsweep_get_node(sweep.get()));
    sweep.reset();

    manual->ref = 0;
    EXPECT_DEATH(sweepconf_ref(manual.get()), "sconf->ref > 0");
    manual->ref = 1;
}

}  // namespace
