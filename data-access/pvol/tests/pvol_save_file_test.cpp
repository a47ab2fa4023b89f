// RAW product files as the writer lays them out: records, headers, stream order, file naming
// through the output callback, and refusals that leave no product behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "i16stream.h"
#include "pvol_save.h"
#include "synthetic_scan.h"

namespace {

using namespace synthetic;
using Bytes = std::vector<unsigned char>;
using Words = std::vector<uint16_t>;

struct StreamDeleter {
    void operator()(i16stream *stream) const { i16stream_delete(stream); }
};

// One sweep as decoded from a file: its data headers and, per ray position, each type's ray.
struct DecodedSweep {
    std::vector<IDhdr> headers;
    std::vector<std::vector<Words>> rays;  // [position][header]
};

class RawFileTest : public ::testing::Test {
  protected:
    // Decodes the data records of a file whose sweeps hold the given numbers of data types.
    static std::vector<DecodedSweep> decode(Bytes &bytes, const std::vector<int> &types) {
        const size_t data = RAW_FIRST_DATA_RECORD * RAW_RECORD_SIZE;
        std::unique_ptr<i16stream, StreamDeleter> stream(i16stream_new_bufrecord(
            bytes.data() + data, (bytes.size() - data) / 2, RAW_FIRST_DATA_RECORD));
        std::vector<DecodedSweep> sweeps;
        for (int count : types) {
            DecodedSweep sweep;
            for (int i = 0; i < count; ++i) {
                IDhdr header;
                Words words(IDHDR_SIZE / 2);
                EXPECT_EQ(i16stream_read(stream.get(), words.data(), words.size()), words.size());
                std::memcpy(&header, words.data(), sizeof header);
                sweep.headers.push_back(header);
            }
            for (int p = 0; p < sweep.headers.front().irtotl; ++p) {
                std::vector<Words> position;
                for (int i = 0; i < count; ++i) {
                    Words ray(RAY_HEADER_WORDS + RAW_MAX_BINS);
                    const int64_t words = i16stream_unpack(stream.get(), ray.data(), ray.size());
                    EXPECT_GE(words, 0);
                    ray.resize(words > 0 ? words : 0);
                    position.push_back(ray);
                }
                sweep.rays.push_back(position);
            }
            i16stream_next_record(stream.get());
            sweeps.push_back(sweep);
        }
        return sweeps;
    }

    static product_header product_of(const Bytes &bytes) {
        product_header header;
        std::memcpy(&header, bytes.data(), sizeof header);
        return header;
    }

    static ingest_header ingest_of(const Bytes &bytes) {
        ingest_header header;
        std::memcpy(&header, bytes.data() + RAW_RECORD_SIZE, sizeof header);
        return header;
    }

    static int16_t word_at(const Bytes &bytes, size_t offset) {
        int16_t word;
        std::memcpy(&word, bytes.data() + offset, sizeof word);
        return word;
    }

    // Two sweeps of one task; velocity is the configuration's first moment.
    static ScanPtr two_sweep_scan() {
        ScanPtr scan = new_scan();
        radar_sweep_conf *sconf =
            new_ppi_conf({new_rayconf({{RD_VEL, BITS_16}, {RD_DBZ, BITS_16}})}, "PPI");
        add_sweeps(scan.get(), sconf, kVolumeTime, {0.5, 1.5});
        sweepconf_unref(sconf);
        return scan;
    }

