// Product regions: completion from partial knowledge, checks, rescaling and pixels.
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "pvol/orva_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr int kCentreAndDistances = MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST;

map_proj projection(int type, double lat_deg, double lon_deg, double par1 = 0, double par2 = 0) {
    const bool ellipsoid = type == LAMBERT || type == UTM;
    return map_proj{static_cast<uint8_t>(type),
                    {lat_deg * kDeg, lon_deg * kDeg, 0},
                    par1 * kDeg,
                    par2 * kDeg,
                    ellipsoid ? 6378.137 : 6371.0,
                    ellipsoid ? 298.257223563 : 0.0};
}

// A region known by its centre, its earth distances and its pixels across.
map_region around(double lat_deg, double lon_deg, double east_km, double north_km,
                  double pixels_x = 400.0) {
    map_region r{};
    r.centre = earth_pos{lat_deg * kDeg, lon_deg * kDeg, 0};
    mpj_set_earth_de(&r, east_km);
    mpj_set_earth_dn(&r, north_km);
    r.pixels_x = pixels_x;
    return r;
}

void expect_same_region(const map_region &a, const map_region &b, double km,
                        const std::string &what) {
    const double *pa = a.corner0_map, *pb = b.corner0_map;  // the five map points
    for (int i = 0; i < 10; ++i)
        EXPECT_NEAR(pa[i], pb[i], km) << what << " map value " << i;
    EXPECT_NEAR(a.corner0.latitude, b.corner0.latitude, km / 6371.0) << what;
    EXPECT_NEAR(a.corner2.longitude, b.corner2.longitude, km / 6371.0) << what;
    EXPECT_NEAR(a.earth_east_km, b.earth_east_km, km) << what;
    EXPECT_NEAR(a.map_north_km, b.map_north_km, km) << what;
    EXPECT_NEAR(a.pixels_y, b.pixels_y, 1e-6) << what;
}

TEST(RegionPinningTest, AzimuthalRegionAroundItsCentre) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 8.0);
    map_region r = around(50.0, 8.0, 240.0, 160.0);
    ASSERT_EQ(mpj_pin_region_int(&proj, &r, kCentreAndDistances), MPJ_OK);
    // The centre maps to within 0.1 m of the origin (the arc cosine of short ranges).
    EXPECT_NEAR(r.corner0_map[0], -240.0, 1e-3);
    EXPECT_NEAR(r.corner0_map[1], -160.0, 1e-3);
    EXPECT_NEAR(r.corner2_map[0], 240.0, 1e-3);
    EXPECT_NEAR(r.corner2_map[1], 160.0, 1e-3);
    EXPECT_NEAR(r.pixels_y, 400.0 * 160.0 / 240.0, 1e-3);
    EXPECT_DOUBLE_EQ(mpj_get_earth_scale_e(&r), 2 * 240.0 / 400.0);
}

// Every sufficient set of facts taken from a complete region gives that region back.
TEST(RegionPinningTest, EachSufficientSetOfFactsGivesTheSameRegion) {
    const struct {
        const char *name;
        unsigned flags;
    } sets[] = {
        {"corner earths", MPJ_CORNER0_EARTH | MPJ_CORNER2_EARTH},
        {"corner maps", MPJ_CORNER0_MAP | MPJ_CORNER2_MAP},
        {"centre and corner 2 maps", MPJ_CENTRE_MAP | MPJ_CORNER2_MAP},
        {"centre earth, corner 0 map", MPJ_CENTRE_EARTH | MPJ_CORNER0_MAP},
        {"centre and edge point maps", MPJ_CENTRE_MAP | MPJ_EAST_MAP | MPJ_NORTH_MAP},
        {"corner 0 map, map distances", MPJ_CORNER0_MAP | MPJ_MAP_EAST_DIST | MPJ_MAP_NORTH_DIST},
        {"centre earth, map distances", MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST | MPJ_MAP_NORTH_DIST},
        {"centre map, earth distances", MPJ_CENTRE_MAP | kCentreAndDistances},
    };
    for (const map_proj &proj : {projection(LAMBERT, 50.0, 10.0, 40.0, 60.0),
                                 projection(EDC, 45.0, 0.0), projection(GNOMONIC, 60.0, 20.0)}) {
        map_region full = around(proj.reference.latitude / kDeg + 1.5,
                                 proj.reference.longitude / kDeg - 2.0, 300.0, 200.0);
        ASSERT_EQ(mpj_pin_region_int(&proj, &full, kCentreAndDistances), MPJ_OK);
        for (const auto &set : sets) {
            // Unknown fields hold rubbish that must not leak into the result.
            map_region r;
            std::memset(&r, 0x5a, sizeof r);
            r.pixels_x = full.pixels_x;
            if (set.flags & MPJ_CORNER0_EARTH)
                r.corner0 = full.corner0;
            if (set.flags & MPJ_CENTRE_EARTH)
                r.centre = full.centre;
            if (set.flags & MPJ_CORNER2_EARTH)
                r.corner2 = full.corner2;
            if (set.flags & MPJ_MAP_NORTH_DIST)
                r.map_north_km = full.map_north_km;
            if (set.flags & MPJ_MAP_EAST_DIST)
                r.map_east_km = full.map_east_km;
            if (set.flags & MPJ_EARTH_NORTH_DIST)
                r.earth_north_km = full.earth_north_km;
            if (set.flags & MPJ_EARTH_EAST_DIST)
                r.earth_east_km = full.earth_east_km;
            const struct {
                unsigned bit;
                double *to;
                const double *from;
            } points[] = {{MPJ_CORNER0_MAP, r.corner0_map, full.corner0_map},
                          {MPJ_CENTRE_MAP, r.centre_map, full.centre_map},
                          {MPJ_CORNER2_MAP, r.corner2_map, full.corner2_map},
                          {MPJ_EAST_MAP, r.east_map, full.east_map},
                          {MPJ_NORTH_MAP, r.north_map, full.north_map}};
            for (const auto &p : points) {
                if (set.flags & p.bit)
                    std::memcpy(p.to, p.from, 2 * sizeof(double));
            }
            const std::string what = std::string(set.name) + ", code " + std::to_string(proj.type);
            ASSERT_EQ(mpj_pin_region_int(&proj, &r, static_cast<int>(set.flags)), MPJ_OK) << what;
            expect_same_region(r, full, 1e-6, what);
        }
    }
}

