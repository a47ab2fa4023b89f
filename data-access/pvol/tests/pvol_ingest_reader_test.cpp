// Scans and sweeps from ingest data, and the reader of ingest files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "pvol/pvol_prod_io.h"
#include "raw_file_builder.h"
#include "reader_checks.h"
#include "temp_dir.h"
#include "pvol_handles.h"

namespace {

using namespace rawfile;

ingest_header header_of(const IngestHeader &h) {
    ingest_header ih;
    std::memcpy(&ih, h.b.data(), sizeof ih);
    return ih;
}

// The block an ingest data file of the moment loads into.
BlockHandle block_of(const Sweep &sweep, const Moment &moment) {
    const Bytes file = ingest_data_file(sweep, moment);
    IDhdr header;
    std::memcpy(&header, file.data(), sizeof header);
    return BlockHandle(
        dblock_new_from_ihdr(&header, file.data() + sizeof header, file.size() - sizeof header));
}

// The task's shared configurations, released at the end of a test.
struct Shared {
    radar_sweep_conf *sconf = nullptr;
    radar_ray_conf *rconf = nullptr;
    ~Shared() {
        if (sconf)
            sweepconf_unref(sconf);
        if (rconf)
            rayconf_unref(rconf);
    }
    // Builds the sweep's blocks and a sweep from them; null when that fails.
    SweepHandle sweep(const IngestHeader &h, const Sweep &s) {
        std::vector<BlockHandle> blocks;
        std::vector<dblock *> raw;
        for (const Moment &m : s.moments) {
            blocks.push_back(block_of(s, m));
            EXPECT_NE(blocks.back(), nullptr);
            raw.push_back(blocks.back().get());
        }
        const ingest_header ih = header_of(h);
        return SweepHandle(
            rsweep_new_from_blocks(&ih, &sconf, &rconf, static_cast<int>(raw.size()), raw.data()));
    }
};

TEST(ScanFromIngestHeaderTest, PositionNamesAndTime) {
    IngestHeader h;
    Time local;
    local.utc = false;
    h.info("test volume").volume_time(local, 60);
    ingest_header ih = header_of(h);
    ScanHandle scan(pvol_new_from_ingest_header(&ih, nullptr));
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(name_of(scan.get()), "VOL");
    char text[81] = {};
    EXPECT_STREQ(pvol_get_info(scan.get(), text, 80), "test volume");
    EXPECT_STREQ(pvol_get_site_name(scan.get(), text, 80), "TESTSITE");
    struct timeval t;
    pvol_get_time_stamp(scan.get(), &t);
    EXPECT_EQ(t.tv_sec, local.posix() + 3600);
    rposition_fixed fixed;
    ASSERT_NE(rposition_get_fixed(pvol_get_position(scan.get()), &fixed), nullptr);
    EXPECT_NEAR(fixed.latitude, 40.0 * M_PI / 180, 1e-6);
    EXPECT_NEAR(fixed.longitude, 16.0 * M_PI / 180, 1e-6);
    EXPECT_EQ(fixed.ground_height, 100.0);
    EXPECT_DOUBLE_EQ(fixed.altitude, 123.0);

    // The altitude in cm counts only when it agrees with ground and antenna height to a metre.
    for (const auto &[cm, metres] :
         {std::pair{12345, 123.45}, {20000, 100.0}, {12200, 100.0}, {12201, 122.01}}) {
        h.site("S", 0, 0, 100, 23, cm);
        ih = header_of(h);
        ScanHandle s(pvol_new_from_ingest_header(&ih, nullptr));
        rposition_get_fixed(pvol_get_position(s.get()), &fixed);
        EXPECT_DOUBLE_EQ(fixed.altitude, metres) << cm;
    }
    ih.hdr.id = 22;
    EXPECT_EQ(pvol_new_from_ingest_header(&ih, nullptr), nullptr);
}

TEST(RayConfFromIngestHeaderTest, RadarParameters) {
    IngestHeader h;
    h.dsp(32, 80, 0).calibration(1234, 160);
    ingest_header ih = header_of(h);
    RayConfHandle r(rayconf_new_from_ingest_header(&ih));
    EXPECT_DOUBLE_EQ(rayconf_get_prf(r.get()), 1000);
    EXPECT_DOUBLE_EQ(rayconf_get_rf_freq(r.get()), 2.997925e12 / 533);
    EXPECT_DOUBLE_EQ(rayconf_get_nyquist_vel(r.get()), 13.325);
    EXPECT_DOUBLE_EQ(rayconf_get_unamb_range(r.get()), 149.89625);
    EXPECT_DOUBLE_EQ(rayconf_get_pulse_width(r.get()), 8e-7);
    EXPECT_EQ(rayconf_get_pulses_per_ray(r.get()), 32);
    EXPECT_DOUBLE_EQ(rayconf_get_radar_const(r.get()), 12.34);
    EXPECT_DOUBLE_EQ(rayconf_get_calib_const(r.get()), 10.0);
    EXPECT_EQ(rayconf_get_tx_polarization(r.get()), 1);

    struct Case {
        int prf, wavelength, trig, polarization;
        double nyquist;
        int tx;
    };
    for (const Case c : {Case{1000, 533, 2, 0, 39.975, 1}, Case{1000, 533, 0, 2, 6.6625, 4},
                         Case{1000, 533, 1, 1, 26.65, 2}, Case{1000, 533, 0, 3, 13.325, 3},
                         Case{1000, 533, 0, 9, 13.325, 0}}) {
        h.radar(c.prf, c.wavelength, c.trig, c.polarization);
        ih = header_of(h);
        r.reset(rayconf_new_from_ingest_header(&ih));
        EXPECT_DOUBLE_EQ(rayconf_get_nyquist_vel(r.get()), c.nyquist)
            << c.trig << " " << c.polarization;
        EXPECT_EQ(rayconf_get_tx_polarization(r.get()), c.tx);
    }

    h.radar(0, 533, 0, 0).dsp(32, 0, 0);
    ih = header_of(h);
    r.reset(rayconf_new_from_ingest_header(&ih));
    EXPECT_TRUE(std::isnan(rayconf_get_prf(r.get())));
    EXPECT_TRUE(std::isnan(rayconf_get_nyquist_vel(r.get())));
    EXPECT_TRUE(std::isnan(rayconf_get_unamb_range(r.get())));
    EXPECT_TRUE(std::isnan(rayconf_get_pulse_width(r.get())));
    EXPECT_FALSE(std::isnan(rayconf_get_rf_freq(r.get())));
    h.radar(1000, 0, 0, 0);
    ih = header_of(h);
    r.reset(rayconf_new_from_ingest_header(&ih));
    EXPECT_TRUE(std::isnan(rayconf_get_rf_freq(r.get())));
    EXPECT_TRUE(std::isnan(rayconf_get_nyquist_vel(r.get())));

    dscan mask;
    h.range(150000, 25000, 400);
    ih = header_of(h);
    get_range_mask(&mask, &ih.tcf);
    EXPECT_EQ(mask.start, 1500.0);
    EXPECT_EQ(mask.step, 250.0);
    EXPECT_EQ(mask.count, 400u);
}

TEST(SweepFromBlocksTest, KindSectorAndRays) {
    struct Case {
        int mode, start;
        int type;
        double sector_start;
    };
    for (const Case c : {Case{1, 0x4000, SWEEP_PPI, M_PI / 2},
                         Case{2, 0xF000, SWEEP_RHI, -M_PI / 8}, Case{4, 0x4000, SWEEP_PPI, 0.0},
                         Case{7, 0x4000, SWEEP_RHI, 0.0}, Case{3, 0, SWEEP_MANUAL, 0.0}}) {
        SCOPED_TRACE(c.mode);
        IngestHeader h;
        h.scan(c.mode, 30000, 1, c.start).mask({kDbz8, kVel16});
        const Sweep s = make_sweep(2, 12, {{kDbz8, 8}, {kVel16, 16}}, 20, 0xFF00);
        Shared shared;
        const SweepHandle owned = shared.sweep(h, s);
        ASSERT_NE(owned, nullptr);
        const radar_sweep *sweep = owned.get();
        const radar_sweep_conf *sconf = rsweep_get_config(sweep);
        EXPECT_EQ(sweepconf_get_type(sconf), c.type);
        EXPECT_EQ(sconf, shared.sconf);
        EXPECT_EQ(sweepconf_get_next_rayconf(sconf, nullptr), shared.rconf);
        if (c.type != SWEEP_MANUAL) {
            dscan sector;
            sweepconf_get_sector(sconf, &sector);
            EXPECT_DOUBLE_EQ(sector.start, c.sector_start);
            EXPECT_DOUBLE_EQ(sector.step, M_PI / 6);
            EXPECT_EQ(sector.count, 12u);
        }
        EXPECT_EQ(rsweep_get_schedule_index(sweep), 1);
        // The fixed angle is a signed elevation for a PPI and an azimuth for an RHI.
        const double fixed =
            c.type == SWEEP_RHI ? 0xFF00 * 2 * M_PI / 65536 : -0x100 * 2 * M_PI / 65536;
        EXPECT_DOUBLE_EQ(rsweep_get_fixed_angle(sweep), c.type == SWEEP_MANUAL ? 0.0 : fixed);
        const radar_ray *ray = rsweep_get_ray(sweep, 11);
        EXPECT_NEAR(rray_get_azimuth(ray).between, 345.0 * M_PI / 180, 1e-4);
        EXPECT_DOUBLE_EQ(rray_get_elevation(ray).start, -0x100 * 2 * M_PI / 65536);
        expect_same_rays(sweep, s);
    }
}

TEST(SweepFromBlocksTest, LaterSweepsMustAgreeWithTheTask) {
    IngestHeader h;
    h.scan(1, 30000, 3, 0x1000).mask({kDbz8});
    Shared shared;
    const SweepHandle first = shared.sweep(h, make_sweep(1, 12, {{kDbz8, 8}}, 20));
    ASSERT_NE(first, nullptr);
    radar_sweep_conf *sconf = shared.sconf;
    radar_ray_conf *rconf = shared.rconf;
    const SweepHandle second = shared.sweep(h, make_sweep(2, 12, {{kDbz8, 8}}, 20));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(rsweep_get_config(second.get()), sconf);
    EXPECT_EQ(shared.rconf, rconf);

    IngestHeader other_start = h, other_task = h, other_range = h;
    other_start.scan(1, 30000, 3, 0x1100);
    other_task.task("OTHER", 7, 0);
    other_range.range(100000, 50000, 30);
    for (const IngestHeader *changed : {&other_start, &other_task, &other_range})
        EXPECT_EQ(shared.sweep(*changed, make_sweep(3, 12, {{kDbz8, 8}}, 20)), nullptr);
    EXPECT_EQ(shared.sweep(h, make_sweep(3, 10, {{kDbz8, 8}}, 20)), nullptr);  // other sector
    EXPECT_EQ(shared.sconf, sconf);

    // Manual sweeps have no sector to compare.
    Shared manual;
    h.scan(3, 30000, 3);
    const SweepHandle m1 = manual.sweep(h, make_sweep(1, 12, {{kDbz8, 8}}, 20));
    const SweepHandle m2 = manual.sweep(h, make_sweep(2, 9, {{kDbz8, 8}}, 20));
    EXPECT_NE(m2, nullptr);
}

TEST(SweepFromBlocksTest, UnusableBlocksGiveNoSweep) {
    IngestHeader h;
    h.mask({kDbz8, kVel8});
    const Sweep s = make_sweep(1, 12, {{kDbz8, 8}, {kVel8, 8}}, 20);
    Sweep shorter = make_sweep(1, 10, {{kVel8, 8}}, 20);
    BlockHandle a = block_of(s, s.moments[0]);
    BlockHandle b = block_of(shorter, shorter.moments[0]);
    dblock *unequal[] = {a.get(), b.get()};
    const ingest_header ih = header_of(h);
    Shared shared;
    EXPECT_EQ(rsweep_new_from_blocks(&ih, &shared.sconf, &shared.rconf, 2, unequal), nullptr);
    EXPECT_EQ(rsweep_new_from_blocks(&ih, &shared.sconf, &shared.rconf, 0, unequal), nullptr);
    // A ray longer than the task's range mask has no place in the moment.
    h.range(100000, 50000, 19);
    EXPECT_EQ(shared.sweep(h, s), nullptr);
}

TEST(IngestIoTest, FileNames) {
    EXPECT_STREQ(raw_data_suffix(RD_DBZ, BITS_8), "dBZ");
    EXPECT_STREQ(raw_data_suffix(RD_DBZ, BITS_16), "dBZ2");
    EXPECT_STREQ(raw_data_suffix(RD_XHDR, BITS_16), "Xhdr");
    EXPECT_EQ(raw_data_suffix(25, BITS_8), nullptr);
    EXPECT_EQ(raw_data_suffix(RD_DBZ, 3), nullptr);

    TempDir dir;
    const std::string vol = dir.file("VOL"), other = dir.file("B.");
    const char *bases[] = {vol.c_str(), other.c_str()};
    const IngestIoHandle io(default_ingest_io_new_hybrid(bases, 2));
    struct Case {
        int type, format, sweep, task;
        const char *name;
    };
    for (const auto [type, format, sweep, task, name] :
         {Case{RD_DBZ, BITS_16, 0, 0, "VOL.01dBZ2"}, Case{RD_VEL, BITS_8, 11, -3, "VOL.12V"},
          Case{0, 0, 0, 0, "VOL."}, Case{RD_WIDTH, BITS_16, 1, 1, "B.02W2"}}) {
        FileHandle file(default_ingest_output(io.get(), type, format, sweep, task));
        ASSERT_NE(file, nullptr) << name;
        file.reset();
        EXPECT_TRUE(TempDir::exists(dir.file(name))) << name;
        file.reset(default_ingest_input(io.get(), type, format, sweep, task));
        EXPECT_NE(file, nullptr) << name;
    }
    EXPECT_EQ(default_ingest_input(io.get(), 0, 0, 0, 2), nullptr);
    EXPECT_EQ(default_ingest_input(io.get(), RD_DBZ, 3, 0, 0), nullptr);
}

// The ingest files of one task: the header file "<base>." and one data file per sweep and
// moment, named by hand as the ingest software names them.
void write_task(const TempDir &dir, const std::string &base, const IngestHeader &h,
                const std::vector<Sweep> &sweeps, const std::vector<std::string> &suffixes) {
    dir.write(base + ".", h.b);
    for (const Sweep &s : sweeps) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", s.isweep);
        for (size_t m = 0; m < s.moments.size(); ++m)
            dir.write(base + "." + number + suffixes[m], ingest_data_file(s, s.moments[m]));
    }
}

