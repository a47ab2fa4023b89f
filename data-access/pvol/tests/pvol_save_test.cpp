// Data scans of the RAW writer: range masks, grouping of sweeps into tasks, task headers and the
// conversion of rays into blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data_block.h"
#include "orva_header_ops.h"
#include "pvol_save.h"
#include "synthetic_scan.h"

namespace {

using namespace synthetic;

struct GroupDeleter {
    void operator()(data_scan_group *group) const { data_scan_group_delete(group); }
};
using GroupPtr = std::unique_ptr<data_scan_group, GroupDeleter>;

std::string task_name(const data_scan *ds) {
    char name[13];
    return fstr2cstr(name, data_scan_get_ingest_header(ds)->tcf.end.task_name, 12);
}

// A scan whose sweeps run through the given tasks in order, one sweep per letter ("AABB"), a
// minute apart.
ScanPtr scan_of_tasks(const std::string &tasks, const char *name = "VOLUME") {
    ScanPtr scan = new_scan(name);
    std::vector<radar_sweep_conf *> confs;
    for (char task : tasks) {
        const size_t index = static_cast<size_t>(task - 'A');
        if (confs.size() <= index)
            confs.resize(index + 1, nullptr);
        if (confs[index] == nullptr) {
            const std::string task_name(1, task);
            confs[index] = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, task_name.c_str());
        }
    }
    for (size_t i = 0; i < tasks.size(); ++i)
        pvol_add_sweep(scan.get(), new_sweep(confs[tasks[i] - 'A'], kVolumeTime + 60 * i, 0.5 + i,
                                             static_cast<int>(i)));
    for (radar_sweep_conf *sconf : confs)
        sweepconf_unref(sconf);
    return scan;
}

TEST(DscanTest, ValuesAndPositionsOfBins) {
    EXPECT_DOUBLE_EQ(dscan_get_val(&kRange, 3), 1750.0);
    EXPECT_EQ(dscan_get_pos(&kRange, 1750.0), 3);
    EXPECT_EQ(dscan_get_pos(&kRange, 1999.0), 3);
    EXPECT_EQ(dscan_get_pos(&kRange, 2000.0), 4);  // half a bin rounds up
    EXPECT_EQ(dscan_get_pos(&kRange, 0.0), 0);
    EXPECT_EQ(dscan_get_pos(&kRange, -1.0), -1);
}

TEST(DscanTest, MergeCoversBothMasks) {
    dscan merged = kRange;
    const dscan later{750.0, 500.0, 12};
    dscan_merge(&merged, &later);
    EXPECT_EQ(merged.start, 250.0);
    EXPECT_EQ(merged.step, 500.0);
    EXPECT_EQ(merged.count, 13u);

    dscan fine{0.0, 250.0, 8};
    const dscan coarse{0.0, 500.0, 10};
    dscan_merge(&fine, &coarse);
    EXPECT_EQ(fine.step, 250.0);
    EXPECT_EQ(fine.count, 20u);  // reaches the coarse mask's end at 5000 m

    dscan same = kRange;
    EXPECT_EQ(dscan_compare(dscan_merge(&same, &kRange), &kRange), 0);
    const dscan longer{250.0, 500.0, 13};
    EXPECT_EQ(dscan_compare(&kRange, &longer), 1);
}

TEST(DscanTest, ScalesCompareByteForByte) {
    const native_data_desc a = block_scale(RD_VEL, BITS_16);
    native_data_desc b = a;
    EXPECT_EQ(native_data_desc_compare(&a, &b), 0);
    b.max_value = 32768;
    EXPECT_NE(native_data_desc_compare(&a, &b), 0);
    b = a;
    b.offset = std::nextafter(a.offset, 1.0);
    EXPECT_NE(native_data_desc_compare(&a, &b), 0);
}

TEST(DataScanGroupTest, RunsOfOneConfigurationFormTasks) {
    ScanPtr scan = scan_of_tasks("AABB");
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 2);
    GroupPtr group(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(data_scan_group_get_count(group.get()), 2);
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 0)), "VOLUME_A");
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 1)), "VOLUME_B");
    EXPECT_EQ(data_scan_get_sweep_count(data_scan_group_get(group.get(), 1)), 2);
    EXPECT_EQ(data_scan_get_ingest_header(data_scan_group_get(group.get(), 1))->tcf.scan.isweeps,
              2);

    scan = scan_of_tasks("ABA");
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 3);
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 2)), "VOLUME_C");

    scan = scan_of_tasks("AA", "ABCDEFGHIJKLMNO");
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 0)), "ABCDEFGHIJKL");
    scan = scan_of_tasks("AB", "ABCDEFGHIJKLMNO");
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 1)), "ABCDEFGHIJ_B");
}