TEST(RegionPinningTest, StatusCodes) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 8.0);
    map_region r = around(50.0, 8.0, 100.0, 100.0);
    EXPECT_EQ(mpj_pin_region_int(&proj, &r, MPJ_CENTRE_EARTH), MPJ_INCOMPLETE);

    // Each known input out of its range, NaN included, is a bad argument.
    void (*spoilers[])(map_region &) = {
        [](map_region &x) { x.centre.latitude = NAN; },
        [](map_region &x) { x.centre.longitude = 7.0; },
        [](map_region &x) { x.centre.flags = EARTH_POS_OFF_EARTH; },
        [](map_region &x) { x.earth_north_km = NAN; },
        [](map_region &x) { x.earth_east_km = 20016.0; },
    };
    for (auto spoil : spoilers) {
        map_region bad = around(50.0, 8.0, 100.0, 100.0);
        spoil(bad);
        EXPECT_EQ(mpj_pin_region_xy(&proj, &bad, kCentreAndDistances), MPJ_BAD_ARGUMENTS);
    }

    map_proj unknown = proj;
    unknown.type = 9;
    EXPECT_EQ(mpj_pin_region_x(&unknown, &r, kCentreAndDistances), MPJ_BAD_PROJECTION);
    EXPECT_EQ(mpj_rescale_region(&unknown, &r, MPJ_CENTRE_EARTH, 1.0), MPJ_BAD_PROJECTION);
    EXPECT_EQ(mpj_rescale_region(&proj, &r, 0x08, 1.0), MPJ_NO_ANCHOR);

    r.corner0_map[0] = r.corner2_map[0] = 5.0;  // corners on one vertical line of the map
    r.corner0_map[1] = -5.0;
    r.corner2_map[1] = 5.0;
    EXPECT_EQ(mpj_pin_region_int(&proj, &r, MPJ_CORNER0_MAP | MPJ_CORNER2_MAP), MPJ_ZERO_WIDTH);
    EXPECT_EQ(mpj_earth_to_pixel(&proj, &r, &r.centre, r.east_map, nullptr), MPJ_ZERO_WIDTH);
    r.pixels_x = 0.0;
    EXPECT_EQ(mpj_pixel_to_earth(&proj, &r, r.east_map, &r.north_point), MPJ_ZERO_PIXELS);
    EXPECT_EQ(mpj_get_earth_scale_e(&r), 0.0);
}

TEST(RegionPinningTest, RegionsThatDoNotSuitTheirProjection) {
    const map_proj utm = projection(UTM, 0.0, 0.0);
    map_region r = around(10.0, 35.0, 100.0, 100.0);
    EXPECT_EQ(mpj_pin_region_x(&utm, &r, kCentreAndDistances), MPJ_OK);
    r = around(10.0, 37.0, 100.0, 100.0);  // beyond 36 degrees from the central meridian
    EXPECT_EQ(mpj_pin_region_x(&utm, &r, kCentreAndDistances), MPJ_BAD_REGION);

    // Lambert parallels lie on the reference's side of the equator, within 0.1..89.9 degrees.
    r = around(50.0, 10.0, 100.0, 100.0);
    map_proj cone = projection(LAMBERT, 50.0, 10.0, 40.0, 60.0);
    ASSERT_EQ(mpj_pin_region_x(&cone, &r, kCentreAndDistances), MPJ_OK);
    for (double bad : {-60.0, 89.95, 0.05, double(NAN)}) {
        cone.std_parallel2 = bad * kDeg;
        EXPECT_EQ(mpj_validate_region(&cone, &r), MPJ_BAD_REGION) << bad;
    }
}

