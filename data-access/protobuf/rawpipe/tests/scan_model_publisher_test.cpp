// Scans built in memory with the radar model and published: shapes the RAW reader does not
// produce (rays lacking a moment, sweeps without rays, custom moments, scales differing only in
// the cyclic flag), and the checks of the model's invariants.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "per_scan_publisher.h"
#include "pvol_handles.h"
#include "stream_support.h"

namespace {

using namespace stream;
using azm::PerScanPublisher;
using P = pb::Payload;

constexpr double kDegree = M_PI / 180.0;
const dscan kRange{500.0, 250.0, 8};

native_data_desc scale16(uint16_t not_scanned, int cyclic = 0) {
    return native_data_desc{BITS_16, 65535, 2, 0.01, -327.68, 1, not_scanned, cyclic};
}

radar_ray_conf *new_rayconf() {
    return rayconf_new(1000, 5.6e9, 13.3, 150, 8e-7, 32, 70, -40, 0.008, 1);
}

radar_sweep_conf *new_sweepconf(radar_ray_conf *rconf, int type = SWEEP_PPI) {
    const dscan sector{10 * kDegree, 2 * kDegree, 3};
    radar_sweep_conf *sconf = type == SWEEP_PPI   ? sweepconf_new_ppi(&sector)
                              : type == SWEEP_RHI ? sweepconf_new_rhi(&sector)
                                                  : sweepconf_new_manual();
    sweepconf_add_rayconf(sconf, rconf);
    return sconf;
}

// A sweep of `rays` ray slots on the configuration's first ray configuration, the slots listed in
// `empty` left without a ray; the codes of moment 0 are 1000 + 10 * slot + bin.
radar_sweep *new_sweep(radar_sweep_conf *sconf, int rays, long first_second = 1700000000,
                       const std::set<int> &empty = {}) {
    SweepHandle sweep(rsweep_new(sconf));
    radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    RayDataHandle bins(radar_ray_data_new());
    for (int r = 0; r < rays; ++r) {
        if (empty.count(r) != 0) {
            rsweep_add_ray(sweep.get(), nullptr);
            continue;
        }
        const angle_interval az{r * kDegree, (r + 0.5) * kDegree, (r + 1) * kDegree};
        const angle_interval el{kDegree, kDegree, kDegree};
        const timeval time{first_second + r, 0};
        RayHandle ray(rray_new(rconf, &az, &el, &time, nullptr, -1));
        rray_get_native(ray.get(), 0, bins.get());
        for (uint64_t k = 0; k < bins->bins; ++k)
            static_cast<uint16_t *>(bins->data)[k] = static_cast<uint16_t>(1000 + 10 * r + k);
        rray_set_from_native(ray.get(), 0, bins.get());
        rsweep_add_ray(sweep.get(), ray.release());
    }
    bins.reset();
    rsweep_set_fixed_angle(sweep.get(), kDegree);
    return sweep.release();
}

radar_scan *new_scan() {
    const rposition_fixed site{60 * kDegree, 25 * kDegree, 10, 40};
    return pvol_new("MODEL", nullptr, "SITE", nullptr, RPOSITION_FIXED, &site);
}

pb::PayloadList publish(radar_scan *scan, PerScanPublisher::Mode mode) {
    DataListPublisher sink;
    PerScanPublisher publisher(&sink, scan, 0, {}, mode);
    publisher.publish();
    return round_trip(sink.get());
}

// The types between the n-th SweepHeader (excluded) and the next SweepHeader or VolumeEnd.
std::vector<P::PayloadType> sweep_body(const pb::PayloadList &list, int n) {
    std::vector<P::PayloadType> body;
    int sweep = -1;
    for (const pb::Payload &p : list.payload()) {
        if (p.type() == P::SWEEP_HEADER || p.type() == P::VOLUME_END) {
            if (sweep++ == n)
                break;
            continue;
        }
        if (sweep == n)
            body.push_back(p.type());
    }
    return body;
}

TEST(ModelScanTest, RaysLackingAMomentContributeNotScannedCodes) {
    RayConfHandle rconf(new_rayconf());
    const native_data_desc reflectivity = scale16(0), velocity = scale16(7, 1);
    rayconf_add_moment(rconf.get(), RD_DBZ, &kRange, &reflectivity);
    SweepConfHandle sconf(new_sweepconf(rconf.get()));
    SweepHandle sweep(new_sweep(sconf.get(), 3));
    // Added after the rays were made: none of them holds velocity data.
    rayconf_add_moment(rconf.get(), RD_VEL, &kRange, &velocity);
    ScanHandle scan(new_scan());
    pvol_add_sweep(scan.get(), sweep.release());
    rconf.reset();
    sconf.reset();

    const pb::PayloadList list = publish(scan.release(), PerScanPublisher::PER_SWEEP_LZ4);
    std::vector<std::vector<std::uint16_t>> codes;
    for (const pb::Payload &p : list.payload())
        if (p.type() == P::MOMENT_SWEEP_DATA)
            codes.push_back(codes_of(p.moment_sweep_data().data()));
    ASSERT_EQ(codes.size(), 2u);
    ASSERT_EQ(codes[0].size(), 3u * 8);
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(codes[0][static_cast<size_t>(8 * r + k)], 1000 + 10 * r + k);
    EXPECT_EQ(codes[1], std::vector<std::uint16_t>(3 * 8, 7));
}

TEST(ModelScanTest, SweepsWithoutRaysKeepTheirPlaceInTheStream) {
    RayConfHandle rconf(new_rayconf());
    const native_data_desc scale = scale16(0);
    rayconf_add_moment(rconf.get(), RD_DBZ, &kRange, &scale);
    rayconf_add_moment(rconf.get(), RD_ZDR, &kRange, &scale);
    SweepConfHandle sconf(new_sweepconf(rconf.get()));
    ScanHandle scan(new_scan());
    const timeval stamp{1700000000, 0};
    pvol_set_time_stamp(scan.get(), &stamp);
    pvol_add_sweep(scan.get(), new_sweep(sconf.get(), 2));
    pvol_add_sweep(scan.get(), rsweep_new(sconf.get()));  // no ray at all
    SweepHandle empty_slots(rsweep_new(sconf.get()));
    for (int i = 0; i < 3; ++i)
        rsweep_add_ray(empty_slots.get(), nullptr);
    pvol_add_sweep(scan.get(), empty_slots.release());
    rconf.reset();
    sconf.reset();

    const pb::PayloadList swept =
        publish(pvol_new_copy(scan.get()), PerScanPublisher::PER_SWEEP_LZ4);
    EXPECT_EQ(sweep_body(swept, 0).size(), 2u + 2 + 2);
    for (int s : {1, 2}) {
        SCOPED_TRACE(s);
        EXPECT_EQ(sweep_body(swept, s),
                  (std::vector<P::PayloadType>{P::MOMENT_SWEEP_DATA, P::MOMENT_SWEEP_DATA}));
        const pb::DataBuffer &data =
            swept.payload(swept.payload_size() - 2 - 3 * (2 - s)).moment_sweep_data().data();
        EXPECT_EQ(data.uncompressed_size(), 0);
        EXPECT_TRUE(codes_of(data).empty());
    }
    // The sweeps without rays end nothing later than the rays that exist.
    EXPECT_EQ(swept.payload(swept.payload_size() - 1).volume_end().end_time().esec(), 1700000001);

    const pb::PayloadList rays = publish(scan.release(), PerScanPublisher::PER_RAY);
    EXPECT_EQ(sweep_body(rays, 1), std::vector<P::PayloadType>{P::SWEEP_END});
    EXPECT_EQ(sweep_body(rays, 2), std::vector<P::PayloadType>{P::SWEEP_END});
}

TEST(ModelScanTest, RowsOfSweepDataAndRayIndicesAgreeAroundEmptySlots) {
    RayConfHandle rconf(new_rayconf());
    const native_data_desc scale = scale16(0);
    rayconf_add_moment(rconf.get(), RD_DBZ, &kRange, &scale);
    SweepConfHandle sconf(new_sweepconf(rconf.get()));
    ScanHandle scan(new_scan());
    pvol_add_sweep(scan.get(),
                   new_sweep(sconf.get(), 5, 1700000000, {0, 2}));  // rays in slots 1, 3 and 4
    rconf.reset();
    sconf.reset();
    const std::vector<int> slots = {1, 3, 4};

    const pb::PayloadList swept =
        publish(pvol_new_copy(scan.get()), PerScanPublisher::PER_SWEEP_LZ4);
    std::vector<std::uint16_t> codes;
    std::vector<const pb::RayHeader *> headers;
    for (const pb::Payload &p : swept.payload()) {
        if (p.type() == P::RAY_HEADER)
            headers.push_back(&p.ray_header());
        if (p.type() == P::MOMENT_SWEEP_DATA)
            codes = codes_of(p.moment_sweep_data().data());
    }
    ASSERT_EQ(headers.size(), slots.size());
    ASSERT_EQ(codes.size(), slots.size() * 8);
    EXPECT_EQ(count_of(swept, P::RAY_END), 3);
    // A reader that places row `index` with the header of that index finds the ray's own data.
    for (size_t h = 0; h < headers.size(); ++h) {
        const int row = headers[h]->index();
        ASSERT_GE(row, 0);
        ASSERT_LT(row, 3);
        const int slot = slots[h];
        EXPECT_NEAR(headers[h]->az_range().start(), slot, 1e-9);
        EXPECT_EQ(codes[static_cast<size_t>(8 * row)], 1000 + 10 * slot) << "row " << row;
    }

    // The per-ray form numbers its rays the same way.
    const pb::PayloadList rays = publish(scan.release(), PerScanPublisher::PER_RAY);
    std::vector<int> indices;
    for (const pb::Payload &p : rays.payload())
        if (p.type() == P::RAY_HEADER) {
            indices.push_back(p.ray_header().index());
            EXPECT_NEAR(p.ray_header().az_range().start(), slots[indices.size() - 1], 1e-9);
        }
    EXPECT_EQ(indices, (std::vector<int>{0, 1, 2}));
}

TEST(ModelScanTest, ConfigurationOfScalesMasksCustomMomentsAndSweepKinds) {
    RayConfHandle rconf(new_rayconf());
    const native_data_desc velocity = scale16(0, 1), corrected = scale16(0, 0);
    const dscan other_range{500.0, 125.0, 16};
    rayconf_add_moment(rconf.get(), RD_VEL, &kRange, &velocity);
    rayconf_add_moment(rconf.get(), RD_VELC, &kRange, &corrected);
    rayconf_add_moment(rconf.get(), RD_SQI, &other_range, &corrected);
    rayconf_add_custom_moment(rconf.get(), "RAINRATE", "mm/h", &kRange);
    ScanHandle scan(new_scan());
    for (int type : {SWEEP_PPI, SWEEP_RHI, SWEEP_MANUAL}) {
        SweepConfHandle sconf(new_sweepconf(rconf.get(), type));
        pvol_add_sweep(scan.get(), new_sweep(sconf.get(), 2));
    }
    rconf.reset();

    DataListPublisher sink;
    PerScanPublisher publisher(&sink, scan.release(), 0, {}, PerScanPublisher::PER_SWEEP);
    try {
        publisher.publish();
        ADD_FAILURE() << "a floating-point moment was published";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Unhandled data format (not 8- or 16-bit int)");
    }
    const pb::PayloadList &list = sink.get();
    // Equal masks share one envelope; the scales of V and VC differ only in the cyclic flag, which
    // keeps them apart. The custom moment brings its own floating-point scale.
    EXPECT_EQ(count_of(list, P::RANGE_MASK), 2);
    EXPECT_EQ(count_of(list, P::DATA_SCALE), 3);
    int cyclic = 0;
    for (const pb::Payload &p : list.payload()) {
        if (p.type() != P::DATA_SCALE || !p.data_scale().linear_scale().cyclic())
            continue;
        ++cyclic;  // velocity: 13.3 m/s of Nyquist velocity in 0.01 m/s steps from -327.68
        EXPECT_EQ(p.data_scale().linear_scale().cyclic_min_value(), 31438);
        EXPECT_EQ(p.data_scale().linear_scale().cyclic_max_value(), 34098);
    }
    EXPECT_EQ(cyclic, 1);
    EXPECT_EQ(count_of(list, P::MOMENT_DESCRIPTOR), 4);
    for (const pb::Payload &p : list.payload()) {
        if (p.type() != P::MOMENT_DESCRIPTOR ||
            p.moment_descriptor().data_descriptor().label() != "RAINRATE")
            continue;
        EXPECT_EQ(p.moment_descriptor().data_descriptor().data_type(),
                  pb::DataDescriptor::CUSTOM_TYPE);
        EXPECT_EQ(p.moment_descriptor().data_descriptor().data_unit(),
                  pb::DataDescriptor::CUSTOM_UNIT);
    }

    std::vector<pb::SweepConfig> sweeps;
    for (const pb::Payload &p : list.payload())
        if (p.type() == P::SWEEP_CONFIG)
            sweeps.push_back(p.sweep_config());
    ASSERT_EQ(sweeps.size(), 3u);
    int manual = 0;
    for (const pb::SweepConfig &s : sweeps) {
        if (s.type() == pb::SweepConfig::MANUAL_SWEEP) {
            ++manual;
            EXPECT_TRUE(std::isnan(s.sector().start()));
            EXPECT_EQ(s.sector().count(), 0);
        } else {
            EXPECT_DOUBLE_EQ(s.sector().start(), 10.0);
            EXPECT_DOUBLE_EQ(s.sector().step(), 2.0);
            EXPECT_EQ(s.sector().count(), 3);
        }
    }
    EXPECT_EQ(manual, 1);
    // The failure came with the custom moment's data, after those of the first sweep's other
    // moments.
    EXPECT_EQ(count_of(list, P::SWEEP_HEADER), 1);
    EXPECT_EQ(count_of(list, P::MOMENT_SWEEP_DATA), 3);
    EXPECT_EQ(list.payload(list.payload_size() - 1).type(), P::MOMENT_SWEEP_DATA);
}

TEST(ModelScanTest, WhatPrecedesAFailureIsSentWhateverTheThreadCount) {
    // A long 16-bit moment given to the pool, then a floating-point one that stops the
    // publication in the first sweep while the first is still in work.
    const auto scan_with_a_float_moment = [] {
        radar_ray_conf *rconf = new_rayconf();
        const native_data_desc scale = scale16(0);
        const dscan long_range{500.0, 250.0, 100000};
        rayconf_add_moment(rconf, RD_DBZ, &long_range, &scale);
        rayconf_add_custom_moment(rconf, "RAINRATE", "mm/h", &kRange);
        radar_scan *scan = new_scan();
        radar_sweep_conf *sconf = new_sweepconf(rconf);
        for (int s = 0; s < 2; ++s)
            pvol_add_sweep(scan, new_sweep(sconf, 40));
        sweepconf_unref(sconf);
        rayconf_unref(rconf);
        return scan;
    };
    const boost::uuids::uuid seed{{7}};
    std::vector<std::string> streams;
    for (unsigned threads : {1u, 3u}) {
        DataListPublisher sink;
        PerScanPublisher publisher(&sink, scan_with_a_float_moment(), 0, seed,
                                   PerScanPublisher::PER_SWEEP_LZ4, azm::IdentifierSource(seed));
        publisher.set_threads(threads);
        EXPECT_THROW(publisher.publish(), std::runtime_error);
        const pb::PayloadList &list = sink.get();
        EXPECT_EQ(list.payload(list.payload_size() - 1).type(), P::MOMENT_SWEEP_DATA);
        streams.push_back(list.SerializeAsString());
    }
    EXPECT_EQ(streams[0], streams[1]);
}

TEST(ModelScanTest, OnlyFixedSitesArePublished) {
    ScanHandle scan(new_scan());
    PositionHandle moving(rposition_new_moving());
    pvol_set_position(scan.get(), moving.get());
    moving.reset();
    DataListPublisher sink;
    PerScanPublisher publisher(&sink, scan.release(), 0, {}, PerScanPublisher::PER_SWEEP_LZ4);
    try {
        publisher.publish();
        ADD_FAILURE() << "a moving radar was published";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Only fixed location radars are supported");
    }
    EXPECT_EQ(sink.get().payload_size(), 0);
}

TEST(ModelScanDeathTest, SweepsMustUseOneRayConfiguration) {
    auto scan_with = [](bool two_in_config) {
        RayConfHandle a(new_rayconf());
        RayConfHandle b(rayconf_new(500, 5.6e9, 6.6, 300, 8e-7, 16, 70, -40, 0.008, 1));
        const native_data_desc scale = scale16(0);
        rayconf_add_moment(a.get(), RD_DBZ, &kRange, &scale);
        rayconf_add_moment(b.get(), RD_DBZ, &kRange, &scale);
        SweepConfHandle sconf(new_sweepconf(a.get()));
        SweepHandle sweep(new_sweep(sconf.get(), 2));
        if (two_in_config) {
            sweepconf_add_rayconf(sconf.get(), b.get());
        } else {
            const angle_interval angles{0, 0, 0};
            rsweep_add_ray(sweep.get(), rray_new(b.get(), &angles, &angles, nullptr, nullptr, -1));
        }
        ScanHandle scan(new_scan());
        pvol_add_sweep(scan.get(), sweep.release());
        return scan.release();
    };
    EXPECT_DEATH(publish(scan_with(true), PerScanPublisher::PER_SWEEP),
                 "sweepconf_get_rayconf_count\\(sc\\) == 1");
    EXPECT_DEATH(publish(scan_with(false), PerScanPublisher::PER_SWEEP), "sweep_rconf == rconf");
}

}  // namespace
