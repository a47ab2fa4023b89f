// Data scans of the RAW writer: range masks, grouping of sweeps into tasks, task headers and the
// conversion of rays into blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orva_header_ops.h"
#include "synthetic_scan.h"
#include "pvol_handles.h"

namespace {

using namespace synthetic;

std::string task_name(const data_scan_group *group, int index) {
    char name[13];
    const ingest_header *ih = data_scan_get_ingest_header(data_scan_group_get(group, index));
    return fstr2cstr(name, ih->tcf.end.task_name, 12);
}

// A scan whose sweeps run through the tasks in order, one sweep per letter ("AABB").
ScanHandle scan_of_tasks(const std::string &tasks, const char *name = "VOLUME") {
    ScanHandle scan = new_scan(name);
    std::vector<SweepConfHandle> confs(26);
    for (size_t i = 0; i < tasks.size(); ++i) {
        SweepConfHandle &sconf = confs[tasks[i] - 'A'];
        if (sconf == nullptr)
            sconf.reset(
                new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, std::string(1, tasks[i]).c_str()));
        pvol_add_sweep(scan.get(), new_sweep(sconf.get(), kVolumeTime + 60 * i, 0.5, 0));
    }
    return scan;
}

TEST(DscanTest, PositionsAndMerging) {
    EXPECT_DOUBLE_EQ(dscan_get_val(&kRange, 3), 1750.0);
    EXPECT_EQ(dscan_get_pos(&kRange, 1999.0), 3);
    EXPECT_EQ(dscan_get_pos(&kRange, 2000.0), 4);  // half a bin rounds up
    EXPECT_EQ(dscan_get_pos(&kRange, 0.0), 0);     // up, also below the start
    EXPECT_EQ(dscan_get_pos(&kRange, -1.0), -1);

    dscan merged = kRange;
    const dscan later{750.0, 500.0, 12};
    dscan_merge(&merged, &later);
    const dscan both{250.0, 500.0, 13};
    EXPECT_EQ(dscan_compare(&merged, &both), 0);
    dscan fine{0.0, 250.0, 8};
    const dscan coarse{0.0, 500.0, 10};
    const dscan fine_to_coarse_end{0.0, 250.0, 20};  // 5000 m
    EXPECT_EQ(dscan_compare(dscan_merge(&fine, &coarse), &fine_to_coarse_end), 0);

    const native_data_desc a = block_scale(RD_VEL, BITS_16);
    native_data_desc b = a;
    EXPECT_EQ(native_data_desc_compare(&a, &b), 0);
    b.offset = std::nextafter(a.offset, 1.0);
    EXPECT_NE(native_data_desc_compare(&a, &b), 0);
}

TEST(DataScanGroupTest, RunsOfOneConfigurationInTimeOrderFormTasks) {
    ScanHandle scan = scan_of_tasks("AABB");
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 2);
    ScanGroupHandle group(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 2);
    EXPECT_EQ(task_name(group.get(), 0), "VOLUME_A");
    EXPECT_EQ(task_name(group.get(), 1), "VOLUME_B");
    EXPECT_EQ(data_scan_get_sweep_count(data_scan_group_get(group.get(), 1)), 2);

    scan = scan_of_tasks("ABA", "ABCDEFGHIJKLMNO");
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 3);
    EXPECT_EQ(task_name(group.get(), 2), "ABCDEFGHIJ_C");
    scan = scan_of_tasks("A", "ABCDEFGHIJKLMNO");
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    EXPECT_EQ(task_name(group.get(), 0), "ABCDEFGHIJKL");

    // In the scan's order the configuration changes twice; in time order the A sweeps are one run.
    scan = new_scan();
    SweepConfHandle a(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, "A"));
    SweepConfHandle b(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, "B"));
    pvol_add_sweep(scan.get(), new_sweep(a.get(), kVolumeTime, 0.5, 0));
    pvol_add_sweep(scan.get(), new_sweep(b.get(), kVolumeTime + 120, 1.5, 2));
    pvol_add_sweep(scan.get(), new_sweep(a.get(), kVolumeTime + 60, 2.5, 1));
    a.reset();
    b.reset();
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 3);
    group.reset(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 2);
    const ingest_header *ih = data_scan_get_ingest_header(data_scan_group_get(group.get(), 0));
    EXPECT_EQ(ih->tcf.scan.iangles[1], iBin2FromFDeg(2.5));
}