    OutputFolder out_;
};

TEST_F(RawFileTest, OneFilePerTask) {
    ScanPtr scan = two_sweep_scan();
    ASSERT_EQ(
        pvol_save_raw(scan.get(), &out_, "GENSITE", RAW_SAVE_ONE_FILE, BITS_16, OutputFolder::open),
        0);
    ASSERT_EQ(out_.paths().size(), 1u);
    EXPECT_EQ(out_.paths()[0], out_.path("out_-1_0_-1"));
    Bytes bytes = out_.bytes(0);
    ASSERT_EQ(bytes.size() % RAW_RECORD_SIZE, 0u);

    const product_header ph = product_of(bytes);
    EXPECT_EQ(ph.hdr.id, ST_PRODUCT_HDR);
    EXPECT_EQ(ph.hdr.ibytes, static_cast<int32_t>(bytes.size()) - RAW_RECORD_SIZE);
    EXPECT_EQ(ph.pcf.iptype, PROD_RAW);
    EXPECT_EQ(ph.pcf.raw_flags & RAW_FLAG_ONE_SWEEP, 0u);
    EXPECT_EQ(std::string(ph.pcf.task_name, 12), "VOLUME      ");
    EXPECT_EQ(std::string(ph.pend.prod_site, 16), "GENSITE         ");
    const ingest_header ih = ingest_of(bytes);
    EXPECT_EQ(ih.hdr.id, ST_INGEST_HDR);
    EXPECT_EQ(ih.tcf.scan.isweeps, 2);
    EXPECT_EQ(ih.tcf.end.ihybrid, 1);

    // Each sweep starts a record of its own, numbered in sequence and carrying its sweep number.
    const std::vector<DecodedSweep> sweeps = decode(bytes, {2, 2});
    const size_t records = bytes.size() / RAW_RECORD_SIZE;
    for (size_t r = RAW_FIRST_DATA_RECORD; r < records; ++r)
        EXPECT_EQ(word_at(bytes, r * RAW_RECORD_SIZE), static_cast<int16_t>(r));
    EXPECT_EQ(word_at(bytes, 2 * RAW_RECORD_SIZE + 2), 1);
    EXPECT_EQ(word_at(bytes, (records - 1) * RAW_RECORD_SIZE + 2), 2);

    for (int s = 0; s < 2; ++s) {
        // Blocks in ascending data type code: reflectivity (9) before velocity (10).
        ASSERT_EQ(sweeps[s].headers.size(), 2u);
        EXPECT_EQ(sweeps[s].headers[0].idata_type, 9);
        EXPECT_EQ(sweeps[s].headers[1].idata_type, 10);
        EXPECT_EQ(sweeps[s].headers[0].isweep, s + 1);
        ASSERT_EQ(sweeps[s].rays.size(), static_cast<size_t>(kRays));
        for (int r = 0; r < kRays; ++r) {
            const Words &dbz = sweeps[s].rays[r][0];
            ASSERT_EQ(dbz.size(), RAY_HEADER_WORDS + kRange.count);
            EXPECT_EQ(dbz[4], kRange.count);
            EXPECT_EQ(dbz[5], r);  // seconds after the sweep's time
            for (uint64_t b = 0; b < kRange.count; ++b)
                EXPECT_EQ(dbz[RAY_HEADER_WORDS + b], pattern_code(BITS_16, r, b, 1));
            EXPECT_EQ(sweeps[s].rays[r][1][RAY_HEADER_WORDS], pattern_code(BITS_16, r, 0, 0));
        }
    }
}

TEST_F(RawFileTest, OneFilePerSweepInMomentOrder) {
    ScanPtr scan = two_sweep_scan();
    ASSERT_EQ(pvol_save_raw(scan.get(), &out_, "GENSITE", RAW_SAVE_PER_SWEEP, BITS_16,
                            OutputFolder::open),
              0);
    ASSERT_EQ(out_.paths().size(), 2u);
    EXPECT_EQ(out_.paths()[0], out_.path("out_-1_1_0"));
    EXPECT_EQ(out_.paths()[1], out_.path("out_-1_1_1"));
    for (int k = 0; k < 2; ++k) {
        Bytes bytes = out_.bytes(k);
        const product_header ph = product_of(bytes);
        EXPECT_EQ(ph.pcf.raw_flags & RAW_FLAG_ONE_SWEEP, RAW_FLAG_ONE_SWEEP);
        EXPECT_EQ(ph.hdr.ibytes, static_cast<int32_t>(bytes.size()) - RAW_RECORD_SIZE);
        // Every file of the task carries the same ingest header.
        EXPECT_EQ(ingest_of(bytes).tcf.scan.isweeps, 2);
        const std::vector<DecodedSweep> sweeps = decode(bytes, {2});
        EXPECT_EQ(sweeps[0].headers[0].idata_type, 10);
        EXPECT_EQ(sweeps[0].headers[1].idata_type, 9);
        EXPECT_EQ(sweeps[0].headers[0].ifixed_angle, iBin2FromFDeg(0.5 + k));
        EXPECT_EQ(word_at(bytes, 2 * RAW_RECORD_SIZE + 2), k + 1);
    }
    Bytes first = out_.bytes(0);
    Bytes second = out_.bytes(1);
    EXPECT_EQ(std::memcmp(first.data() + RAW_RECORD_SIZE, second.data() + RAW_RECORD_SIZE,
                          INGEST_HDR_SIZE),
              0);
}

TEST_F(RawFileTest, TasksOfAHybridGoToFilesOfTheirOwn) {
    ScanPtr scan = new_scan();
    radar_sweep_conf *a = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})}, "A");
    radar_sweep_conf *b = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}, {RD_VEL, BITS_8}})}, "B");
    add_sweeps(scan.get(), a, kVolumeTime, {0.5, 1.5});
    add_sweeps(scan.get(), b, kVolumeTime + 120, {2.5}, 2);
    sweepconf_unref(a);
    sweepconf_unref(b);
    ASSERT_EQ(
        pvol_save_raw(scan.get(), &out_, "GENSITE", RAW_SAVE_ONE_FILE, BITS_8, OutputFolder::open),
        0);
    ASSERT_EQ(out_.paths().size(), 2u);
    EXPECT_EQ(out_.paths()[0], out_.path("out_0_0_-1"));
    EXPECT_EQ(out_.paths()[1], out_.path("out_1_0_-1"));
    Bytes second = out_.bytes(1);
    const ingest_header ih = ingest_of(second);
    EXPECT_EQ(ih.tcf.end.ihybrid, 2);
    EXPECT_EQ(std::string(ih.tcf.end.task_name, 12), "VOLUME_B    ");
    EXPECT_EQ(ih.tcf.scan.isweeps, 1);
    const std::vector<DecodedSweep> sweeps = decode(second, {2});
    EXPECT_EQ(sweeps[0].headers[0].ibits_bin, 8);
    EXPECT_EQ(sweeps[0].headers[0].isweep, 3);  // schedule index 2
}

