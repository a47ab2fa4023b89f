// RAW product files as the writer lays them out, file naming through the output callback, and
// refusals that leave no product behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "raw_file_builder.h"
#include "synthetic_scan.h"
#include "temp_dir.h"
#include "pvol_handles.h"

namespace {

using namespace synthetic;
using rawfile::collect_message;
using rawfile::messages;
using Bytes = std::vector<unsigned char>;

// Output callback that names files after its arguments and can run out of files.
struct Output {
    TempDir dir;
    std::vector<std::string> paths;
    size_t files_left = 100;

    static FILE *open(void *io, int group_index, int mode, int sweep_number) {
        auto *self = static_cast<Output *>(io);
        if (self->files_left-- == 0)
            return nullptr;
        self->paths.push_back(self->dir.file(std::to_string(group_index) + "_" +
                                             std::to_string(mode) + "_" +
                                             std::to_string(sweep_number)));
        return std::fopen(self->paths.back().c_str(), "wb");
    }
    Bytes bytes(size_t index) const {
        const std::string text = TempDir::read_text(paths.at(index));
        return Bytes(text.begin(), text.end());
    }
};

template <typename T>
T field_at(const Bytes &bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

constexpr size_t kDataRecord = RAW_FIRST_DATA_RECORD * RAW_RECORD_SIZE;
constexpr size_t kFirstDataType = kDataRecord + 12 + offsetof(IDhdr, idata_type);

// Two sweeps of one task; velocity is the configuration's first moment.
ScanHandle two_sweep_scan() {
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_VEL, BITS_16}, {RD_DBZ, BITS_16}})}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5, 1.5});
    sconf.reset();
    return scan;
}

TEST(RawFileTest, OneFilePerTaskWithBlocksInCodeOrder) {
    Output out;
    ScanHandle scan = two_sweep_scan();
    ASSERT_EQ(pvol_save_raw(scan.get(), &out, "GENSITE", RAW_SAVE_ONE_FILE, BITS_16, Output::open),
              0);
    ASSERT_EQ(out.paths, std::vector<std::string>{out.dir.file("-1_0_-1")});
    const Bytes bytes = out.bytes(0);
    ASSERT_EQ(bytes.size() % RAW_RECORD_SIZE, 0u);
    const auto ph = field_at<product_header>(bytes, 0);
    EXPECT_EQ(ph.hdr.id, ST_PRODUCT_HDR);
    EXPECT_EQ(ph.hdr.ibytes, static_cast<int32_t>(bytes.size()) - RAW_RECORD_SIZE);
    EXPECT_EQ(ph.pcf.iptype, PROD_RAW);
    EXPECT_EQ(ph.pcf.raw_flags, 0u);
    EXPECT_EQ(std::string(ph.pend.prod_site, 16), "GENSITE         ");
    const auto ih = field_at<ingest_header>(bytes, RAW_RECORD_SIZE);
    EXPECT_EQ(ih.tcf.scan.isweeps, 2);
    EXPECT_EQ(ih.tcf.end.ihybrid, 1);
    // Reflectivity (code 9) before velocity (code 10); the second sweep in the last record.
    EXPECT_EQ(field_at<int16_t>(bytes, kFirstDataType), 9);
    EXPECT_EQ(field_at<int16_t>(bytes, kFirstDataType + IDHDR_SIZE), 10);
    EXPECT_EQ(field_at<int16_t>(bytes, kDataRecord + 2), 1);
    const auto last_record = static_cast<int16_t>(bytes.size() / RAW_RECORD_SIZE - 1);
    EXPECT_EQ(field_at<int16_t>(bytes, bytes.size() - RAW_RECORD_SIZE), last_record);
    EXPECT_EQ(field_at<int16_t>(bytes, bytes.size() - RAW_RECORD_SIZE + 2), 2);
}

TEST(RawFileTest, OneFilePerSweepInMomentOrder) {
    Output out;
    ScanHandle scan = two_sweep_scan();
    ASSERT_EQ(pvol_save_raw(scan.get(), &out, "GENSITE", RAW_SAVE_PER_SWEEP, BITS_16, Output::open),
              0);
    ASSERT_EQ(out.paths,
              (std::vector<std::string>{out.dir.file("-1_1_0"), out.dir.file("-1_1_1")}));
    const Bytes first = out.bytes(0);
    const Bytes second = out.bytes(1);
    EXPECT_EQ(field_at<product_header>(second, 0).pcf.raw_flags, RAW_FLAG_ONE_SWEEP);
    EXPECT_EQ(field_at<int16_t>(second, kFirstDataType), 10);
    EXPECT_EQ(field_at<int16_t>(second, kDataRecord + 2), 2);
    // Both files carry the task's ingest header.
    EXPECT_EQ(std::memcmp(first.data() + RAW_RECORD_SIZE, second.data() + RAW_RECORD_SIZE,
                          INGEST_HDR_SIZE),
              0);
}