TEST(DataScanGroupTest, SweepsAreTakenInTimeOrder) {
    // In the scan's order the tasks change twice; in time order the two A sweeps are one run.
    ScanPtr scan = new_scan();
    radar_sweep_conf *a = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, "A");
    radar_sweep_conf *b = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, "B");
    pvol_add_sweep(scan.get(), new_sweep(a, kVolumeTime, 0.5, 0));
    pvol_add_sweep(scan.get(), new_sweep(b, kVolumeTime + 120, 1.5, 2));
    pvol_add_sweep(scan.get(), new_sweep(a, kVolumeTime + 60, 2.5, 1));
    sweepconf_unref(a);
    sweepconf_unref(b);
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 3);
    GroupPtr group(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 2);
    const ingest_header *ih = data_scan_get_ingest_header(data_scan_group_get(group.get(), 0));
    EXPECT_EQ(ih->tcf.scan.iangles[0], iBin2FromFDeg(0.5));
    EXPECT_EQ(ih->tcf.scan.iangles[1], iBin2FromFDeg(2.5));
}

TEST(DataScanGroupTest, SweepsTheFormatCannotHoldArePassedOver) {
    ScanPtr scan = new_scan();
    radar_sweep_conf *two = new_ppi_conf(
        {new_rayconf({{RD_DBZ, BITS_8}}), new_rayconf({{RD_DBZ, BITS_16}, {RD_VEL, BITS_16}})});
    pvol_add_sweep(scan.get(), rsweep_new(two));
    sweepconf_unref(two);
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 0);
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);

    radar_ray_conf *custom = new_rayconf({{RD_DBZ, BITS_8}});
    rayconf_add_custom_moment(custom, "rain", "mm/h", &kRange);
    radar_sweep_conf *sconf = new_ppi_conf({custom});
    pvol_add_sweep(scan.get(), rsweep_new(sconf));
    sweepconf_unref(sconf);
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);

    sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})});
    add_sweeps(scan.get(), sconf, kVolumeTime, {0.5});
    sweepconf_unref(sconf);
    GroupPtr group(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(data_scan_group_get_count(group.get()), 1);
    EXPECT_EQ(task_name(data_scan_group_get(group.get(), 0)), "VOLUME");
}

TEST(DataScanGroupTest, LimitsOfTheFormat) {
    // 26 tasks need a suffix beyond Y.
    ScanPtr scan = scan_of_tasks("ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_NE(GroupPtr(data_scan_group_new(scan.get(), BITS_8)), nullptr);
    scan = scan_of_tasks("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);

    // The fixed-angle table holds 154 sweeps.
    scan = new_scan();
    radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})});
    add_sweeps(scan.get(), sconf, kVolumeTime, std::vector<double>(154, 0.5));
    EXPECT_NE(GroupPtr(data_scan_group_new(scan.get(), BITS_8)), nullptr);
    add_sweeps(scan.get(), sconf, kVolumeTime + 154 * 60, {0.5});
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);
    sweepconf_unref(sconf);

    // A reader unpacks at most 4200 bins per ray.
    scan = new_scan();
    sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8, {250.0, 500.0, 4200}}})});
    add_sweeps(scan.get(), sconf, kVolumeTime, {0.5});
    sweepconf_unref(sconf);
    EXPECT_NE(GroupPtr(data_scan_group_new(scan.get(), BITS_8)), nullptr);
    scan = new_scan();
    sconf = new_ppi_conf({new_rayconf(
        {{RD_DBZ, BITS_8, {250.0, 500.0, 4200}}, {RD_VEL, BITS_8, {750.0, 500.0, 4200}}})});
    add_sweeps(scan.get(), sconf, kVolumeTime, {0.5});
    sweepconf_unref(sconf);
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);
}