TEST(DataScanGroupTest, SweepsTheFormatCannotHoldArePassedOver) {
    ScanHandle scan = new_scan();
    SweepConfHandle two(new_ppi_conf(
        {new_rayconf({{RD_DBZ, BITS_8}}), new_rayconf({{RD_DBZ, BITS_16}, {RD_VEL, BITS_16}})}));
    RayConfHandle custom(new_rayconf({{RD_DBZ, BITS_8}}));
    rayconf_add_custom_moment(custom.get(), "rain", "mm/h", &kRange);
    SweepConfHandle with_custom(new_ppi_conf({custom.release()}));
    pvol_add_sweep(scan.get(), rsweep_new(two.get()));
    pvol_add_sweep(scan.get(), rsweep_new(with_custom.get()));
    two.reset();
    with_custom.reset();
    EXPECT_EQ(pvol_get_orva_hybrid_count(scan.get()), 0);
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);

    // A manual sweep has no sector: it is written with its own rays.
    SweepConfHandle manual(sweepconf_new_manual());
    sweepconf_add_rayconf(manual.get(), new_rayconf({{RD_DBZ, BITS_8}}));
    rayconf_unref(sweepconf_get_next_rayconf(manual.get(), nullptr));
    add_sweeps(scan.get(), manual.get(), kVolumeTime, {0.5});
    manual.reset();
    ScanGroupHandle group(data_scan_group_new(scan.get(), BITS_8));
    ASSERT_EQ(data_scan_group_get_count(group.get()), 1);
    EXPECT_EQ(task_name(group.get(), 0), "VOLUME");
    const dblock *block = data_scan_get_block(data_scan_group_get(group.get(), 0), 0, 0);
    EXPECT_EQ(dblock_get_ihdr(block)->iwritten, kRays);
}

TEST(DataScanGroupTest, LimitsOfTheFormat) {
    EXPECT_NE(ScanGroupHandle(
                  data_scan_group_new(scan_of_tasks("ABCDEFGHIJKLMNOPQRSTUVWXY").get(), BITS_8)),
              nullptr);
    EXPECT_EQ(data_scan_group_new(scan_of_tasks("ABCDEFGHIJKLMNOPQRSTUVWXYZ").get(), BITS_8),
              nullptr);

    // The fixed-angle table holds 154 sweeps.
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, std::vector<double>(154, 0.5));
    EXPECT_NE(ScanGroupHandle(data_scan_group_new(scan.get(), BITS_8)), nullptr);
    add_sweeps(scan.get(), sconf.get(), kVolumeTime + 154 * 60, {0.5});
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);
    sconf.reset();

    // A reader unpacks at most 4200 bins of a ray: here two masks of 4200 that merge to 4201.
    scan = new_scan();
    sconf.reset(new_ppi_conf({new_rayconf(
        {{RD_DBZ, BITS_8, {250.0, 500.0, 4200}}, {RD_VEL, BITS_8, {750.0, 500.0, 4200}}})}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5});
    sconf.reset();
    EXPECT_EQ(data_scan_group_new(scan.get(), BITS_8), nullptr);

    // The sweep number, schedule index + 1, must fit 16 bits and be positive to read back.
    for (const int index : {-1, 0, 32766, 32767}) {
        scan = new_scan();
        sconf.reset(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}));
        pvol_add_sweep(scan.get(), new_sweep(sconf.get(), kVolumeTime, 0.5, index));
        sconf.reset();
        ScanGroupHandle written(data_scan_group_new(scan.get(), BITS_8));
        EXPECT_EQ(written != nullptr, index >= 0 && index < 32767) << index;
    }
}

