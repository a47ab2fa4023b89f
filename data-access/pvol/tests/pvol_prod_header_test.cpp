// Product headers filled from a scan.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pvol/pvol_prod_header.h"
#include "synthetic_scan.h"
#include "pvol_handles.h"

namespace {

using namespace synthetic;

constexpr char kSite[16] = {'G', 'E', 'N', 'E', 'R', 'A', 'T', 'I',
                            'N', 'G', ' ', 'S', 'I', 'T', 'E', '!'};

ScanHandle scan_with_radar(double frequency, int tx_polarization) {
    ScanHandle scan = new_scan("A_VERY_LONG_SCAN_NAME");
    radar_ray_conf *rconf =
        rayconf_new(kPrf, frequency, kNyquist, 150.0, 8e-7, 32, 70.0, -40.0, 0.0, tx_polarization);
    const native_data_desc scale = block_scale(RD_DBZ, BITS_8);
    rayconf_add_moment(rconf, RD_DBZ, &kRange, &scale);
    SweepConfHandle sconf(new_ppi_conf({rconf}));
    add_sweeps(scan.get(), sconf.get(), kVolumeTime, {0.5});
    sconf.reset();
    return scan;
}

TEST(ProdHeaderTest, IdentitySiteRadarAndHeights) {
    product_header header{};
    header.pcf.iflags = 0xFFFF;
    ScanHandle scan = scan_with_radar(kFrequency, 4);
    pvol_fill_prod_header(&header, scan.get(), kSite, 21);
    EXPECT_EQ(header.hdr.id, ST_PRODUCT_HDR);
    EXPECT_EQ(header.hdr.iversion, ST_PRODUCT_HDR_VERSION);
    EXPECT_EQ(header.pcf.iflags, 0x6082);
    EXPECT_EQ(std::string(header.pcf.task_name, 12), "A_VERY_LONG_");
    EXPECT_EQ(std::memcmp(header.pend.prod_site, kSite, 16), 0);
    EXPECT_EQ(std::memcmp(header.pend.version, "8.13\0\0\0\0", 8), 0);
    EXPECT_EQ(std::string(header.pend.site_name, 16), "TESTSITE        ");
    EXPECT_EQ(header.pend.iground_hgt, 100);  // 99.6 m
    EXPECT_EQ(header.pend.iradar_hgt, 21);    // 120.2 m - 99.6 m
    EXPECT_EQ(header.pend.ialtitude, 100);    // less the offset of 21 m
    EXPECT_EQ(header.pend.iprf, 1000);
    EXPECT_EQ(header.pend.isamples, 32);
    EXPECT_EQ(header.pend.ipulse_width, 80);
    EXPECT_EQ(header.pend.iwavelength, kWavelength);
    EXPECT_EQ(header.pend.ipolarization, 2);
    EXPECT_EQ(header.pend.iflags, 1);

    // A frequency that is not a number leaves the wavelength, a moving platform the heights.
    header.pend.iwavelength = 4242;
    header.pend.iground_hgt = 5;
    header.pend.iradar_hgt = 6;
    scan = scan_with_radar(NAN, 1);
    PositionHandle moving(rposition_new_moving());
    pvol_set_position(scan.get(), moving.get());
    moving.reset();
    pvol_fill_prod_header(&header, scan.get(), kSite, 0);
    EXPECT_EQ(header.pend.iwavelength, 4242);
    EXPECT_EQ(header.pend.iground_hgt, 5);
    EXPECT_EQ(header.pend.ialtitude, 11);
}

TEST(ProdHeaderTest, RadarHeightOfAHeightProduct) {
    product_header header{};
    header.pcf.iptype = 2;
    header.pcf.iyscale = 300;  // 3 m pixels
    ScanHandle scan = scan_with_radar(kFrequency, 1);
    pvol_fill_prod_header(&header, scan.get(), kSite, 0);
    EXPECT_EQ(header.pcf.irady, 40333);  // 121 m over 3 m, in thousandths

    header.pcf.iyscale = 0;  // no pixel to count in: the caller's value stays
    header.pcf.irady = -5;
    pvol_fill_prod_header(&header, scan.get(), kSite, 0);
    EXPECT_EQ(header.pcf.irady, -5);
}

TEST(ProdHeaderTest, RadarPositionWithoutProjection) {
    product_header header;
    std::memset(&header, 0x5A, sizeof header);
    ScanHandle scan = scan_with_radar(kFrequency, 1);
    EXPECT_EQ(pvol_fill_prod_radpos(&header, scan.get()), &header);
    EXPECT_EQ(header.pend.ilat, iBin4FromRadian(60.2 * kDegree));
    EXPECT_EQ(header.pend.ilon, iBin4FromRadian(24.9 * kDegree));
    EXPECT_EQ(header.pcf.iradx, 0);
    EXPECT_EQ(header.pcf.irady, 0);
    EXPECT_EQ(header.pcf.iproj_type, 0);
    EXPECT_EQ(header.pend.iproj_lat | header.pend.iproj_lon | header.pend.iproj_angle1 |
                  header.pend.iproj_angle2,
              0u);
    EXPECT_EQ(header.pend.iearth_radius | header.pend.iellipse_param, 0);
    const uint8_t zeros[12] = {};
    EXPECT_EQ(std::memcmp(header.pcf.b_144, zeros, 12), 0);
    EXPECT_EQ(header.pend.imin_west, 0x5A5A);  // not the function's business
}

}  // namespace
