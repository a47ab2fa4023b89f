// Product types and the geometry of product headers.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "orva_records.h"
#include "orva_utils.h"
#include "radar_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr int kCappiType = 5;  // a geo-referenced product type with pixel size
constexpr double kBin4Unit = 2 * 2 * M_PI / 4294967296.0;  // as iBin4FromRadian rounds

product_header blank_header(int type, const char *version) {
    product_header h;
    std::memset(&h, 0, sizeof h);
    h.pcf.iptype = static_cast<int16_t>(type);
    std::strncpy(h.pend.version, version, sizeof h.pend.version);
    return h;
}

void put_i32(product_header &h, std::size_t offset, int32_t value) {
    std::memcpy(reinterpret_cast<unsigned char *>(&h) + offset, &value, sizeof value);
}

TEST(ProductTypes, GeometryClassesAndPixelSizes) {
    EXPECT_FALSE(lProductHasPixSize(9));
    EXPECT_FALSE(lProductHasPixSize(22));
    EXPECT_FALSE(lProductHasPixSize(35));
    EXPECT_TRUE(lProductHasPixSize(5));

    const struct {
        int type, geometry;
        bool georef;
    } rows[] = {{1, 1, true},   {2, 2, false},  {3, 5, true},   {26, 5, true},  {4, 4, false},
                {18, 4, false}, {14, 8, false}, {23, 7, false}, {5, 3, true},   {22, 3, true},
                {40, 3, true},  {9, 6, false},  {15, 6, false}, {41, 6, false}, {-1, 6, false}};
    for (const auto &row : rows) {
        EXPECT_EQ(iProductGeometry(row.type), row.geometry) << row.type;
        EXPECT_EQ(lProductIsGeoRef(row.type) != 0, row.georef) << row.type;
    }
}

TEST(ProductTypes, RangesFromSizesScalesAndParameters) {
    product_header h = blank_header(kCappiType, "8.13");
    h.pcf.ixsize = 480;
    h.pcf.iysize = 301;
    h.pcf.ixscale = 100000;  // 1 km pixels
    h.pcf.iyscale = 0;       // north falls back to the x scale
    put_i32(h, 176, 1000000);
    put_i32(h, 180, 25000000);
    put_i32(h, 188, 40);
    const void *params = reinterpret_cast<const unsigned char *>(&h) + 176;
    const void *pcf = &h.pcf;

    EXPECT_DOUBLE_EQ(fMaxRangeFromPCF(pcf), 240.0);
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(pcf), 150.5);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(2, 480, 100000, 0, 0, params), 480.0);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(15, 480, 100000, 0, 0, params), 250.0);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(14, 0, 0, 300, 50000, params), 150.0);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(16, 480, 100000, 0, 0, params), 220.0);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(22, 480, 100000, 0, 0, params), 0.0004);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(35, 480, 100000, 0, 0, params), 130.0);
    EXPECT_EQ(fMaxRangeFromArgs(0, 480, 100000, 0, 0, params), 0.0);
    EXPECT_EQ(fMaxRangeFromArgs(41, 480, 100000, 0, 0, params), 0.0);
    // Sizes and scales whose product passes 32 bits.
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(2, 30000, 100000, 0, 0, params), 30000.0);
    put_i32(h, 180, -1);  // type 23 reads the range unsigned
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(23, 0, 0, 0, 0, params), 4294967295.0 / 100000.0);

    // The north range halves whole centimetres: 3 pixels of 1 cm give 1 cm.
    h.pcf.iysize = 3;
    h.pcf.ixscale = 1;
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(pcf), 1e-5);
    h.pcf.iptype = 16;
    h.pcf.iysize = 341;
    h.pcf.ixscale = 100000;
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(pcf), 150.5);
    h.pcf.iptype = 29;
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(pcf), -1e-5);
}

