// Scans read from RAW files, written and read again: the same volume comes back, and a second
// write gives the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orva_header_ops.h"
#include "pvol/pvol_prod_io.h"
#include "pvol/pvol_save.h"
#include "raw_file_builder.h"
#include "synthetic_scan.h"
#include "temp_dir.h"
#include "pvol_handles.h"

namespace {

using rawfile::Bytes;
using rawfile::RawFile;
using namespace synthetic;

constexpr size_t kGenerationTime = 32;  // pcf.gen_time, the one field that differs between writes

Bytes file_bytes(const std::string &path) {
    const std::string text = TempDir::read_text(path);
    return Bytes(text.begin(), text.end());
}

std::string text(char *(*get)(const radar_scan *, char *, uint64_t), const radar_scan *scan) {
    char buffer[128] = {};
    return get(scan, buffer, sizeof buffer - 1) != nullptr ? buffer : "(none)";
}

void expect_same_rays(const radar_sweep *a, const radar_sweep *b) {
    ASSERT_EQ(rsweep_get_ray_count(a), rsweep_get_ray_count(b));
    RayDataHandle codes_a(radar_ray_data_new());
    RayDataHandle codes_b(radar_ray_data_new());
    const radar_ray_conf *rconf = rray_get_config(rsweep_get_first_ray(a));
    const int moments = static_cast<int>(rayconf_get_moments_count(rconf));
    for (uint64_t r = 0; r < rsweep_get_ray_count(a); ++r) {
        const radar_ray *ray_a = rsweep_get_ray(a, static_cast<int>(r));
        const radar_ray *ray_b = rsweep_get_ray(b, static_cast<int>(r));
        ASSERT_EQ(ray_a == nullptr, ray_b == nullptr);
        if (ray_a == nullptr)
            continue;
        EXPECT_EQ(rray_get_azimuth(ray_a).start, rray_get_azimuth(ray_b).start);
        EXPECT_EQ(rray_get_azimuth(ray_a).stop, rray_get_azimuth(ray_b).stop);
        EXPECT_EQ(rray_get_elevation(ray_a).between, rray_get_elevation(ray_b).between);
        timeval time_a, time_b;
        EXPECT_EQ(rray_get_time(ray_a, &time_a)->tv_sec, rray_get_time(ray_b, &time_b)->tv_sec);
        for (int m = 0; m < moments; ++m) {
            ASSERT_NE(rray_get_native(ray_a, m, codes_a.get()), nullptr);
            ASSERT_NE(rray_get_native(ray_b, m, codes_b.get()), nullptr);
            ASSERT_EQ(codes_a->type, codes_b->type);
            ASSERT_EQ(codes_a->bins, codes_b->bins);
            const size_t width = codes_a->type == BITS_8 ? 1 : 2;
            ASSERT_EQ(std::memcmp(codes_a->data, codes_b->data, codes_a->bins * width), 0)
                << "ray " << r << " moment " << m;
        }
    }
}

// Same texts, position, configurations, sweeps, rays, angles, times (to the second) and codes.
void expect_equivalent(const radar_scan *a, const radar_scan *b) {
    EXPECT_EQ(text(pvol_get_name, a), text(pvol_get_name, b));
    EXPECT_EQ(text(pvol_get_info, a), text(pvol_get_info, b));
    EXPECT_EQ(text(pvol_get_site_name, a), text(pvol_get_site_name, b));
    // Latitude and longitude are written in steps of two bin4 units.
    rposition_fixed site_a, site_b;
    ASSERT_NE(rposition_get_fixed(pvol_get_position(a), &site_a), nullptr);
    ASSERT_NE(rposition_get_fixed(pvol_get_position(b), &site_b), nullptr);
    EXPECT_NEAR(site_a.latitude, site_b.latitude, 2e-9);
    EXPECT_NEAR(site_a.longitude, site_b.longitude, 2e-9);
    EXPECT_EQ(site_a.ground_height, site_b.ground_height);
    EXPECT_EQ(site_a.altitude, site_b.altitude);
    EXPECT_EQ(pvol_get_scheduled_sweeps(a), pvol_get_scheduled_sweeps(b));
    EXPECT_EQ(pvol_get_sweepconf_count(a), pvol_get_sweepconf_count(b));
    EXPECT_EQ(pvol_get_rayconf_count(a), pvol_get_rayconf_count(b));
    ASSERT_EQ(pvol_get_sweeps_count(a), pvol_get_sweeps_count(b));
    const radar_sweep *sb = nullptr;
    for (const radar_sweep *sa = pvol_get_next_sweep(a, nullptr); sa != nullptr;
         sa = pvol_get_next_sweep(a, sa)) {
        sb = pvol_get_next_sweep(b, sb);
        EXPECT_EQ(rsweep_get_schedule_index(sa), rsweep_get_schedule_index(sb));
        EXPECT_EQ(rsweep_get_fixed_angle(sa), rsweep_get_fixed_angle(sb));
        timeval time_a, time_b;
        EXPECT_EQ(rsweep_get_time(sa, &time_a)->tv_sec, rsweep_get_time(sb, &time_b)->tv_sec);
        const radar_sweep_conf *conf_a = rsweep_get_config(sa);
        const radar_sweep_conf *conf_b = rsweep_get_config(sb);
        EXPECT_EQ(sweepconf_get_type(conf_a), sweepconf_get_type(conf_b));
        dscan sector_a, sector_b;
        sweepconf_get_sector(conf_a, &sector_a);
        sweepconf_get_sector(conf_b, &sector_b);
        EXPECT_EQ(dscan_compare(&sector_a, &sector_b), 0);
        EXPECT_EQ(sweepconf_get_int(conf_a, "ORVA Sweep Minor Task ID"),
                  sweepconf_get_int(conf_b, "ORVA Sweep Minor Task ID"));
        EXPECT_EQ(rayconf_compare(sweepconf_get_next_rayconf(conf_a, nullptr),
                                  sweepconf_get_next_rayconf(conf_b, nullptr)),
                  1);
        expect_same_rays(sa, sb);
    }
}

void expect_same_bytes_but_generation_time(const std::string &first, const std::string &second) {
    Bytes a = file_bytes(first);
    Bytes b = file_bytes(second);
    ASSERT_EQ(a.size(), b.size());
    std::memset(a.data() + kGenerationTime, 0, sizeof(ymds_time));
    std::memset(b.data() + kGenerationTime, 0, sizeof(ymds_time));
    EXPECT_TRUE(a == b) << first << " and " << second << " differ";
}

// A task of sweeps PPI sweeps with reflectivity, velocity and differential phase.
RawFile task_file(const std::string &name, int minor, int sweeps, int bits) {
    using namespace rawfile;
    const std::vector<std::pair<int, int>> moments =
        bits == 8 ? std::vector<std::pair<int, int>>{{kDbz8, 8}, {kVel8, 8}, {kPhidp8, 8}}
                  : std::vector<std::pair<int, int>>{{kDbz16, 16}, {kVel16, 16}, {kPhidp16, 16}};
    RawFile file;
    file.ingest.task(name, 7, minor, 2).info("Round trip").scan(4, 30000, sweeps);
    file.ingest.range(100000, 50000, 20)
        .mask({moments[0].first, moments[1].first, moments[2].first});
    for (int s = 0; s < sweeps; ++s) {
        Sweep sweep = make_sweep(s + 1, 12, moments, 20, static_cast<uint16_t>(0x100 * (s + 1)));
        // One ray short of the range and one position without any ray.
        for (Moment &m : sweep.moments) {
            m.rays[3]->bins.resize(7);
            m.rays[11].reset();
        }
        file.sweeps.push_back(sweep);
    }
    return file;
}

class RoundTripTest : public ::testing::Test {
  protected:
    // Writes scan, reads it back and checks the two are equivalent; writes the read scan again
    // and checks the files match byte for byte. Returns the files of the first write.
    std::vector<std::string> round_trip(const radar_scan *scan, int mode, int bin_format,
                                        const std::string &name = "first") {
        const auto first = write_files(scan, dir_.file(name), mode, bin_format);
        ScanHandle again = read_files(first);
        EXPECT_NE(again, nullptr);
        if (again == nullptr)
            return first;
        expect_equivalent(scan, again.get());
        const auto second = write_files(again.get(), dir_.file(name + "2"), mode, bin_format);
        EXPECT_EQ(first.size(), second.size());
        for (size_t i = 0; i < first.size() && i < second.size(); ++i)
            expect_same_bytes_but_generation_time(first[i], second[i]);
        return first;
    }

