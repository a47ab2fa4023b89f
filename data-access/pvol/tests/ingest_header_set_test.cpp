// Ingest headers and data blocks built from sweeps of the model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "pvol/data_block.h"
#include "orva_header_ops.h"
#include "pvol/radar_sweep.h"
#include "pvol_handles.h"

namespace {

constexpr double kDegree = M_PI / 180.0;

// A sweep on one ray configuration with reflectivity and velocity over one range mask.
class SweepFixture : public ::testing::Test {
  protected:
    void make(int kind, double start, double step, uint64_t count, int tx_polarization = 1) {
        rconf_ = rayconf_new(1000.0, 2.997925e12 / 530, 26.5, 150.0, 8e-7, 40, 70.5, -30.25, 0.05,
                             tx_polarization);
        const dscan range = {250.0, 125.5, 100};
        native_data_desc scale{};
        scale.bin_format = BITS_16;
        rayconf_add_moment(rconf_, RD_DBZ, &range, &scale);
        rayconf_add_moment(rconf_, RD_VEL, &range, &scale);
        const dscan sector = {start, step, count};
        sconf_ = kind == SWEEP_PPI   ? sweepconf_new_ppi(&sector)
                 : kind == SWEEP_RHI ? sweepconf_new_rhi(&sector)
                                     : sweepconf_new_manual();
        sweepconf_add_rayconf(sconf_, rconf_);
        sweep_ = rsweep_new(sconf_);
        rsweep_set_fixed_angle(sweep_, 0.5 * kDegree);
        rsweep_set_schedule_index(sweep_, 2);
        const struct timeval time = {1600000000, 250000};
        rsweep_set_time(sweep_, &time);
        std::memset(&ih_, 0, sizeof ih_);
        __ingest_header_set_defaults(&ih_);
    }
    void TearDown() override {
        if (sweep_ != nullptr)
            rsweep_delete(sweep_);
        if (sconf_ != nullptr)
            sweepconf_unref(sconf_);
        if (rconf_ != nullptr)
            rayconf_unref(rconf_);
    }
    radar_ray_conf *rconf_ = nullptr;
    radar_sweep_conf *sconf_ = nullptr;
    radar_sweep *sweep_ = nullptr;
    ingest_header ih_;
};

using IngestHeaderSetTest = SweepFixture;

TEST_F(IngestHeaderSetTest, RadarAndRangeFromTheRayConfiguration) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 360);
    raycon_set_exthdr_size(rconf_, 20);
    rayconf_add_double(rconf_, "ORVA Ray Log Threshold", 0.5);
    sweepconf_add_double(sconf_, "ORVA Sweep Scan Speed", 90.0);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);

    EXPECT_EQ(ih_.tcf.dsp.iprf, 1000);
    EXPECT_EQ(ih_.tcf.misc.iwavelength, 530);
    EXPECT_EQ(ih_.tcf.misc.ipolarization, 0);
    EXPECT_EQ(ih_.tcf.dsp.itrig_rate, 1);  // twice the single-PRF interval of 13.25 m/s
    EXPECT_EQ(ih_.tcf.dsp.igas_atten, 5000);
    EXPECT_EQ(ih_.tcf.cal.ical_ref, -484);
    EXPECT_EQ(ih_.ical_ref2, -484);
    EXPECT_EQ(ih_.tcf.cal.iradar_const, 7050);
    EXPECT_EQ(ih_.tcf.dsp.ipulse_width, 80);
    EXPECT_EQ(ih_.tcf.dsp.isamples, 40);
    EXPECT_EQ(ih_.tcf.cal.ilog_thresh, 8);
    EXPECT_EQ(ih_.tcf.cal.isqi_thresh, 0);  // not defined: left alone
    EXPECT_EQ(ih_.tcf.scan.ispeed, 16384);

    // 8-bit codes of reflectivity and velocity, and the extended header.
    EXPECT_EQ(ih_.tcf.dsp.mask.mask_word_0, (1u << 2) | (1u << 3) | 1u);
    EXPECT_EQ(ih_.tcf.rng.irange_first, 25000);
    EXPECT_EQ(ih_.tcf.rng.istep_out, 12550);
    EXPECT_EQ(ih_.tcf.rng.istep_in, 12550);
    EXPECT_EQ(ih_.tcf.rng.ibins_in, 100);
    EXPECT_EQ(ih_.tcf.rng.irange_last, 25000 + 99 * 12550);

    EXPECT_EQ(ih_.tcf.scan.imode, SCAN_PPI_FULL);
    EXPECT_EQ(ih_.tcf.scan.ires, 1000);
    EXPECT_EQ(ih_.icf.irays_full, 360);
    EXPECT_EQ(ih_.icf.irays, 360);
}

