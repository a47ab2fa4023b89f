// Product headers filled from a scan.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pvol_prod_header.h"
#include "synthetic_scan.h"

namespace {

using namespace synthetic;

constexpr char kSite[16] = "S";  // the header takes all 16 bytes

class ProdHeaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&header_, 0, sizeof header_);
        header_.pend.iwavelength = 4242;
        header_.pend.ilat = 77;
        scan_ = new_scan("A_VERY_LONG_SCAN_NAME");
        radar_sweep_conf *sconf = new_ppi_conf({new_rayconf({{RD_DBZ, BITS_8}})});
        add_sweeps(scan_.get(), sconf, kVolumeTime, {0.5});
        sweepconf_unref(sconf);
    }

    product_header header_;
    ScanPtr scan_;
};

TEST_F(ProdHeaderTest, IdentitySiteAndRadar) {
    header_.pcf.iflags = 0xFFFF;
    const char site[16] = {'G', 'E', 'N', 'E', 'R', 'A', 'T', 'I',
                           'N', 'G', ' ', 'S', 'I', 'T', 'E', '!'};
    pvol_fill_prod_header(&header_, scan_.get(), site, 21);
    EXPECT_EQ(header_.hdr.id, ST_PRODUCT_HDR);
    EXPECT_EQ(header_.hdr.iversion, ST_PRODUCT_HDR_VERSION);
    EXPECT_EQ(header_.hdr.ibytes, 0);
    EXPECT_EQ(header_.pcf.iflags, 0x6082);
    EXPECT_EQ(std::string(header_.pcf.task_name, 12), "A_VERY_LONG_");
    EXPECT_EQ(std::memcmp(header_.pend.prod_site, site, 16), 0);
    EXPECT_EQ(std::memcmp(header_.pend.version, "8.13\0\0\0\0", 8), 0);
    EXPECT_EQ(std::string(header_.pend.site_name, 16), "TESTSITE        ");
    EXPECT_EQ(header_.pend.iground_hgt, 100);  // 99.6 m
    EXPECT_EQ(header_.pend.iradar_hgt, 21);    // 120.2 m - 99.6 m
    EXPECT_EQ(header_.pend.ialtitude, 100);    // less the offset of 21 m
    EXPECT_EQ(header_.pend.iprf, 1000);
    EXPECT_EQ(header_.pend.isamples, 32);
    EXPECT_EQ(header_.pend.ipulse_width, 80);
    EXPECT_EQ(header_.pend.iwavelength, kWavelength);
    EXPECT_EQ(header_.pend.ipolarization, 0);
    EXPECT_EQ(header_.pend.iflags, 1);
}

TEST_F(ProdHeaderTest, FrequencyThatIsNoNumberKeepsTheWavelength) {
    ScanPtr scan = new_scan();
    radar_ray_conf *rconf = rayconf_new(kPrf, NAN, kNyquist, 150.0, 8e-7, 32, 70.0, -40.0, 0.0, 4);
    const native_data_desc scale = block_scale(RD_DBZ, BITS_8);
    rayconf_add_moment(rconf, RD_DBZ, &kRange, &scale);
    radar_sweep_conf *sconf = new_ppi_conf({rconf});
    add_sweeps(scan.get(), sconf, kVolumeTime, {0.5});
    sweepconf_unref(sconf);
    pvol_fill_prod_header(&header_, scan.get(), kSite, 0);
    EXPECT_EQ(header_.pend.iwavelength, 4242);
    EXPECT_EQ(header_.pend.ipolarization, 2);
}

TEST_F(ProdHeaderTest, ScanWithoutFixedPositionKeepsCallersPosition) {
    header_.pend.iground_hgt = 5;
    header_.pend.iradar_hgt = 6;
    rposition *moving = rposition_new_moving();
    pvol_set_position(scan_.get(), moving);
    rposition_unref(moving);
    pvol_fill_prod_header(&header_, scan_.get(), kSite, 0);
    EXPECT_EQ(header_.pend.iground_hgt, 5);
    EXPECT_EQ(header_.pend.iradar_hgt, 6);
    EXPECT_EQ(header_.pend.ialtitude, 11);
    pvol_fill_prod_radpos(&header_, scan_.get());
    EXPECT_EQ(header_.pend.ilat, 77u);
}

TEST_F(ProdHeaderTest, RadarHeightOfAHeightProduct) {
    header_.pcf.iptype = 2;
    header_.pcf.iyscale = 300;  // 3 m pixels
    pvol_fill_prod_header(&header_, scan_.get(), kSite, 0);
    EXPECT_EQ(header_.pend.ialtitude, 121);
    EXPECT_EQ(header_.pcf.irady, 40333);  // 121 m / 3 m, in thousandths

    header_.pcf.iyscale = 0;
    header_.pcf.irady = -5;
    pvol_fill_prod_header(&header_, scan_.get(), kSite, 0);
    EXPECT_EQ(header_.pcf.irady, -5);
}

TEST_F(ProdHeaderTest, RadarPositionWithoutProjection) {
    header_.pcf.iradx = 500;
    header_.pcf.irady = 600;
    header_.pcf.iproj_type = 3;
    std::memset(header_.pcf.b_144, 0xFF, sizeof header_.pcf.b_144);
    header_.pend.iproj_lat = header_.pend.iproj_lon = 9;
    header_.pend.iproj_angle1 = header_.pend.iproj_angle2 = 9;
    header_.pend.iearth_radius = header_.pend.iellipse_param = 9;
    EXPECT_EQ(pvol_fill_prod_radpos(&header_, scan_.get()), &header_);
    EXPECT_EQ(header_.pend.ilat, iBin4FromRadian(60.2 * kDegree));
    EXPECT_EQ(header_.pend.ilon, iBin4FromRadian(24.9 * kDegree));
    EXPECT_EQ(header_.pcf.iradx, 0);
    EXPECT_EQ(header_.pcf.irady, 0);
    EXPECT_EQ(header_.pcf.iproj_type, 0);
    for (unsigned char byte : header_.pcf.b_144)
        EXPECT_EQ(byte, 0);
    EXPECT_EQ(header_.pend.iproj_lat, 0u);
    EXPECT_EQ(header_.pend.iproj_lon, 0u);
    EXPECT_EQ(header_.pend.iproj_angle1, 0u);
    EXPECT_EQ(header_.pend.iproj_angle2, 0u);
    EXPECT_EQ(header_.pend.iearth_radius, 0);
    EXPECT_EQ(header_.pend.iellipse_param, 0);
}

}  // namespace
