// Builders of the product and ingest headers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "orva_header_ops.h"
#include "pvol/orva_records.h"
#include "pvol/radar_utils.h"

namespace {

bool all_zero(const void *bytes, size_t size) {
    const auto *p = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

std::string field(const char *bytes, size_t size) {
    return std::string(bytes, size);
}

class ProductHeaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&ih_, 0, sizeof ih_);
        __ingest_header_set_defaults(&ih_);
        cstr2fstr(ih_.tcf.end.task_name, "VOLUME_A", sizeof ih_.tcf.end.task_name);
        ih_.icf.vol_time = {3600, 0x800 | 5, 2022, 3, 4};
        std::memcpy(ih_.icf.version, "1.2.3.4.5", 8);
        cstr2fstr(ih_.icf.site_name, "Hill", sizeof ih_.icf.site_name);
        std::memcpy(ih_.icf.hw_name, "ABCDEFGHIJKLMNOP", 16);  // no terminator room: copied as is
        ih_.icf.iradar_hgt = 23;
        ih_.icf.iground_hgt = 100;
        ih_.icf.ilat = 0x12345678;
        ih_.icf.i_130 = 0xFFFE;
        ih_.tcf.dsp.idsp_type = 8;
        ih_.tcf.dsp.b_790 = 200;
        ih_.tcf.rng.ibins_out = -2;
        ih_.tcf.rng.irange_last = 250000;
        ih_.tcf.cal.i_986 = 3;  // 18.75 rounds to 19
        ih_.tcf.dsp.mask.mask_xhdr = 0xAA;
        DspMaskSet(&ih_.tcf.dsp.mask, 9);
        DspMaskSet(&ih_.tcf.dsp.mask, 72);
        // Processor status: power code 1 (6.0), noise 16 counts above 3584 at slope 1/4,
        // channel 0 offset 1.5.
        unsigned char *status = reinterpret_cast<unsigned char *>(&ih_) + INGEST_PROC_STATUS_OFFSET;
        const uint16_t raw_noise = 4 * 3600, power = 1 << 8;
        const int16_t slope = 16384, offset = 150;
        std::memcpy(status + 10, &raw_noise, 2);
        std::memcpy(status + 62, &slope, 2);
        std::memcpy(status + 98, &offset, 2);
        std::memcpy(status + 102, &power, 2);
    }
    product_header build(const char *site = "GEN") {
        product_header ph;
        std::memset(&ph, 0x5A, sizeof ph);
        __product_header(&ph, &ih_, site);
        return ph;
    }
    ingest_header ih_;
};

TEST_F(ProductHeaderTest, IdentifiesARawProduct) {
    const product_header ph = build();
    EXPECT_EQ(ph.hdr.id, ST_PRODUCT_HDR);
    EXPECT_EQ(ph.hdr.iversion, 8);
    EXPECT_EQ(ph.hdr.ibytes, 0);
    EXPECT_EQ(ph.pcf.hdr.id, ST_PRODUCT_CONF);
    EXPECT_EQ(ph.pcf.hdr.ibytes, 320);
    EXPECT_EQ(ph.pcf.hdr.iflags, 1);
    EXPECT_EQ(ph.pcf.iptype, PROD_RAW);
    EXPECT_EQ(std::memcmp(&ph.pcf.sweep_time, &ih_.icf.vol_time, 12), 0);
    EXPECT_EQ(std::memcmp(&ph.pend.ing_time, &ih_.icf.vol_time, 12), 0);
    EXPECT_EQ(ph.pcf.gen_time.msecs_flags & YMDS_FLG_UTC, YMDS_FLG_UTC);
    EXPECT_GE(ph.pcf.gen_time.year, 2024);
    EXPECT_EQ(field(ph.pend.version, 8), std::string("8.13\0\0\0\0", 8));
    EXPECT_EQ(field(ph.pend.ing_version, 8), std::string("1.2.3.4\0", 8));
    EXPECT_EQ(field(ph.pend.prod_site, 16), "GEN             ");
}

