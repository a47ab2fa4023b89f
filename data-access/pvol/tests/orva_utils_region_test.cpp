// Product regions: completion from partial knowledge, checks, rescaling and pixels.
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "orva_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

map_proj projection(int type, double lat_deg, double lon_deg, double radius_km = 6371.0) {
    map_proj proj{};
    proj.type = static_cast<uint8_t>(type);
    proj.reference = earth_pos{lat_deg * kDeg, lon_deg * kDeg, 0};
    proj.earth_radius = radius_km;
    return proj;
}

map_proj lambert(double lat_deg, double lon_deg, double par1_deg, double par2_deg) {
    map_proj proj = projection(LAMBERT, lat_deg, lon_deg, 6378.137);
    proj.inverse_flattening = 298.257223563;
    proj.std_parallel1 = par1_deg * kDeg;
    proj.std_parallel2 = par2_deg * kDeg;
    return proj;
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

constexpr int kCentreAndDistances = MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST;

void expect_same_point(const double a[2], const double b[2], double tol, const std::string &what) {
    EXPECT_NEAR(a[0], b[0], tol) << what;
    EXPECT_NEAR(a[1], b[1], tol) << what;
}

void expect_same_region(const map_region &a, const map_region &b, double km,
                        const std::string &what) {
    expect_same_point(a.corner0_map, b.corner0_map, km, what + " corner 0");
    expect_same_point(a.centre_map, b.centre_map, km, what + " centre");
    expect_same_point(a.corner2_map, b.corner2_map, km, what + " corner 2");
    expect_same_point(a.east_map, b.east_map, km, what + " east point");
    expect_same_point(a.north_map, b.north_map, km, what + " north point");
    const double rad = km / 6371.0;
    EXPECT_NEAR(a.corner0.latitude, b.corner0.latitude, rad) << what;
    EXPECT_NEAR(a.corner2.longitude, b.corner2.longitude, rad) << what;
    EXPECT_NEAR(a.north_point.latitude, b.north_point.latitude, rad) << what;
    EXPECT_NEAR(a.earth_east_km, b.earth_east_km, km) << what;
    EXPECT_NEAR(a.earth_north_km, b.earth_north_km, km) << what;
    EXPECT_NEAR(a.map_east_km, b.map_east_km, km) << what;
    EXPECT_NEAR(a.map_north_km, b.map_north_km, km) << what;
    EXPECT_NEAR(a.pixels_y, b.pixels_y, 1e-6) << what;
}

TEST(RegionPinning, AzimuthalRegionAroundItsCentre) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 8.0);
    map_region r = around(50.0, 8.0, 240.0, 160.0);
    ASSERT_EQ(mpj_pin_region_int(&proj, &r, kCentreAndDistances), MPJ_OK);
    // The centre itself maps to within 0.1 m of the origin (the arc cosine of short ranges).
    const double lower_left[2] = {-240.0, -160.0};
    const double upper_right[2] = {240.0, 160.0};
    expect_same_point(r.corner0_map, lower_left, 1e-3, "corner 0");
    expect_same_point(r.corner2_map, upper_right, 1e-3, "corner 2");
    EXPECT_NEAR(r.pixels_y, 400.0 * 160.0 / 240.0, 1e-3);
    EXPECT_NEAR(r.map_east_km, 240.0, 1e-3);
    EXPECT_NEAR(r.map_north_km, 160.0, 1e-3);
    EXPECT_NEAR(mpj_get_earth_scale_e(&r), 2 * 240.0 / 400.0, 1e-12);
    EXPECT_NEAR(mpj_get_earth_scale_n(&r), 2 * 160.0 / r.pixels_y, 1e-12);
}