struct IngestReading {
    ScanHandle scan;
    std::vector<std::string> messages;
};

IngestReading read_ingest(const TempDir &dir, const std::vector<std::string> &bases) {
    std::vector<std::string> paths;
    std::vector<const char *> names;
    for (const std::string &b : bases)
        paths.push_back(dir.file(b));
    for (const std::string &p : paths)
        names.push_back(p.c_str());
    const IngestIoHandle io(
        default_ingest_io_new_hybrid(names.data(), static_cast<int>(names.size())));
    messages().clear();
    return IngestReading{
        ScanHandle(pvol_new_from_ingest(io.get(), default_ingest_input, collect_message)),
        messages()};
}

TEST(IngestReaderTest, ReadsTheSweepsOfAHybridTask) {
    TempDir dir;
    const std::vector<std::pair<int, int>> moments = {{kDbz8, 8}, {kVel16, 16}};
    IngestHeader a, b;
    a.task("VOL_A", 7, 0, 2).scan(4, 30000, 2).sweeps_done(3).mask(codes_of(moments));
    b.task("VOL_B", 7, 1, 2).scan(1, 30000, 2, 0x2000).sweeps_done(1).mask(codes_of(moments));
    std::vector<Sweep> task_a, task_b;
    for (int s = 1; s <= 3; ++s)
        task_a.push_back(make_sweep(s, 12, moments, 20));
    task_b.push_back(make_sweep(1, 12, moments, 20));
    task_a[1].moments[0].rays[5].reset();
    write_task(dir, "VOL_A", a, task_a, {"dBZ", "V2"});
    write_task(dir, "VOL_B", b, task_b, {"dBZ", "V2"});

    const IngestReading r = read_ingest(dir, {"VOL_A", "VOL_B"});
    ASSERT_NE(r.scan, nullptr);
    EXPECT_TRUE(r.messages.empty());
    // All sweeps done are read, even beyond the task's count; task B follows task A's schedule.
    EXPECT_EQ(schedule_of(r.scan.get()), (std::vector<int>{0, 1, 2, 2}));
    EXPECT_EQ(pvol_get_scheduled_sweeps(r.scan.get()), 4);
    EXPECT_EQ(pvol_get_sweepconf_count(r.scan.get()), 2u);
    EXPECT_EQ(name_of(r.scan.get()), "VOL_A");
    const auto sweeps = sweeps_of(r.scan.get());
    for (int s = 0; s < 3; ++s)
        expect_same_rays(sweeps[s], task_a[s]);
    expect_same_rays(sweeps[3], task_b[0]);
}