TEST_F(ProductHeaderTest, ProductNameGetsRawSuffixOnlyForShortTaskNames) {
    EXPECT_EQ(field(build().pcf.prod_name, 12), "VOLUME_A_RAW");
    EXPECT_EQ(field(build().pcf.task_name, 12), "VOLUME_A    ");
    cstr2fstr(ih_.tcf.end.task_name, "VOLUME_AB", sizeof ih_.tcf.end.task_name);
    EXPECT_EQ(field(build().pcf.prod_name, 12), "VOLUME_AB   ");
    cstr2fstr(ih_.tcf.end.task_name, "", sizeof ih_.tcf.end.task_name);
    EXPECT_EQ(field(build().pcf.prod_name, 12), "_RAW        ");
}

TEST_F(ProductHeaderTest, SiteNamesCopiedWholeWhenTheyFillTheField) {
    const product_header ph = build();
    EXPECT_EQ(field(ph.pend.hw_name, 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(field(ph.pend.site_name, 16), "Hill            ");
}

TEST_F(ProductHeaderTest, CopiesAndDerivedValues) {
    const product_header ph = build();
    EXPECT_EQ(ph.pcf.mask0, ih_.tcf.dsp.mask.mask_word_0);
    EXPECT_EQ(ph.pcf.mask1[0], 0xAAu);
    EXPECT_EQ(ph.pcf.mask1[2], ih_.tcf.dsp.mask.mask_word_2);
    EXPECT_EQ(ph.pcf.irange_last, 250000);
    EXPECT_EQ(ph.pcf.iing_130, 0xFFFE);  // unsigned source
    EXPECT_EQ(ph.pend.ibins, -2);        // sign-extended
    EXPECT_EQ(ph.pend.dsp_790, 200);
    EXPECT_EQ(ph.pend.ilat, 0x12345678u);
    EXPECT_EQ(ph.pend.iprf, 1000);
    EXPECT_EQ(ph.pend.imisc_1772, 2147483647);
    EXPECT_EQ(ph.pend.iflags, 1);
    EXPECT_EQ(ph.pend.ialtitude, 123);
    EXPECT_EQ(ph.pend.cal_986, 19);
    EXPECT_EQ(ph.pend.inoise_1, 1000);  // 6.0 + 4.0
    EXPECT_EQ(ph.pend.inoise_0, 850);   // minus 1.5 on channel 0
}

TEST_F(ProductHeaderTest, RawProductLeavesGeometryZero) {
    ih_.tcf.dsp.b_791 = 1;
    const product_header ph = build(nullptr);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&ph);
    EXPECT_TRUE(all_zero(bytes + 100, 32));  // scales, sizes, radar pixel position
    EXPECT_EQ(bytes[158], 0);                // projection
    EXPECT_TRUE(all_zero(bytes + 544, 16));  // projection angles, earth radius, ellipse
    EXPECT_TRUE(all_zero(bytes + 572, 8));   // projection centre
    EXPECT_EQ(ph.pend.ixhdr_offset, 0u);
    EXPECT_TRUE(all_zero(ph.pend.prod_site, 16));
}

TEST(IngestHeaderDefaultsTest, FixedIdentifiersOnAZeroedHeader) {
    ingest_header ih;
    std::memset(&ih, 0, sizeof ih);
    __ingest_header_set_defaults(&ih);
    EXPECT_EQ(ih.hdr.id, ST_INGEST_HDR);
    EXPECT_EQ(ih.hdr.ibytes, INGEST_HDR_SIZE);
    EXPECT_EQ(ih.hdr.iflags, 1);
    EXPECT_EQ(ih.tcf.hdr.id, ST_TASK_CONF);
    EXPECT_EQ(ih.tcf.hdr.iversion, 5);
    EXPECT_EQ(ih.tcf.hdr.ibytes, TASK_CONF_SIZE);
    EXPECT_EQ(ih.tcf.dsp.iprf, 1000);
    EXPECT_EQ(ih.tcf.misc.i_1772, 2147483647);
    EXPECT_EQ(ih.tcf.end.ihybrid, 1);
    EXPECT_TRUE(all_zero(&ih.icf, sizeof ih.icf));
}

}  // namespace