    TempDir dir_;
};

TEST_F(RoundTripTest, SingleTaskInEitherModeAndBinFormat) {
    const std::string input = dir_.write("in", task_file("VOL", 0, 3, 8).bytes());
    ScanHandle scan = read_files({input});
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(round_trip(scan.get(), RAW_SAVE_ONE_FILE, BITS_8),
              std::vector<std::string>{dir_.file("first")});
    EXPECT_FALSE(TempDir::exists(dir_.file("first.meta")));
    EXPECT_EQ(round_trip(scan.get(), RAW_SAVE_PER_SWEEP, BITS_8, "sweep"),
              (std::vector<std::string>{dir_.file("sweep_00"), dir_.file("sweep_01"),
                                        dir_.file("sweep_02")}));
    // Widened on reading, written as 16-bit data.
    scan = read_files({input}, 1);
    ASSERT_NE(scan, nullptr);
    round_trip(scan.get(), RAW_SAVE_ONE_FILE, BITS_16, "wide");
}

TEST_F(RoundTripTest, HybridTaskKeepsItsScheduleAndNames) {
    RawFile a = task_file("VOL_A", 0, 2, 16);
    RawFile b = task_file("VOL_B", 1, 2, 16);
    for (rawfile::Sweep &sweep : b.sweeps)
        sweep.time.seconds += 600;  // the second task follows the first
    ScanHandle scan = read_files({dir_.write("a", a.bytes()), dir_.write("b", b.bytes())});
    ASSERT_NE(scan, nullptr);
    ASSERT_EQ(pvol_get_orva_hybrid_count(scan.get()), 2);
    const std::vector<std::string> files = round_trip(scan.get(), RAW_SAVE_ONE_FILE, BITS_16);
    EXPECT_EQ(files, (std::vector<std::string>{dir_.file("first_A"), dir_.file("first_B")}));
    EXPECT_EQ(TempDir::read_text(dir_.file("first.meta")),
              "sPathName[0] = " + files[0] + "\nsPathName[1] = " + files[1] + "\n");
}

std::vector<int> schedule_of(const radar_scan *scan) {
    std::vector<int> indices;
    for (const radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s != nullptr;
         s = pvol_get_next_sweep(scan, s))
        indices.push_back(rsweep_get_schedule_index(s));
    return indices;
}

TEST_F(RoundTripTest, HybridTasksOutOfTimeOrderStillReadBack) {
    // The task with the higher minor identifier ran first. A rising identifier for the second
    // file would move its sweeps past the first one's, so it keeps the first file's identifier.
    RawFile a = task_file("VOL_A", 0, 2, 16);
    RawFile b = task_file("VOL_B", 1, 2, 16);
    for (rawfile::Sweep &sweep : b.sweeps)
        sweep.time.seconds -= 600;
    ScanHandle scan = read_files({dir_.write("a", a.bytes()), dir_.write("b", b.bytes())});
    ASSERT_NE(scan, nullptr);
    const auto files = write_files(scan.get(), dir_.file("out"), RAW_SAVE_ONE_FILE, BITS_16);
    ASSERT_EQ(files.size(), 2u);
    ScanHandle again = read_files(files);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(schedule_of(again.get()), (std::vector<int>{2, 3, 0, 1}));
    int16_t minors[2];
    for (size_t i = 0; i < files.size(); ++i) {
        const Bytes bytes = file_bytes(files[i]);
        ASSERT_GE(bytes.size(), 6144 + sizeof(ingest_header));
        ingest_header ih;
        std::memcpy(&ih, bytes.data() + 6144, sizeof ih);
        EXPECT_EQ(ih.tcf.end.id_major, 7);
        minors[i] = ih.tcf.end.id_minor;
    }
    EXPECT_EQ(minors[0], 1);
    EXPECT_EQ(minors[1], 1);
}

// A configuration of task whose stored ingest header carries the minor task identifier, as the
// reader leaves it.
radar_sweep_conf *task_conf(const char *task, int minor) {
    ingest_header stored{};
    __ingest_header_set_defaults(&stored);
    stored.tcf.end.id_major = 7;
    stored.tcf.end.id_minor = static_cast<int16_t>(minor);
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})}, task));
    sweepconf_add_buf(sconf.get(), "ORVA Sweep Ingest Header", &stored, sizeof stored);
    return sconf.release();
}