// A product made from a region and a radar position reads back as the same region and radar.
TEST(ProductHeader, RegionAndRadarRoundTrip) {
    map_proj proj{};
    proj.type = LAMBERT;
    proj.reference = earth_pos{46.0 * kDeg, 8.0 * kDeg, 0};
    proj.std_parallel1 = 44.0 * kDeg;
    proj.std_parallel2 = 48.0 * kDeg;
    proj.earth_radius = 6378.137;
    proj.inverse_flattening = 298.257223563;

    map_region r{};
    r.centre = earth_pos{46.5 * kDeg, 7.5 * kDeg, 0};
    mpj_set_earth_de(&r, 200.0);
    mpj_set_earth_dn(&r, 150.0);
    r.pixels_x = 400.0;
    r.pixels_y = 300.0;
    ASSERT_EQ(
        mpj_pin_region_xy(&proj, &r, MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST),
        MPJ_OK);
    const earth_pos radar{46.2 * kDeg, 7.1 * kDeg, 0};

    product_header h = blank_header(kCappiType, "8.13");
    h.pcf.ixsize = 400;
    h.pcf.iysize = 300;
    phdr_from_proj_region(&h, &proj, &r);
    ASSERT_EQ(phdr_from_radpos(&h, kCappiType, &proj, &r, &radar), MPJ_OK);
    EXPECT_EQ(h.pcf.iproj_type, LAMBERT);
    EXPECT_EQ(h.pend.iearth_radius, 637813700);
    EXPECT_EQ(h.pend.iellipse_param, 298257224);
    EXPECT_EQ(h.pcf.ixscale, 100000);  // 2 x 200 km over 400 pixels
    // Keeping 300 pixels north moved the north edge a little on this cone.
    EXPECT_NEAR(h.pcf.iyscale, 100000, 1000);

    map_proj read_proj;
    map_region read;
    ASSERT_EQ(phdr_pin_region(&read_proj, &read, &h, nullptr), MPJ_OK);
    EXPECT_EQ(read_proj.type, LAMBERT);
    EXPECT_NEAR(read_proj.reference.latitude, proj.reference.latitude, kBin4Unit);
    EXPECT_NEAR(read_proj.std_parallel2, proj.std_parallel2, kBin4Unit);
    EXPECT_NEAR(read_proj.inverse_flattening, proj.inverse_flattening, 1e-6);
    EXPECT_NEAR(read.corner0.latitude, r.corner0.latitude, 1e-7);
    EXPECT_NEAR(read.corner2.longitude, r.corner2.longitude, 1e-7);
    EXPECT_EQ(read.pixels_x, 400.0);
    EXPECT_NEAR(read.pixels_y, 300.0, 1e-9);

    earth_pos read_radar;
    ASSERT_EQ(RadPosFromPheader(&h, &read_radar), MPJ_OK);
    // A thousandth of a 1 km pixel.
    EXPECT_NEAR(read_radar.latitude, radar.latitude, 2e-7);
    EXPECT_NEAR(read_radar.longitude, radar.longitude, 2e-7);

    // Passed pixel counts override the header's.
    const int pixels[2] = {800, 600};
    ASSERT_EQ(phdr_pin_region(&read_proj, &read, &h, pixels), MPJ_OK);
    EXPECT_EQ(read.pixels_x, 800.0);
    EXPECT_NEAR(read.pixels_y, 600.0, 1e-9);
}