TEST(RawFileTest, RefusalsComeBeforeAnyFile) {
    Output out;
    ScanHandle scan = two_sweep_scan();
    EXPECT_NE(pvol_save_raw(scan.get(), &out, "S", 2, BITS_16, Output::open), 0);
    EXPECT_NE(pvol_save_raw(scan.get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_32, Output::open), 0);
    EXPECT_NE(pvol_save_raw(scan.get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_16, nullptr), 0);
    EXPECT_NE(pvol_save_raw(new_scan().get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_16, Output::open),
              0);
    const SweepConfHandle wide(
        new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16, {250.0, 500.0, RAW_MAX_BINS + 1}}})}));
    add_sweeps(scan.get(), wide.get(), kVolumeTime + 600, {3.5});
    EXPECT_NE(pvol_save_raw(scan.get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_16, Output::open), 0);
    EXPECT_TRUE(out.paths.empty());

    // A sweep holding a ray beyond its sector's count would lose it; a slot without a ray there
    // loses nothing.
    scan = two_sweep_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})}));
    SweepHandle owned(new_sweep(sconf.get(), kVolumeTime + 600, 2.5, 2));
    sconf.reset();
    radar_sweep *sweep = owned.get();  // the scan's from here on
    rsweep_add_ray(sweep, nullptr);
    pvol_add_sweep(scan.get(), owned.release());
    EXPECT_EQ(pvol_save_raw2(scan.get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_16, Output::open,
                             collect_message),
              0);
    out.paths.clear();
    const angle_interval beyond{0.2, 0.2, 0.2};
    const timeval time{kVolumeTime + 700, 0};
    rsweep_add_ray(sweep, rray_new(rray_get_config(rsweep_get_first_ray(sweep)), &beyond, &beyond,
                                   &time, nullptr, -1));
    messages().clear();
    EXPECT_NE(pvol_save_raw2(scan.get(), &out, "S", RAW_SAVE_ONE_FILE, BITS_16, Output::open,
                             collect_message),
              0);
    EXPECT_EQ(messages(), std::vector<std::string>{"Sweep 3 (schedule index 2) holds 12 rays, "
                                                   "more than the 10 of its sector.\n"});
    EXPECT_TRUE(out.paths.empty());

    // A callback that gives no file fails the save; the file handed out before is complete.
    scan = two_sweep_scan();
    out.files_left = 1;
    EXPECT_NE(pvol_save_raw(scan.get(), &out, "S", RAW_SAVE_PER_SWEEP, BITS_16, Output::open), 0);
    EXPECT_EQ(field_at<product_header>(out.bytes(0), 0).hdr.id, ST_PRODUCT_HDR);
}

TEST(RawFileTest, OneFilePerSweepNamesAHundredSweepsOfATask) {
    TempDir dir;
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, std::vector<double>(100, 0.5));
    const auto files = write_files(scan.get(), dir.file("hundred"), RAW_SAVE_PER_SWEEP, BITS_8);
    ASSERT_EQ(files.size(), 100u);
    EXPECT_EQ(files[99], dir.file("hundred_99"));
    ScanHandle read = read_files(files);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(pvol_get_sweeps_count(read.get()), 100u);

    // Sweep 101 would be named like sweep 11 and overwrite it: nothing is written.
    add_sweeps(scan.get(), sconf.get(), kVolumeTime + 6000, {1.5}, 100);
    sconf.reset();
    messages().clear();
    RawIoHandle io(default_raw_io_new(dir.file("more").c_str()));
    EXPECT_NE(pvol_save_raw2(scan.get(), io.get(), "S", RAW_SAVE_PER_SWEEP, BITS_8,
                             default_raw_output, collect_message),
              0);
    EXPECT_EQ(messages(), std::vector<std::string>{"Task 1 has 101 sweeps; one file per sweep "
                                                   "tells at most 100 sweeps of a task apart.\n"});
    EXPECT_EQ(default_raw_output_count(io.get()), 0);
    EXPECT_FALSE(TempDir::exists(dir.file("more_00")));
    EXPECT_FALSE(TempDir::exists(dir.file("more.meta")));
    // One file for the task holds them all.
    read = read_files(write_files(scan.get(), dir.file("all"), RAW_SAVE_ONE_FILE, BITS_8));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(pvol_get_sweeps_count(read.get()), 101u);
}

TEST(RawFileTest, FailedWriteLeavesNoProduct) {
    // A memory file with room for the headers but not for all data records.
    static Bytes memory;
    memory.assign(3 * RAW_RECORD_SIZE + 100, 0xAA);
    const auto into_memory = [](void *, int, int, int) -> FILE * {
        return fmemopen(memory.data(), memory.size(), "w");
    };
    ScanHandle scan = new_scan();
    SweepConfHandle sconf(new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})}, nullptr, 360));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5});
    sconf.reset();
    EXPECT_NE(pvol_save_raw(scan.get(), nullptr, "S", RAW_SAVE_ONE_FILE, BITS_16, into_memory), 0);
    EXPECT_NE(field_at<product_header>(memory, 0).hdr.id, ST_PRODUCT_HDR);
}

}  // namespace