TEST(RegionPinningTest, SouthernLambertAndAntimeridianRegions) {
    const map_proj south = projection(LAMBERT, -35.0, 150.0, -30.0, -40.0);
    map_region r = around(-34.0, 151.0, 250.0, 150.0);
    ASSERT_EQ(mpj_pin_region_x(&south, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_LT(r.corner0.latitude, r.centre.latitude);
    EXPECT_LT(r.corner0.longitude, r.centre.longitude);
    polar_pos polar;
    PolarFromEarth(&r.centre, &r.east_point, &polar);
    EXPECT_NEAR(polar.range, 250.0, 1e-6);
    EXPECT_NEAR(polar.azimuth, M_PI / 2, 0.05);

    const map_proj dateline = projection(LAMBERT, 60.0, 179.0, 50.0, 70.0);
    r = around(60.0, 179.5, 300.0, 300.0);
    ASSERT_EQ(mpj_pin_region_x(&dateline, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_GT(r.corner0.longitude, 170.0 * kDeg);
    EXPECT_LT(r.corner2.longitude, -170.0 * kDeg);
}

TEST(RegionPinningTest, EarthSideFactsAndCallersPixelCounts) {
    const map_proj proj = projection(EDC, 45.0, 0.0);
    map_region clean = around(45.0, 5.0, 200.0, 200.0, 300.0);
    ASSERT_EQ(mpj_pin_region_x(&proj, &clean, kCentreAndDistances), MPJ_OK);

    // Map points offered to the earth-side solver are ignored.
    map_region r = around(45.0, 5.0, 200.0, 200.0, 300.0);
    r.corner0_map[0] = r.north_map[1] = 1e4;
    const int map_bits = MPJ_CORNER0_MAP | MPJ_NORTH_MAP | 0x8;
    ASSERT_EQ(mpj_pin_region_x(&proj, &r, kCentreAndDistances | map_bits), MPJ_OK);
    expect_same_region(r, clean, 1e-9, "map bits ignored");

    // The caller's 300 x 150 pixels survive: the north extent follows the pixel ratio.
    r = around(45.0, 5.0, 200.0, 200.0, 300.0);
    r.pixels_y = 150.0;
    ASSERT_EQ(mpj_pin_region_xy(&proj, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_NEAR(r.pixels_y, 150.0, 1e-9);
    EXPECT_NEAR(r.map_north_km, r.map_east_km / 2.0, 1e-9);
    EXPECT_NEAR(r.centre_map[1], clean.centre_map[1], 1e-9);
}

TEST(RegionPinningTest, RescalingAroundEachAnchor) {
    const map_proj proj = projection(AZIMUTHAL, 40.0, -100.0);
    map_region base = around(40.0, -100.0, 100.0, 100.0, 200.0);
    ASSERT_EQ(mpj_pin_region_x(&proj, &base, kCentreAndDistances), MPJ_OK);
    const struct {
        int flags;
        double ratio;
        double (map_region::*anchor)[2];  // stays put
    } cases[] = {
        {MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST, 0.5, &map_region::centre_map},
        {MPJ_CORNER0_EARTH | MPJ_MAP_NORTH_DIST, 0.25, &map_region::corner0_map},
        {MPJ_CORNER2_EARTH | MPJ_MAP_EAST_DIST, 2.0, &map_region::corner2_map},
    };
    for (const auto &k : cases) {
        map_region r = base;
        ASSERT_EQ(mpj_rescale_region(&proj, &r, k.flags, k.ratio), MPJ_OK) << k.flags;
        const double height = r.corner2_map[1] - r.corner0_map[1];
        EXPECT_NEAR(height / (r.corner2_map[0] - r.corner0_map[0]), k.ratio, 1e-12) << k.flags;
        EXPECT_NEAR(r.pixels_y, 200.0 * k.ratio, 1e-9);
        EXPECT_NEAR((r.*k.anchor)[0], (base.*k.anchor)[0], 1e-12);
        EXPECT_NEAR((r.*k.anchor)[1], (base.*k.anchor)[1], 1e-12);
    }
    map_region r = base;  // an anchor alone cannot make a region
    EXPECT_EQ(mpj_rescale_region(&proj, &r, MPJ_CENTRE_EARTH, 2.0), MPJ_INCOMPLETE);
    EXPECT_EQ(mpj_rescale_region(&proj, &r, MPJ_CENTRE_EARTH | 0x20, INFINITY), MPJ_BAD_ARGUMENTS);
}

}  // namespace