TEST(DataScanTest, FinalizeTakesSiteTimeZoneMeltingLevelAndPosition) {
    ScanPtr scan = scan_of_tasks("A");
    pvol_add_int(scan.get(), "ORVA Scan Local Time Offset", 120);
    pvol_add_string(scan.get(), "ORVA Scan Local Time Name", "EET");
    pvol_add_double(scan.get(), "isotherm_0C", 2.5);
    GroupPtr group(data_scan_group_new(scan.get(), BITS_8));
    const ingest_header &ih = *data_scan_get_ingest_header(data_scan_group_get(group.get(), 0));
    char text[81];
    EXPECT_STREQ(fstr2cstr(text, ih.icf.site_name, 16), "TESTSITE");
    EXPECT_STREQ(fstr2cstr(text, ih.icf.hw_name, 16), "TESTSITE");
    EXPECT_STREQ(fstr2cstr(text, ih.tcf.end.task_info, 80), "Synthetic volume");
    EXPECT_EQ(ih.icf.itz_offset, 120);
    EXPECT_EQ(std::memcmp(ih.icf.tz_name, "EET\0\0\0\0\0", 8), 0);
    EXPECT_EQ(ih.icf.iisotherm, 2500 - 32768);
    EXPECT_EQ(ih.icf.ilat, iBin4FromRadian(60.2 * kDegree));
    EXPECT_EQ(ih.icf.ialt_cm, 12020);
    EXPECT_EQ(ih.icf.iground_hgt, 100);
    EXPECT_EQ(ih.icf.iradar_hgt, 21);
    EXPECT_EQ(ih.icf.isweeps_done, 1);
    EXPECT_EQ(ih.tcf.end.ihybrid, 1);
}

TEST(DataScanTest, KeepsTheIngestHeaderTheReaderStored) {
    ingest_header stored{};
    __ingest_header_set_defaults(&stored);
    stored.tcf.end.id_major = 7;
    std::memcpy(stored.tcf.dsp.b_778, "PROCESSOR 12", 12);
    DspMaskSet(&stored.tcf.dsp.mask, 24);  // a moment this configuration does not have
    radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})});
    sweepconf_add_buf(sconf, "ORVA Sweep Ingest Header", &stored, sizeof stored);
    radar_sweep *sweep = new_sweep(sconf, kVolumeTime, 0.5, 0);
    sweepconf_unref(sconf);

    data_scan *ds = data_scan_new(sweep, BITS_8);
    const ingest_header *ih = data_scan_get_ingest_header(ds);
    EXPECT_EQ(ih->tcf.end.id_major, 7);
    EXPECT_EQ(std::memcmp(ih->tcf.dsp.b_778, "PROCESSOR 12", 12), 0);
    EXPECT_FALSE(lDspMaskTest(&ih->tcf.dsp.mask, 24));
    EXPECT_TRUE(lDspMaskTest(&ih->tcf.dsp.mask, 2));
    EXPECT_EQ(data_scan_get_moment_count(ds), 1);
    EXPECT_EQ(data_scan_get_raw_type(ds, 0), RD_DBZ);
    EXPECT_EQ(data_scan_get_raw_type(ds, 1), 0);
    data_scan_delete(ds);
    rsweep_delete(sweep);
}

TEST(DataScanTest, ManualSweepIsWrittenWithItsRays) {
    radar_sweep_conf *sconf = sweepconf_new_manual();
    sweepconf_add_rayconf(sconf, new_rayconf({{RD_DBZ, BITS_8}}));
    rayconf_unref(sweepconf_get_next_rayconf(sconf, nullptr));
    radar_sweep *sweep = new_sweep(sconf, kVolumeTime, 0.5, 0);
    sweepconf_unref(sconf);
    data_scan *ds = data_scan_new(sweep, BITS_8);
    ASSERT_EQ(data_scan_add_sweep(ds, sweep), 0);
    EXPECT_EQ(data_scan_get_ingest_header(ds)->tcf.scan.imode, SCAN_MANUAL);
    const dblock *block = data_scan_get_block(ds, 0, 0);
    EXPECT_EQ(dblock_get_ray_count(block), kRays);
    EXPECT_EQ(dblock_get_ihdr(block)->iwritten, kRays);
    data_scan_delete(ds);
    rsweep_delete(sweep);
}