// Every sufficient set of facts taken from a complete region gives that region back.
TEST(RegionPinning, EachSufficientSetOfFactsGivesTheSameRegion) {
    for (const map_proj &proj : {lambert(50.0, 10.0, 40.0, 60.0), projection(EDC, 45.0, 0.0),
                                 projection(GNOMONIC, 60.0, 20.0)}) {
        const double lat = proj.reference.latitude / kDeg + 1.5;
        const double lon = proj.reference.longitude / kDeg - 2.0;
        map_region full = around(lat, lon, 300.0, 200.0);
        ASSERT_EQ(mpj_pin_region_int(&proj, &full, kCentreAndDistances), MPJ_OK);

        const struct {
            const char *name;
            unsigned flags;
        } sets[] = {
            {"corner earths", MPJ_CORNER0_EARTH | MPJ_CORNER2_EARTH},
            {"corner maps", MPJ_CORNER0_MAP | MPJ_CORNER2_MAP},
            {"centre and corner 2 maps", MPJ_CENTRE_MAP | MPJ_CORNER2_MAP},
            {"centre earth and corner 0 map", MPJ_CENTRE_EARTH | MPJ_CORNER0_MAP},
            {"edge point maps and centre map", MPJ_CENTRE_MAP | MPJ_EAST_MAP | MPJ_NORTH_MAP},
            {"corner 0 map and map distances",
             MPJ_CORNER0_MAP | MPJ_MAP_EAST_DIST | MPJ_MAP_NORTH_DIST},
            {"centre earth and map distances",
             MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST | MPJ_MAP_NORTH_DIST},
            {"centre map and earth distances",
             MPJ_CENTRE_MAP | MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST},
        };
        for (const auto &set : sets) {
            map_region r = full;
            // Unknown fields hold rubbish that must not leak into the result.
            map_region rubbish;
            std::memset(&rubbish, 0x5a, sizeof rubbish);
            if (!(set.flags & MPJ_CORNER0_EARTH))
                r.corner0 = rubbish.corner0;
            if (!(set.flags & MPJ_CORNER2_EARTH))
                r.corner2 = rubbish.corner2;
            if (!(set.flags & MPJ_CENTRE_EARTH))
                r.centre = rubbish.centre;
            if (!(set.flags & MPJ_CORNER0_MAP))
                r.corner0_map[0] = rubbish.corner0_map[0];
            if (!(set.flags & MPJ_CENTRE_MAP))
                r.centre_map[1] = rubbish.centre_map[1];
            if (!(set.flags & MPJ_CORNER2_MAP))
                r.corner2_map[0] = rubbish.corner2_map[0];
            if (!(set.flags & MPJ_EAST_MAP))
                r.east_map[0] = rubbish.east_map[0];
            if (!(set.flags & MPJ_NORTH_MAP))
                r.north_map[1] = rubbish.north_map[1];
            if (!(set.flags & MPJ_MAP_EAST_DIST))
                r.map_east_km = rubbish.map_east_km;
            if (!(set.flags & MPJ_EARTH_NORTH_DIST))
                r.earth_north_km = rubbish.earth_north_km;
            const std::string what =
                std::string(set.name) + " of projection " + std::to_string(proj.type);
            ASSERT_EQ(mpj_pin_region_int(&proj, &r, static_cast<int>(set.flags)), MPJ_OK) << what;
            expect_same_region(r, full, 1e-6, what);
        }
    }
}