TEST(ProductHeader, RadarPositionWhereThereIsNoPixelForIt) {
    map_proj proj{};
    proj.type = GNOMONIC;
    proj.earth_radius = 6371.0;
    map_region r{};
    mpj_set_earth_de(&r, 100.0);
    mpj_set_earth_dn(&r, 100.0);
    r.pixels_x = 201.0;
    r.pixels_y = 101.0;
    ASSERT_EQ(
        mpj_pin_region_xy(&proj, &r, MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST),
        MPJ_OK);

    product_header h = blank_header(kCappiType, "8.13");
    const earth_pos hidden{0.0, 120.0 * kDeg, 0};  // on the far side of the gnomonic view
    EXPECT_EQ(phdr_from_radpos(&h, kCappiType, &proj, &r, &hidden), MPJ_OK);
    EXPECT_EQ(h.pcf.iradx, 100500);
    EXPECT_EQ(h.pcf.irady, 50500);

    h.pcf.iradx = h.pcf.irady = 0;
    EXPECT_EQ(phdr_from_radpos(&h, kCappiType, &proj, &r, nullptr), MPJ_OK);
    EXPECT_EQ(h.pcf.iradx, 100500);

    // Products off the map grid keep the radar as latitude and longitude.
    const earth_pos radar{-30.0 * kDeg, 100.0 * kDeg, 0};
    h.pcf.iradx = 7;
    EXPECT_EQ(phdr_from_radpos(&h, 9, &proj, &r, &radar), MPJ_OK);
    EXPECT_EQ(h.pcf.iradx, 7);
    EXPECT_EQ(h.pend.ilat, iBin4FromRadian(radar.latitude));
    h.pcf.iptype = 9;
    earth_pos read;
    EXPECT_EQ(RadPosFromPheader(&h, &read), MPJ_OK);
    EXPECT_NEAR(read.latitude, radar.latitude, kBin4Unit);
    EXPECT_NEAR(read.longitude, radar.longitude, kBin4Unit);
}

TEST(ProductHeader, OlderFormatsAndSpecialTypes) {
    product_header h = blank_header(kCappiType, "5.4");
    h.pcf.iproj_type = LAMBERT;  // not yet meaningful in this version
    h.pcf.ixsize = h.pcf.iysize = 200;
    h.pcf.ixscale = h.pcf.iyscale = 100000;
    h.pend.ilat = iBin4FromRadian(60.0 * kDeg);
    h.pend.ilon = iBin4FromRadian(25.0 * kDeg);
    map_proj proj;
    map_region r;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.type, AZIMUTHAL);
    EXPECT_EQ(proj.earth_radius, 6371.0);
    EXPECT_NEAR(proj.reference.latitude, 60.0 * kDeg, kBin4Unit);
    EXPECT_NEAR(r.corner2_map[0], 100.0, 1e-3);

    // Without a leading number the version is unknown: azimuthal as well.
    std::strncpy(h.pend.version, "v8.13", sizeof h.pend.version);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.type, AZIMUTHAL);

    // Before 8.115 a Mercator centre at latitude 0 meant the radar's, a polar one the pole.
    std::strncpy(h.pend.version, "7.2", sizeof h.pend.version);
    h.pcf.iproj_type = MERCATOR;
    h.pend.iearth_radius = 637100000;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.type, MERCATOR);
    EXPECT_NEAR(proj.reference.latitude, 60.0 * kDeg, kBin4Unit);
    h.pcf.iproj_type = POLSTEREO;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.reference.latitude, M_PI / 2);
    std::strncpy(h.pend.version, "8.13", sizeof h.pend.version);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.reference.latitude, 0.0);

    // Type 22 is always 720 x 720 pixels unless the caller says otherwise.
    h = blank_header(22, "8.13");
    h.pcf.ixsize = h.pcf.iysize = 100;
    put_i32(h, 188, 24000000);  // 240 km
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 720.0);
    EXPECT_NEAR(r.pixels_y, 720.0, 1e-9);
    const int pixels[2] = {500, 500};
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, pixels), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 500.0);

    // Type 16 leaves out a margin when the grid is large enough for it.
    h = blank_header(16, "8.13");
    h.pcf.ixsize = h.pcf.iysize = 240;
    h.pcf.ixscale = 100000;
    put_i32(h, 188, 40);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 200.0);
    EXPECT_NEAR(r.earth_east_km, 100.0, 1e-12);
    put_i32(h, 188, 235);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 240.0);
}

TEST(ProductHeader, FailedPinningLeavesTheRadarAtZero) {
    product_header h = blank_header(kCappiType, "8.13");  // no sizes: no region
    h.pend.ilat = iBin4FromRadian(0.5);
    earth_pos radar{1.0, 1.0, 1};
    EXPECT_EQ(RadPosFromPheader(&h, &radar), MPJ_BAD_ARGUMENTS);
    EXPECT_EQ(radar.latitude, 0.0);
    EXPECT_EQ(radar.longitude, 0.0);
}

}  // namespace