TEST_F(IngestHeaderSetTest, SixteenBitCodesAndPolarizationFactor) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 360, 4);
    DspMaskSet(&ih_.tcf.dsp.mask, 40);  // cleared first
    ih_.tcf.dsp.mask.mask_xhdr = 7;     // not a code word: kept
    __ingest_header_set(&ih_, BITS_16, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.dsp.mask.mask_word_0, (1u << 9) | (1u << 10));
    EXPECT_EQ(ih_.tcf.dsp.mask.mask_word_1, 0u);
    EXPECT_EQ(ih_.tcf.dsp.mask.mask_xhdr, 7u);
    EXPECT_EQ(ih_.tcf.misc.ipolarization, 2);
    EXPECT_EQ(ih_.tcf.dsp.itrig_rate, 3);  // factor 2 times 2
}

TEST_F(IngestHeaderSetTest, ScanModes) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 358);
    ih_.tcf.scan.istart = 999;
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.scan.imode, SCAN_PPI_SECTOR);
    EXPECT_EQ(ih_.tcf.scan.istart, 0);
    TearDown();

    make(SWEEP_PPI, 90.0 * kDegree, 1.0 * kDegree, 90);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.scan.imode, SCAN_PPI_SECTOR);
    EXPECT_EQ(ih_.tcf.scan.istart, 16384);
    EXPECT_EQ(ih_.icf.ifirst_ray, 90);
    TearDown();

    // A step of 0.7 degree and a start of 2.1 degrees are a few units in the last place below
    // 700 thousandths and 3 steps; they are stored as such, not truncated to 699 and 2.
    make(SWEEP_PPI, 2.1 * kDegree, 0.7 * kDegree, 100);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.scan.ires, 700);
    EXPECT_EQ(ih_.icf.ifirst_ray, 3);
    EXPECT_EQ(ih_.icf.irays_full, 514);
    EXPECT_EQ(ih_.icf.irays, 100);
    TearDown();

    make(SWEEP_RHI, 0.0, 0.5 * kDegree, 181);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.scan.imode, SCAN_RHI_FULL);
    TearDown();

    make(SWEEP_MANUAL, 0, 0, 0);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.scan.imode, SCAN_MANUAL);
    EXPECT_EQ(ih_.tcf.scan.ires, 0);  // no sector
    EXPECT_EQ(ih_.icf.irays_full, 0);
}

