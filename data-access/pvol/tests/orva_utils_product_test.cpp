// Product types and the geometry of product headers.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "pvol/orva_records.h"
#include "pvol/orva_utils.h"
#include "pvol/radar_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr int kCappiType = 5;                              // geo-referenced, with pixel size
constexpr double kBin4Unit = 2 * 2 * M_PI / 4294967296.0;  // as iBin4FromRadian rounds

product_header header(int type, const char *version, int size = 0, int scale = 0) {
    product_header h;
    std::memset(&h, 0, sizeof h);
    h.pcf.iptype = static_cast<int16_t>(type);
    std::strncpy(h.pend.version, version, sizeof h.pend.version);
    h.pcf.ixsize = h.pcf.iysize = size;
    h.pcf.ixscale = scale;
    return h;
}

void put_i32(product_header &h, std::size_t offset, int32_t value) {
    std::memcpy(reinterpret_cast<unsigned char *>(&h) + offset, &value, sizeof value);
}

TEST(ProductTypesTest, GeometryClassesAndRanges) {
    EXPECT_FALSE(lProductHasPixSize(22));
    EXPECT_TRUE(lProductHasPixSize(5));
    const int geometry[][2] = {{1, 1},  {2, 2},  {26, 5}, {18, 4},
                               {14, 8}, {23, 7}, {40, 3}, {41, 6}};
    for (const auto &row : geometry)
        EXPECT_EQ(iProductGeometry(row[0]), row[1]) << row[0];
    EXPECT_TRUE(lProductIsGeoRef(3) && lProductIsGeoRef(22) && !lProductIsGeoRef(4));

    product_header h = header(kCappiType, "8.13", 301, 100000);  // north uses the x scale
    put_i32(h, 176, 1000000);
    put_i32(h, 180, 25000000);
    put_i32(h, 188, 41);
    const void *params = reinterpret_cast<const unsigned char *>(&h) + 176;
    EXPECT_DOUBLE_EQ(fMaxRangeFromPCF(&h.pcf), 150.5);
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(&h.pcf), 150.5);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(16, 480, 100000, 0, 0, params), 219.5);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(35, 480, 100000, 0, 0, params), 130.0);
    EXPECT_EQ(fMaxRangeFromArgs(41, 480, 100000, 0, 0, params), 0.0);
    EXPECT_DOUBLE_EQ(fMaxRangeFromArgs(2, 30000, 100000, 0, 0, params), 30000.0);  // > 2^31 cm
    h.pcf.iptype = 16;  // the north range halves whole centimetres: 301 - 41 pixels of 1 cm
    h.pcf.ixscale = 1;
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(&h.pcf), 130e-5);
    h.pcf.iysize = 300;
    EXPECT_DOUBLE_EQ(fMaxNorthFromPCF(&h.pcf), 129e-5);
}

// A header written from a region and radar position reads back as the same region and radar.
TEST(ProductHeaderGeometryTest, RegionAndRadarRoundTrip) {
    const map_proj proj{
        LAMBERT, {46.0 * kDeg, 8.0 * kDeg, 0}, 44.0 * kDeg, 48.0 * kDeg, 6378.137, 298.257223563};
    map_region r{};
    r.centre = earth_pos{46.5 * kDeg, 7.5 * kDeg, 0};
    mpj_set_earth_de(&r, 200.0);
    mpj_set_earth_dn(&r, 150.0);
    r.pixels_x = 400.0;
    r.pixels_y = 300.0;
    const int known = MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST;
    ASSERT_EQ(mpj_pin_region_xy(&proj, &r, known), MPJ_OK);
    const earth_pos radar{46.2 * kDeg, 7.1 * kDeg, 0};

    product_header h = header(kCappiType, "8.13", 400);
    h.pcf.iysize = 300;
    phdr_from_proj_region(&h, &proj, &r);
    ASSERT_EQ(phdr_from_radpos(&h, kCappiType, &proj, &r, &radar), MPJ_OK);
    EXPECT_EQ(h.pcf.iproj_type, LAMBERT);
    EXPECT_EQ(h.pend.iearth_radius, 637813700);
    EXPECT_EQ(h.pend.iellipse_param, 298257224);
    EXPECT_EQ(h.pcf.ixscale, 100000);  // 2 x 200 km over 400 pixels

    map_proj back_proj;
    map_region back;
    ASSERT_EQ(phdr_pin_region(&back_proj, &back, &h, nullptr), MPJ_OK);
    EXPECT_EQ(back_proj.type, LAMBERT);
    EXPECT_NEAR(back_proj.reference.latitude, proj.reference.latitude, kBin4Unit);
    EXPECT_NEAR(back_proj.std_parallel2, proj.std_parallel2, kBin4Unit);
    EXPECT_NEAR(back.corner0.latitude, r.corner0.latitude, 1e-7);
    EXPECT_NEAR(back.corner2.longitude, r.corner2.longitude, 1e-7);
    EXPECT_NEAR(back.pixels_y, 300.0, 1e-9);

    earth_pos back_radar;
    ASSERT_EQ(RadPosFromPheader(&h, &back_radar), MPJ_OK);
    EXPECT_NEAR(back_radar.latitude, radar.latitude, 2e-7);  // a thousandth of a 1 km pixel
    EXPECT_NEAR(back_radar.longitude, radar.longitude, 2e-7);
}