TEST(RegionPinning, StatusCodes) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 8.0);

    map_region r = around(50.0, 8.0, 100.0, 100.0);
    EXPECT_EQ(mpj_pin_region_int(&proj, &r, MPJ_CENTRE_EARTH), MPJ_INCOMPLETE);
    r.corner0 = r.centre;
    EXPECT_EQ(mpj_pin_region_int(&proj, &r, MPJ_CORNER0_EARTH), MPJ_INCOMPLETE);

    // Bad arguments: each known input out of its range, NaN included.
    struct {
        const char *name;
        void (*spoil)(map_region &);
    } spoilers[] = {
        {"NaN centre", [](map_region &x) { x.centre.latitude = NAN; }},
        {"NaN longitude", [](map_region &x) { x.centre.longitude = NAN; }},
        {"longitude beyond two turns", [](map_region &x) { x.centre.longitude = 7.0; }},
        {"centre off the earth", [](map_region &x) { x.centre.flags = EARTH_POS_OFF_EARTH; }},
        {"zero distance", [](map_region &x) { x.earth_east_km = 0.0; }},
        {"NaN distance", [](map_region &x) { x.earth_north_km = NAN; }},
        {"distance beyond half the earth", [](map_region &x) { x.earth_east_km = 20016.0; }},
    };
    for (const auto &s : spoilers) {
        map_region bad = around(50.0, 8.0, 100.0, 100.0);
        s.spoil(bad);
        EXPECT_EQ(mpj_validate_arguments(&bad, kCentreAndDistances), MPJ_BAD_ARGUMENTS) << s.name;
        EXPECT_EQ(mpj_pin_region_xy(&proj, &bad, kCentreAndDistances), MPJ_BAD_ARGUMENTS) << s.name;
    }
    map_region edge = around(50.0, 8.0, 20015.0, 0.001);
    EXPECT_EQ(mpj_validate_arguments(&edge, kCentreAndDistances), MPJ_OK);

    map_proj unknown = proj;
    unknown.type = 9;
    r = around(50.0, 8.0, 100.0, 100.0);
    EXPECT_EQ(mpj_pin_region_x(&unknown, &r, kCentreAndDistances), MPJ_BAD_PROJECTION);
    EXPECT_EQ(mpj_rescale_region(&unknown, &r, MPJ_CENTRE_EARTH, 1.0), MPJ_BAD_PROJECTION);

    // Corners on one meridian of the map.
    r = around(50.0, 8.0, 100.0, 100.0);
    r.corner0_map[0] = r.corner2_map[0] = 5.0;
    r.corner0_map[1] = -5.0;
    r.corner2_map[1] = 5.0;
    EXPECT_EQ(mpj_pin_region_int(&proj, &r, MPJ_CORNER0_MAP | MPJ_CORNER2_MAP), MPJ_ZERO_WIDTH);

    EXPECT_EQ(mpj_rescale_region(&proj, &r, 0x08, 1.0), MPJ_NO_ANCHOR);

    r.pixels_x = 0.0;
    const double pixel[2] = {1.0, 1.0};
    earth_pos pos;
    EXPECT_EQ(mpj_pixel_to_earth(&proj, &r, pixel, &pos), MPJ_ZERO_PIXELS);
    EXPECT_EQ(mpj_get_earth_scale_e(&r), 0.0);
    r.pixels_y = 0.5;
    EXPECT_EQ(mpj_get_earth_scale_n(&r), 0.0);
}

TEST(RegionPinning, RegionsThatDoNotSuitTheirProjection) {
    const map_proj utm = projection(UTM, 0.0, 0.0, 6378.137);
    map_region r = around(10.0, 35.0, 100.0, 100.0);
    EXPECT_EQ(mpj_pin_region_x(&utm, &r, kCentreAndDistances), MPJ_OK);
    r = around(10.0, 37.0, 100.0, 100.0);  // beyond 36 degrees from the central meridian
    EXPECT_EQ(mpj_pin_region_x(&utm, &r, kCentreAndDistances), MPJ_BAD_REGION);

    // A Mercator region needs its corners in map order.
    const map_proj mercator = projection(MERCATOR, 45.0, 0.0);
    r = around(45.0, 0.0, 100.0, 100.0);
    ASSERT_EQ(mpj_pin_region_x(&mercator, &r, kCentreAndDistances), MPJ_OK);
    std::swap(r.corner0_map, r.corner2_map);
    EXPECT_EQ(mpj_validate_region(&mercator, &r), MPJ_BAD_REGION);

    const map_proj gnomonic = projection(GNOMONIC, 0.0, 0.0);
    r = around(0.0, 80.0, 100.0, 100.0);
    ASSERT_EQ(mpj_pin_region_x(&gnomonic, &r, kCentreAndDistances), MPJ_OK);
    r.centre.longitude = 91.0 * kDeg;  // more than a quarter circumference away
    EXPECT_EQ(mpj_validate_region(&gnomonic, &r), MPJ_BAD_REGION);

    // Lambert parallels must lie on the reference's side of the equator, within 0.1..89.9 deg.
    r = around(50.0, 10.0, 100.0, 100.0);
    map_proj cone = lambert(50.0, 10.0, 40.0, 60.0);
    ASSERT_EQ(mpj_pin_region_x(&cone, &r, kCentreAndDistances), MPJ_OK);
    cone.std_parallel2 = -60.0 * kDeg;
    EXPECT_EQ(mpj_validate_region(&cone, &r), MPJ_BAD_REGION);
    cone.std_parallel2 = 89.95 * kDeg;
    EXPECT_EQ(mpj_validate_region(&cone, &r), MPJ_BAD_REGION);
    cone.std_parallel2 = 0.05 * kDeg;
    EXPECT_EQ(mpj_validate_region(&cone, &r), MPJ_BAD_REGION);
    cone.std_parallel2 = NAN;
    EXPECT_EQ(mpj_validate_region(&cone, &r), MPJ_BAD_REGION);
}