TEST(IngestReaderTest, MissingOrDamagedFiles) {
    TempDir dir;
    const std::vector<std::pair<int, int>> moments = {{kDbz8, 8}, {kVel16, 16}};
    IngestHeader h;
    h.scan(4, 30000, 2).sweeps_done(2).mask(codes_of(moments));
    const std::vector<Sweep> sweeps = {make_sweep(1, 12, moments, 20),
                                       make_sweep(2, 12, moments, 20)};
    write_task(dir, "VOL", h, sweeps, {"dBZ", "V2"});
    ASSERT_NE(read_ingest(dir, {"VOL"}).scan, nullptr);

    Bytes longer = ingest_data_file(sweeps[1], sweeps[1].moments[0]);
    longer.push_back(0);
    dir.write("VOL.02dBZ", longer);
    IngestReading r = read_ingest(dir, {"VOL"});
    EXPECT_EQ(r.scan, nullptr);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_NE(r.messages[0].find("sweep=2, dtype=dBZ"), std::string::npos) << r.messages[0];

    std::remove(dir.file("VOL.02dBZ").c_str());
    r = read_ingest(dir, {"VOL"});
    EXPECT_EQ(r.scan, nullptr);
    EXPECT_EQ(r.messages, std::vector<std::string>{"Missing ingest file, sweep=2, dtype=dBZ.\n"});

    h.scan(4, 30000, -1);
    write_task(dir, "NEG", h, sweeps, {"dBZ", "V2"});
    r = read_ingest(dir, {"NEG"});
    EXPECT_EQ(r.scan, nullptr);
    EXPECT_EQ(r.messages, std::vector<std::string>{
                              "Ingest header of task 0 has a negative sweep count (-1).\n"});

    r = read_ingest(dir, {"NONE"});
    EXPECT_EQ(r.scan, nullptr);
    EXPECT_EQ(r.messages, std::vector<std::string>{"No input files found.\n"});
}

}  // namespace