TEST_F(IngestHeaderSetTest, UpdateRecordsTimeAndAngles) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 360);
    EXPECT_EQ(ingest_header_update(&ih_, sweep_, 0), 0);
    EXPECT_EQ(ih_.icf.vol_time.year, 2020);
    EXPECT_EQ(ih_.icf.vol_time.msecs_flags, YMDS_FLG_UTC | 250);
    EXPECT_EQ(ih_.tcf.scan.iangles[0], 91);  // 0.5 degree
    rsweep_set_fixed_angle(sweep_, 2.0 * kDegree);
    const ymds_time volume = ih_.icf.vol_time;
    const struct timeval later = {1600000600, 0};
    rsweep_set_time(sweep_, &later);
    EXPECT_EQ(ingest_header_update(&ih_, sweep_, 1), 0);
    EXPECT_EQ(std::memcmp(&ih_.icf.vol_time, &volume, sizeof volume), 0);
    EXPECT_EQ(ih_.tcf.scan.iangles[1], 364);
    // No slot past the end of the angle list: the wavelength after it stays intact.
    ih_.tcf.misc.iwavelength = 530;
    EXPECT_EQ(ingest_header_update(&ih_, sweep_, TASK_MAX_SWEEP_ANGLES), 1);
    EXPECT_EQ(ih_.tcf.misc.iwavelength, 530);
    TearDown();

    make(SWEEP_MANUAL, 0, 0, 0);
    EXPECT_EQ(ingest_header_update(&ih_, sweep_, 3), 0);
    EXPECT_EQ(ih_.tcf.scan.iangles[3], 0);
}

TEST_F(IngestHeaderSetTest, MomentsOnDifferentRangesShareTheMergedRange) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 360);
    const dscan later = {375.5, 125.5, 100};  // one bin later than the others
    native_data_desc scale{};
    scale.bin_format = BITS_16;
    rayconf_add_moment(rconf_, RD_ZDR, &later, &scale);
    __ingest_header_set(&ih_, BITS_8, sweep_, rconf_);
    EXPECT_EQ(ih_.tcf.rng.irange_first, 25000);
    EXPECT_EQ(ih_.tcf.rng.ibins_out, 101);
}

using IngestHeaderSetDeathTest = SweepFixture;

TEST_F(IngestHeaderSetDeathTest, BinFormatIsEightOrSixteenBits) {
    make(SWEEP_PPI, 0.0, 1.0 * kDegree, 360);
    EXPECT_DEATH(__ingest_header_set(&ih_, BITS_32, sweep_, rconf_), "bin_format");
}

using DataBlockFromSweepTest = SweepFixture;

TEST_F(DataBlockFromSweepTest, HeaderDescribesSweepAndMoment) {
    make(SWEEP_PPI, 10.0 * kDegree, 1.0 * kDegree, 90);
    BlockHandle block(dblock_new_from_sweep(sweep_, rayconf_get_moment(rconf_, 1), BITS_8));
    ASSERT_NE(block, nullptr);
    const IDhdr *header = dblock_get_ihdr(block.get());
    EXPECT_EQ(header->hdr.id, ST_INGEST_DATA);
    EXPECT_EQ(header->hdr.iversion, 3);
    EXPECT_EQ(header->hdr.ibytes, IDHDR_SIZE);
    EXPECT_EQ(header->hdr.iflags, 0);
    EXPECT_EQ(header->isweep, 3);
    EXPECT_EQ(header->irays_full, 360);
    EXPECT_EQ(header->ifirst_ray, 10);
    EXPECT_EQ(header->irtotl, 90);
    EXPECT_EQ(header->ifixed_angle, 91);
    EXPECT_EQ(header->ibits_bin, 8);
    EXPECT_EQ(header->idata_type, 3);
    EXPECT_EQ(header->sweep_time.year, 2020);
    EXPECT_EQ(dblock_get_data_type(block.get()), RD_VEL);
    EXPECT_EQ(dblock_get_schedule_index(block.get()), 2);
    block.reset();

    block.reset(dblock_new_from_sweep(sweep_, rayconf_get_moment(rconf_, 0), BITS_16));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(dblock_get_ihdr(block.get())->idata_type, 9);
    block.reset();

    RayConfHandle second(rayconf_new(500, 1e9, 8, 1, 1, 1, 1, 1, 0, 1));
    sweepconf_add_rayconf(sconf_, second.get());
    EXPECT_EQ(dblock_new_from_sweep(sweep_, rayconf_get_moment(rconf_, 0), BITS_8), nullptr);
}

}  // namespace