TEST_F(RawFileTest, RefusalsComeBeforeAnyFile) {
    ScanPtr scan = two_sweep_scan();
    EXPECT_NE(pvol_save_raw(scan.get(), &out_, "S", 2, BITS_16, OutputFolder::open), 0);
    EXPECT_NE(pvol_save_raw(scan.get(), &out_, "S", RAW_SAVE_ONE_FILE, BITS_32, OutputFolder::open),
              0);
    EXPECT_NE(pvol_save_raw(scan.get(), &out_, "S", RAW_SAVE_ONE_FILE, BITS_16, nullptr), 0);
    ScanPtr empty = new_scan();
    EXPECT_NE(
        pvol_save_raw(empty.get(), &out_, "S", RAW_SAVE_ONE_FILE, BITS_16, OutputFolder::open), 0);
    radar_sweep_conf *wide =
        new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16, {250.0, 500.0, RAW_MAX_BINS + 1}}})});
    add_sweeps(scan.get(), wide, kVolumeTime + 600, {3.5});
    sweepconf_unref(wide);
    EXPECT_NE(pvol_save_raw(scan.get(), &out_, "S", RAW_SAVE_ONE_FILE, BITS_16, OutputFolder::open),
              0);
    EXPECT_TRUE(out_.paths().empty());
}

TEST_F(RawFileTest, MissingFileFailsTheSave) {
    ScanPtr scan = two_sweep_scan();
    out_.refuse_after(1);
    EXPECT_NE(
        pvol_save_raw(scan.get(), &out_, "S", RAW_SAVE_PER_SWEEP, BITS_16, OutputFolder::open), 0);
    // The file handed out before the refusal is complete.
    EXPECT_EQ(product_of(out_.bytes(0)).hdr.id, ST_PRODUCT_HDR);
}

TEST_F(RawFileTest, FailedWriteLeavesNoProduct) {
    // A memory file with room for the headers but not for all data records.
    static std::vector<unsigned char> memory;
    memory.assign(3 * RAW_RECORD_SIZE + 100, 0xAA);
    const auto into_memory = [](void *, int, int, int) -> FILE * {
        return fmemopen(memory.data(), memory.size(), "w");
    };
    ScanPtr scan = new_scan();
    radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_16}})}, nullptr, 360);
    add_sweeps(scan.get(), sconf, kVolumeTime, {0.5});
    sweepconf_unref(sconf);
    EXPECT_NE(pvol_save_raw(scan.get(), nullptr, "S", RAW_SAVE_ONE_FILE, BITS_16, into_memory), 0);
    product_header header;
    std::memcpy(&header, memory.data(), sizeof header);
    EXPECT_NE(header.hdr.id, ST_PRODUCT_HDR);
}

}  // namespace