TEST(RegionPinning, SouthernLambertAndAntimeridianRegions) {
    // A cone opening southwards, and a region straddling 180 degrees.
    const map_proj south = lambert(-35.0, 150.0, -30.0, -40.0);
    map_region r = around(-34.0, 151.0, 250.0, 150.0);
    ASSERT_EQ(mpj_pin_region_x(&south, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_NEAR(r.centre.longitude, 151.0 * kDeg, 1e-9);
    EXPECT_LT(r.corner0.latitude, r.centre.latitude);
    EXPECT_LT(r.corner0.longitude, r.centre.longitude);
    polar_pos polar;
    PolarFromEarth(&r.centre, &r.east_point, &polar);
    EXPECT_NEAR(polar.range, 250.0, 1e-6);
    EXPECT_NEAR(polar.azimuth, M_PI / 2, 0.05);

    const map_proj dateline = lambert(60.0, 179.0, 50.0, 70.0);
    r = around(60.0, 179.5, 300.0, 300.0);
    ASSERT_EQ(mpj_pin_region_x(&dateline, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_GT(r.corner0.longitude, 170.0 * kDeg);
    EXPECT_LT(r.corner2.longitude, -170.0 * kDeg);  // across the antimeridian
    PolarFromEarth(&r.centre, &r.north_point, &polar);
    EXPECT_NEAR(polar.range, 300.0, 1e-6);
}

TEST(RegionPinning, EarthSideOnlyAndKeepingPixelCounts) {
    const map_proj proj = projection(EDC, 45.0, 0.0);
    map_region clean = around(45.0, 5.0, 200.0, 200.0, 300.0);
    ASSERT_EQ(mpj_pin_region_x(&proj, &clean, kCentreAndDistances), MPJ_OK);

    // Map points offered to the earth-side solver are ignored.
    map_region r = around(45.0, 5.0, 200.0, 200.0, 300.0);
    r.corner0_map[0] = r.corner0_map[1] = 1e4;
    r.north_map[0] = -1e4;
    ASSERT_EQ(
        mpj_pin_region_x(&proj, &r, kCentreAndDistances | MPJ_CORNER0_MAP | MPJ_NORTH_MAP | 0x8),
        MPJ_OK);
    expect_same_region(r, clean, 1e-9, "map bits ignored");

    // The caller's 300 x 150 pixels survive: the north extent follows the pixel ratio.
    r = around(45.0, 5.0, 200.0, 200.0, 300.0);
    r.pixels_y = 150.0;
    ASSERT_EQ(mpj_pin_region_xy(&proj, &r, kCentreAndDistances), MPJ_OK);
    EXPECT_NEAR(r.pixels_y, 150.0, 1e-9);
    EXPECT_NEAR(r.pixels_x, 300.0, 1e-9);
    EXPECT_NEAR(r.map_north_km, r.map_east_km / 2.0, 1e-9);
    expect_same_point(r.centre_map, clean.centre_map, 1e-9, "centre kept");
}

TEST(RegionPinning, RescalingAroundEachAnchor) {
    const map_proj proj = projection(AZIMUTHAL, 40.0, -100.0);
    map_region base = around(40.0, -100.0, 100.0, 100.0, 200.0);
    ASSERT_EQ(mpj_pin_region_x(&proj, &base, kCentreAndDistances), MPJ_OK);

    auto height_over_width = [](const map_region &r) {
        return (r.corner2_map[1] - r.corner0_map[1]) / (r.corner2_map[0] - r.corner0_map[0]);
    };

    map_region r = base;  // centre fixed, corner 2 moves vertically
    ASSERT_EQ(mpj_rescale_region(&proj, &r, MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST, 0.5), MPJ_OK);
    EXPECT_NEAR(height_over_width(r), 0.5, 1e-12);
    expect_same_point(r.centre_map, base.centre_map, 1e-12, "centre anchor");
    EXPECT_NEAR(r.pixels_y, 100.0, 1e-9);

    r = base;  // corner 0 fixed, corner 2 moves horizontally
    ASSERT_EQ(mpj_rescale_region(&proj, &r, MPJ_CORNER0_EARTH | MPJ_MAP_NORTH_DIST, 0.25), MPJ_OK);
    EXPECT_NEAR(height_over_width(r), 0.25, 1e-12);
    expect_same_point(r.corner0_map, base.corner0_map, 1e-12, "corner 0 anchor");
    EXPECT_NEAR(r.corner2_map[1], base.corner2_map[1], 1e-12);

    r = base;  // corner 2 fixed, corner 0 moves vertically
    ASSERT_EQ(mpj_rescale_region(&proj, &r, MPJ_CORNER2_EARTH | MPJ_MAP_EAST_DIST, 2.0), MPJ_OK);
    EXPECT_NEAR(height_over_width(r), 2.0, 1e-12);
    expect_same_point(r.corner2_map, base.corner2_map, 1e-12, "corner 2 anchor");

    r = base;  // an anchor alone cannot make a region
    EXPECT_EQ(mpj_rescale_region(&proj, &r, MPJ_CENTRE_EARTH, 2.0), MPJ_INCOMPLETE);
    r = base;
    EXPECT_EQ(mpj_rescale_region(&proj, &r, MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST, INFINITY),
              MPJ_BAD_ARGUMENTS);
}

TEST(RegionPixels, PixelsCountFromCornerZeroNorthwards) {
    const map_proj proj = lambert(47.0, 9.0, 45.0, 49.0);
    map_region r = around(47.0, 9.0, 150.0, 100.0, 300.0);
    ASSERT_EQ(mpj_pin_region_x(&proj, &r, kCentreAndDistances), MPJ_OK);

    earth_pos pos;
    const double origin[2] = {0.0, 0.0};
    ASSERT_EQ(mpj_pixel_to_earth(&proj, &r, origin, &pos), MPJ_OK);
    EXPECT_NEAR(pos.latitude, r.corner0.latitude, 1e-9);
    EXPECT_NEAR(pos.longitude, r.corner0.longitude, 1e-9);
    const double far_corner[2] = {r.pixels_x, r.pixels_y};
    ASSERT_EQ(mpj_pixel_to_earth(&proj, &r, far_corner, &pos), MPJ_OK);
    EXPECT_NEAR(pos.latitude, r.corner2.latitude, 1e-9);
    EXPECT_NEAR(pos.longitude, r.corner2.longitude, 1e-9);

    double pixel[2];
    char visible = 0;
    ASSERT_EQ(mpj_earth_to_pixel(&proj, &r, &r.centre, pixel, &visible), MPJ_OK);
    EXPECT_EQ(visible, 1);
    EXPECT_NEAR(pixel[0], r.pixels_x / 2, 1e-6);
    EXPECT_NEAR(pixel[1], r.pixels_y / 2, 1e-6);

    r.corner2_map[0] = r.corner0_map[0];
    EXPECT_EQ(mpj_earth_to_pixel(&proj, &r, &r.centre, pixel, &visible), MPJ_ZERO_WIDTH);
}

}  // namespace