TEST_F(RoundTripTest, HybridTasksInterleavedInTimeKeepEveryScheduleIndex) {
    // Task A (minor identifier 0) holds schedule indices 0 and 1, task B (1) holds 2 and 3; the
    // letters give the time order.
    struct Case {
        std::string order;
        std::vector<int> schedule;
    };
    for (const Case &c : {Case{"ABA", {0, 2, 1}}, Case{"ABAB", {0, 2, 1, 3}},
                          Case{"AABB", {0, 1, 2, 3}}, Case{"BAAB", {2, 0, 1, 3}}}) {
        ScanHandle scan = new_scan();
        radar_sweep_conf *a = task_conf("A", 0);
        radar_sweep_conf *b = task_conf("B", 1);
        for (size_t i = 0; i < c.order.size(); ++i)
            pvol_add_sweep(scan.get(), new_sweep(c.order[i] == 'A' ? a : b,
                                                 kVolumeTime + 60 * static_cast<time_t>(i),
                                                 0.5 + static_cast<double>(i), c.schedule[i]));
        sweepconf_unref(a);
        sweepconf_unref(b);
        for (const int mode : {RAW_SAVE_ONE_FILE, RAW_SAVE_PER_SWEEP}) {
            const auto files =
                write_files(scan.get(), dir_.file(c.order + std::to_string(mode)), mode, BITS_16);
            ASSERT_FALSE(files.empty()) << c.order;
            ScanHandle read = read_files(files);
            ASSERT_NE(read, nullptr) << c.order;
            EXPECT_EQ(schedule_of(read.get()), c.schedule) << c.order << " mode " << mode;
        }
    }
}