TEST(ProductHeaderGeometryTest, RadarPositionWithoutAPixel) {
    const map_proj proj{GNOMONIC, {0.0, 0.0, 0}, 0.0, 0.0, 6371.0, 0.0};
    map_region r{};
    mpj_set_earth_de(&r, 100.0);
    mpj_set_earth_dn(&r, 100.0);
    r.pixels_x = 201.0;
    r.pixels_y = 101.0;
    ASSERT_EQ(mpj_pin_region_xy(&proj, &r, 0xc2), MPJ_OK);
    product_header h = header(kCappiType, "8.13");
    const earth_pos hidden{0.0, 120.0 * kDeg, 0};  // on the far side of the gnomonic view
    EXPECT_EQ(phdr_from_radpos(&h, kCappiType, &proj, &r, &hidden), MPJ_OK);
    EXPECT_EQ(h.pcf.iradx, 100500);  // the image centre
    EXPECT_EQ(h.pcf.irady, 50500);

    // Products off the map grid keep the radar as latitude and longitude.
    const earth_pos radar{-30.0 * kDeg, 100.0 * kDeg, 0};
    h.pcf.iradx = 7;
    EXPECT_EQ(phdr_from_radpos(&h, 9, &proj, &r, &radar), MPJ_OK);
    EXPECT_EQ(h.pcf.iradx, 7);
    h.pcf.iptype = 9;
    earth_pos back;
    EXPECT_EQ(RadPosFromPheader(&h, &back), MPJ_OK);
    EXPECT_NEAR(back.latitude, radar.latitude, kBin4Unit);
    EXPECT_NEAR(back.longitude, radar.longitude, kBin4Unit);

    h = header(kCappiType, "8.13");  // no sizes: no region, radar at 0
    back.latitude = 1.0;
    EXPECT_EQ(RadPosFromPheader(&h, &back), MPJ_BAD_ARGUMENTS);
    EXPECT_EQ(back.latitude, 0.0);
}

TEST(ProductHeaderGeometryTest, OlderFormatsAndSpecialTypes) {
    product_header h = header(kCappiType, "5.4", 200, 100000);
    h.pcf.iproj_type = LAMBERT;  // not yet meaningful in this version
    h.pend.ilat = iBin4FromRadian(60.0 * kDeg);
    map_proj proj;
    map_region r;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.type, AZIMUTHAL);
    EXPECT_NEAR(proj.reference.latitude, 60.0 * kDeg, kBin4Unit);
    EXPECT_NEAR(r.corner2_map[0], 100.0, 1e-3);

    // Before 8.115 a Mercator centre at latitude 0 meant the radar's, a polar one the pole.
    std::strncpy(h.pend.version, "7.2", sizeof h.pend.version);
    h.pcf.iproj_type = MERCATOR;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_NEAR(proj.reference.latitude, 60.0 * kDeg, kBin4Unit);
    h.pcf.iproj_type = POLSTEREO;
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.reference.latitude, M_PI / 2);
    std::strncpy(h.pend.version, "8.13", sizeof h.pend.version);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(proj.reference.latitude, 0.0);

    h = header(22, "8.13", 100);  // always 720 x 720 pixels unless the caller says otherwise
    put_i32(h, 188, 24000000);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 720.0);
    const int pixels[2] = {500, 500};
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, pixels), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 500.0);

    h = header(16, "8.13", 240, 100000);  // leaves out a margin when the grid has room for it
    put_i32(h, 188, 40);
    ASSERT_EQ(phdr_pin_region(&proj, &r, &h, nullptr), MPJ_OK);
    EXPECT_EQ(r.pixels_x, 200.0);
    EXPECT_NEAR(r.earth_east_km, 100.0, 1e-12);
}

}  // namespace