TEST(DataScanTest, TaskHeaderFromScanAndStoredHeader) {
    ingest_header stored{};
    __ingest_header_set_defaults(&stored);
    stored.tcf.end.id_major = 7;
    stored.icf.isweeps_done = 1;
    DspMaskSet(&stored.tcf.dsp.mask, 24);  // a moment this configuration does not have
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}));
    sweepconf_add_buf(sconf.get(), "ORVA Sweep Ingest Header", &stored, sizeof stored);
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5, 1.5});
    sconf.reset();
    pvol_add_int(scan.get(), "ORVA Scan Local Time Offset", 120);
    pvol_add_string(scan.get(), "ORVA Scan Local Time Name", "EET");
    pvol_add_double(scan.get(), "isotherm_0C", 2.5);

    ScanGroupHandle group(data_scan_group_new(scan.get(), BITS_8));
    const ingest_header &ih = *data_scan_get_ingest_header(data_scan_group_get(group.get(), 0));
    EXPECT_EQ(ih.tcf.end.id_major, 7);
    EXPECT_FALSE(lDspMaskTest(&ih.tcf.dsp.mask, 24));
    EXPECT_TRUE(lDspMaskTest(&ih.tcf.dsp.mask, 2));
    EXPECT_EQ(std::memcmp(&ih.tcf.dsp.mask_orig, &ih.tcf.dsp.mask, sizeof ih.tcf.dsp.mask), 0);
    char text[81];
    EXPECT_STREQ(fstr2cstr(text, ih.icf.hw_name, 16), "TESTSITE");
    EXPECT_STREQ(fstr2cstr(text, ih.tcf.end.task_info, 80), "Synthetic volume");
    EXPECT_EQ(ih.icf.itz_offset, 120);
    EXPECT_EQ(std::memcmp(ih.icf.tz_name, "EET\0\0\0\0\0", 8), 0);
    EXPECT_EQ(ih.icf.iisotherm, 2500 - 32768);
    EXPECT_EQ(ih.icf.ialt_cm, 12020);
    EXPECT_EQ(ih.icf.iground_hgt, 100);
    EXPECT_EQ(ih.icf.iradar_hgt, 21);
    EXPECT_EQ(ih.tcf.scan.isweeps, 2);
    EXPECT_EQ(ih.icf.isweeps_done, 2);  // the stored count would cut the task short
}

TEST(DataScanTest, OtherScalesGoThroughPhysicalValues) {
    // Reflectivity held as 16-bit codes, written as 8-bit ones: 10 dBZ and no data.
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})}));
    SweepHandle sweep(new_sweep(sconf.get(), kVolumeTime, 0.5, 0));
    sconf.reset();
    double values[2] = {10.0, NAN};
    const radar_ray_data dat{BITS_64, values, 2, 0};
    rray_set_dat(rsweep_get_ray(sweep.get(), 3), 0, &dat);

    const DataScanHandle ds(data_scan_new(sweep.get(), BITS_8));
    ASSERT_EQ(data_scan_add_sweep(ds.get(), sweep.get()), 0);
    radar_ray_data view;
    ASSERT_NE(dblock_get_radar_ray_data(data_scan_get_block(ds.get(), 0, 0), &view, 3), nullptr);
    const auto *codes = static_cast<const uint8_t *>(view.data);
    EXPECT_EQ(codes[0], 84);  // 2 x (10 + 32)
    EXPECT_EQ(codes[1], 0);
    EXPECT_EQ(codes[11], 0);
}

TEST(DataScanDeathTest, SweepMustHaveOneRayConfiguration) {
    SweepConfHandle sconf(new_ppi_conf(
        {new_rayconf({{RD_DBZ, BITS_8}}), new_rayconf({{RD_DBZ, BITS_16}, {RD_VEL, BITS_16}})}));
    SweepHandle sweep(rsweep_new(sconf.get()));
    sconf.reset();
    EXPECT_DEATH(data_scan_new(sweep.get(), BITS_8), "sweepconf_get_rayconf_count");
}

}  // namespace