TEST_F(RoundTripTest, PerSweepFilesWrittenAsOneFile) {
    // Each input file counts one sweep done; the task written from them holds all three.
    const RawFile task = task_file("VOL", 0, 3, 8);
    std::vector<std::string> inputs;
    for (size_t s = 0; s < task.sweeps.size(); ++s) {
        RawFile one = task;
        one.raw_flags = RAW_FLAG_ONE_SWEEP;
        one.ingest.sweeps_done(1);
        one.sweeps = {task.sweeps[s]};
        inputs.push_back(dir_.write("in" + std::to_string(s), one.bytes()));
    }
    ScanHandle scan = read_files(inputs);
    ASSERT_EQ(pvol_get_sweeps_count(scan.get()), 3u);
    round_trip(scan.get(), RAW_SAVE_ONE_FILE, BITS_8);
}

TEST_F(RoundTripTest, AbsentRayPositionKeepsTheLaterRaysInPlace) {
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}, {RD_VEL, BITS_16}})}));
    // Rays of this configuration could carry extended headers, which are not written.
    raycon_set_exthdr_size(sweepconf_get_next_rayconf(sconf.get(), nullptr), 20);
    pvol_add_sweep(scan.get(), new_sweep(sconf.get(), kVolumeTime, 0.5, 0, 4));
    sconf.reset();
    for (const int mode : {RAW_SAVE_ONE_FILE, RAW_SAVE_PER_SWEEP}) {
        const std::string name = mode == RAW_SAVE_ONE_FILE ? "one" : "per-sweep";
        ScanHandle read = read_files(write_files(scan.get(), dir_.file(name), mode, BITS_16));
        ASSERT_NE(read, nullptr);
        const radar_sweep *sweep = pvol_get_next_sweep(read.get(), nullptr);
        ASSERT_EQ(rsweep_get_ray_count(sweep), static_cast<uint64_t>(kRays));
        RayDataHandle codes(radar_ray_data_new());
        for (int r = 0; r < kRays; ++r) {
            const radar_ray *ray = rsweep_get_ray(sweep, r);
            if (r == 4) {
                EXPECT_EQ(ray, nullptr);
                continue;
            }
            ASSERT_NE(ray, nullptr) << name << " position " << r;
            EXPECT_NEAR(rray_get_azimuth(ray).start, r * kDegree, 1e-4) << name;
            ASSERT_NE(rray_get_native(ray, 1, codes.get()), nullptr);
            EXPECT_EQ(static_cast<uint16_t *>(codes->data)[2], pattern_code(BITS_16, r, 2, 1))
                << name << " position " << r;
        }
    }
}

TEST_F(RoundTripTest, SyntheticScanWithMomentsOnDifferentRanges) {
    ScanHandle scan = new_scan();
    const dscan later{750.0, 500.0, 12};
    SweepConfHandle sconf(new_ppi_conf(
        {new_rayconf({{RD_DBZ, BITS_16}, {RD_ZDR, BITS_16, later}, {RD_RHOHV, BITS_16}})}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5, 1.5});
    sconf.reset();
    ScanHandle read =
        read_files(write_files(scan.get(), dir_.file("w"), RAW_SAVE_ONE_FILE, BITS_16));
    ASSERT_NE(read, nullptr);
    // Every moment comes back on the merged range, its bins shifted into place.
    const radar_ray *ray = rsweep_get_first_ray(pvol_get_next_sweep(read.get(), nullptr));
    dscan range;
    rmoment_get_range_mask(rayconf_get_moment(rray_get_config(ray), 1), &range);
    EXPECT_EQ(range.start, 250.0);
    EXPECT_EQ(range.count, 13u);
    RayDataHandle codes(radar_ray_data_new());
    ASSERT_NE(rray_get_native(ray, 1, codes.get()), nullptr);
    EXPECT_EQ(static_cast<uint16_t *>(codes->data)[0], 0);
    EXPECT_EQ(static_cast<uint16_t *>(codes->data)[1], pattern_code(BITS_16, 0, 0, 1));
    EXPECT_EQ(static_cast<uint16_t *>(codes->data)[12], pattern_code(BITS_16, 0, 11, 1));
    codes.reset();
    round_trip(read.get(), RAW_SAVE_ONE_FILE, BITS_16);
}

}  // namespace