TEST(DataScanTest, RaysCarryTheMergedRangeOfAllMoments) {
    // Differential reflectivity starts one bin later than reflectivity.
    const dscan later{750.0, 500.0, 12};
    radar_sweep_conf *sconf =
        new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}, {RD_ZDR, BITS_8, later}})});
    radar_sweep *sweep = new_sweep(sconf, kVolumeTime, 0.5, 0);
    sweepconf_unref(sconf);
    data_scan *ds = data_scan_new(sweep, BITS_8);
    ASSERT_EQ(data_scan_add_sweep(ds, sweep), 0);

    radar_ray_data view;
    for (int r = 0; r < kRays; ++r) {
        ASSERT_NE(dblock_get_radar_ray_data(data_scan_get_block(ds, 0, 0), &view, r), nullptr);
        ASSERT_EQ(view.bins, 13u);
        const auto *dbz = static_cast<const uint8_t *>(view.data);
        EXPECT_EQ(dbz[0], pattern_code(BITS_8, r, 0, 0));
        EXPECT_EQ(dbz[11], pattern_code(BITS_8, r, 11, 0));
        EXPECT_EQ(dbz[12], 0);  // beyond reflectivity's own range

        ASSERT_NE(dblock_get_radar_ray_data(data_scan_get_block(ds, 0, 1), &view, r), nullptr);
        ASSERT_EQ(view.bins, 13u);
        const auto *zdr = static_cast<const uint8_t *>(view.data);
        EXPECT_EQ(zdr[0], 0);  // before differential reflectivity's own range
        EXPECT_EQ(zdr[1], pattern_code(BITS_8, r, 0, 1));
        EXPECT_EQ(zdr[12], pattern_code(BITS_8, r, 11, 1));

        ingest_ray_header words;
        std::memcpy(&words, dblock_get_ingest_ray(data_scan_get_block(ds, 0, 1), r), 12);
        EXPECT_EQ(words.iaz_start, iBin2FromFDeg(r));
        EXPECT_EQ(words.iaz_end, iBin2FromFDeg(r + 1));
        EXPECT_EQ(words.iel_start, iBin2FromFDeg(0.5));
        EXPECT_EQ(words.itime, r);
    }
    data_scan_delete(ds);
    rsweep_delete(sweep);
}

TEST(DataScanTest, OtherScalesGoThroughPhysicalValues) {
    // Reflectivity held as 16-bit codes, written as 8-bit ones; a ray of 10 dBZ and no data.
    radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})});
    radar_sweep *sweep = new_sweep(sconf, kVolumeTime, 0.5, 0);
    sweepconf_unref(sconf);
    radar_ray_data *values = radar_ray_data_new();
    radar_ray_data_resize(values, BITS_64, 2);
    static_cast<double *>(values->data)[0] = 10.0;
    static_cast<double *>(values->data)[1] = NAN;
    rray_set_dat(rsweep_get_ray(sweep, 3), 0, values);
    radar_ray_data_delete(values);

    data_scan *ds = data_scan_new(sweep, BITS_8);
    ASSERT_EQ(data_scan_add_sweep(ds, sweep), 0);
    radar_ray_data view;
    ASSERT_NE(dblock_get_radar_ray_data(data_scan_get_block(ds, 0, 0), &view, 3), nullptr);
    EXPECT_EQ(view.type, BITS_8);
    const auto *codes = static_cast<const uint8_t *>(view.data);
    EXPECT_EQ(codes[0], 84);  // 2 x (10 + 32)
    EXPECT_EQ(codes[1], 0);
    EXPECT_EQ(codes[11], 0);
    data_scan_delete(ds);
    rsweep_delete(sweep);
}

TEST(DataScanTest, AbsentRaysStayAbsent) {
    radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})});
    radar_sweep *sweep = rsweep_new(sconf);
    radar_sweep *full = new_sweep(sconf, kVolumeTime, 0.5, 0);
    sweepconf_unref(sconf);
    rsweep_add_ray(sweep, nullptr);
    rsweep_add_ray(sweep, rray_new_copy(rsweep_get_ray(full, 1)));
    data_scan *ds = data_scan_new(sweep, BITS_8);
    ASSERT_EQ(data_scan_add_sweep(ds, sweep), 0);
    const dblock *block = data_scan_get_block(ds, 0, 0);
    EXPECT_EQ(dblock_get_ingest_ray(block, 0), nullptr);
    EXPECT_NE(dblock_get_ingest_ray(block, 1), nullptr);
    for (int r = 2; r < kRays; ++r)
        EXPECT_EQ(dblock_get_ingest_ray(block, r), nullptr);
    EXPECT_EQ(dblock_get_ihdr(block)->iwritten, 1);
    data_scan_delete(ds);
    rsweep_delete(sweep);
    rsweep_delete(full);
}

TEST(DataScanDeathTest, SweepMustHaveOneRayConfiguration) {
    radar_sweep_conf *sconf = new_ppi_conf(
        {new_rayconf({{RD_DBZ, BITS_8}}), new_rayconf({{RD_DBZ, BITS_16}, {RD_VEL, BITS_16}})});
    radar_sweep *sweep = rsweep_new(sconf);
    sweepconf_unref(sconf);
    EXPECT_DEATH(data_scan_new(sweep, BITS_8), "sweepconf_get_rayconf_count");
    rsweep_delete(sweep);
}

}  // namespace
