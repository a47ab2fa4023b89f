// Geodesy and map projections: edge cases beyond the comparison with PROJ.
#include <cmath>
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pvol/orva_utils.h"
#include "orva_utils_internal.h"

namespace {

using testing::ElementsAre;
constexpr double kDeg = M_PI / 180.0;

map_proj projection(int type, double lat_deg, double lon_deg) {
    map_proj proj{};
    proj.type = static_cast<uint8_t>(type);
    proj.reference = earth_pos{lat_deg * kDeg, lon_deg * kDeg, 0};
    proj.earth_radius = 6371.0;
    return proj;
}

TEST(GeodesyTest, EllipsoidTableAndEarthFigure) {
    EXPECT_EQ(iGetEllipseByName("WGS84"), 4);
    EXPECT_EQ(iGetEllipseByName("wgs84"), -1);
    char name[8];
    double inv = -1.0;
    EXPECT_EQ(fGetEllipseByIndex(name, &inv, 7), 6371.0);
    EXPECT_STREQ(name, "sphere");
    EXPECT_EQ(inv, 0.0);

    double a, b, e;
    map_proj proj{};  // radius 0: WGS84
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_EQ(a, 6378137.0);
    EXPECT_NEAR(b, 6356752.314245, 1e-6);
    EXPECT_NEAR(e, 0.0818191908426, 1e-12);
    proj.earth_radius = 6371.0;
    proj.inverse_flattening = 450.0;  // outside 200..400: a sphere of the given radius
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_EQ(b, 6371000.0);
    EXPECT_EQ(e, 0.0);
    EXPECT_DOUBLE_EQ(fNormalizeAngle(3.5 * M_PI), 1.5 * M_PI);  // one wrap only
    // Quarter meridian of WGS84.
    EXPECT_NEAR(fTransverseMercatorM(6378137.0, 0.00669437999014, M_PI / 2), 10001965.729, 1e-3);
}

TEST(GeodesyTest, PolarConversionAtTheEdges) {
    const earth_pos origin{0.0, 0.0, 0};
    const earth_pos east{0.0, 1.0 * kDeg, 0};
    polar_pos polar;
    PolarFromEarth(&origin, &east, &polar);
    EXPECT_NEAR(polar.range, 111.19492664455873, 1e-9);
    EXPECT_NEAR(polar.azimuth, M_PI / 2, 1e-12);

    // Zero range returns the origin itself, flags included.
    const earth_pos flagged{0.5, 0.25, EARTH_POS_OFF_EARTH};
    earth_pos result;
    const polar_pos here{0.0, 1.0};
    EarthFromPolar(&flagged, &here, &result);
    EXPECT_EQ(std::memcmp(&result, &flagged, sizeof result), 0);

    // A negative range looks the opposite way.
    const earth_pos centre{45.0 * kDeg, 10.0 * kDeg, 0};
    const polar_pos backwards{-250.0, 30.0 * kDeg}, reverse{250.0, 210.0 * kDeg};
    earth_pos behind, ahead;
    EarthFromPolar(&centre, &backwards, &behind);
    EarthFromPolar(&centre, &reverse, &ahead);
    EXPECT_NEAR(behind.latitude, ahead.latitude, 1e-12);
    EXPECT_NEAR(behind.longitude, ahead.longitude, 1e-12);
}

TEST(ProjectionsTest, UnknownCodeIsRejectedBeforeAnyWork) {
    map_proj proj = projection(9, 0.0, 0.0);
    EXPECT_EQ(mpj_validate_projection(&proj), MPJ_BAD_PROJECTION);
    const earth_pos pos{0.1, 0.1, 0};
    double xy[2] = {7.0, 8.0};
    unsigned char visible = 5;
    EXPECT_EQ(mpj_earth_to_map(&proj, &pos, xy, &visible), MPJ_BAD_PROJECTION);
    EXPECT_THAT(xy, ElementsAre(7.0, 8.0));
    EXPECT_EQ(visible, 5);
    earth_pos out{1.0, 1.0, 1};
    EXPECT_EQ(mpj_map_to_earth(&proj, xy, &out), MPJ_BAD_PROJECTION);
    EXPECT_EQ(out.latitude + out.longitude + out.flags, 0.0);  // cleared
}

TEST(ProjectionsTest, OriginsAndCylinderScale) {
    const map_proj azimuthal = projection(AZIMUTHAL, 47.0, 8.0);
    const double origin[2] = {0.0, 0.0};
    earth_pos pos;
    ASSERT_EQ(mpj_map_to_earth(&azimuthal, origin, &pos), MPJ_OK);
    EXPECT_EQ(pos.latitude, azimuthal.reference.latitude);
    EXPECT_EQ(pos.longitude, azimuthal.reference.longitude);

    // Mercator true at 89 degrees keeps a scale of 0.1 instead of cos 89.
    const map_proj mercator = projection(MERCATOR, 89.0, 8.0);
    const earth_pos east{0.0, 8.0 * kDeg + 0.5, 0};
    double xy[2];
    ASSERT_EQ(mpj_earth_to_map(&mercator, &east, xy, nullptr), MPJ_OK);
    EXPECT_NEAR(xy[0], 6371.0 * 0.1 * 0.5, 1e-9);
    EXPECT_NEAR(xy[1], 0.0, 1e-9);
}

TEST(ProjectionsTest, HiddenPointsAndPointsOffTheEarth) {
    const map_proj gnomonic = projection(GNOMONIC, 0.0, 0.0);
    const earth_pos far_side{0.0, 100.0 * kDeg, 0};
    double xy[2] = {1.0, 1.0};
    unsigned char visible = 1;
    ASSERT_EQ(mpj_earth_to_map(&gnomonic, &far_side, xy, &visible), MPJ_OK);
    EXPECT_THAT(xy, ElementsAre(0.0, 0.0));
    EXPECT_EQ(visible, 0);

    // Behind the perspective horizon (81.3 degrees): hidden, but still projected.
    const map_proj perspective = projection(PERSPECTIVE, 0.0, 0.0);
    const earth_pos beyond{0.0, 85.0 * kDeg, 0}, before{0.0, 80.0 * kDeg, 0};
    ASSERT_EQ(mpj_earth_to_map(&perspective, &beyond, xy, &visible), MPJ_OK);
    EXPECT_EQ(visible, 0);
    EXPECT_GT(xy[0], 5000.0);
    ASSERT_EQ(mpj_earth_to_map(&perspective, &before, xy, &visible), MPJ_OK);
    EXPECT_EQ(visible, 1);

    const double outside_disc[2] = {6400.0, 0.0};
    earth_pos pos;
    ASSERT_EQ(mpj_map_to_earth(&perspective, outside_disc, &pos), MPJ_OK);
    EXPECT_EQ(pos.flags, EARTH_POS_OFF_EARTH);
    EXPECT_EQ(pos.latitude + pos.longitude, 0.0);
    const map_proj edc = projection(EDC, 45.0, 0.0);
    const double above_pole[2] = {100.0, 10100.0};
    ASSERT_EQ(mpj_map_to_earth(&edc, above_pole, &pos), MPJ_OK);
    EXPECT_EQ(pos.flags, EARTH_POS_OFF_EARTH);
    EXPECT_EQ(pos.latitude, 0.0);
}

TEST(ProjectionsTest, LambertReportsAnUnsettledLatitude) {
    // An eccentricity far beyond any earth's makes the iteration contract too slowly.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(std::isfinite(pvol_internal::lambert_latitude(0.5, 0.9)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Lambert converge failed\n");
    testing::internal::CaptureStderr();
    pvol_internal::lambert_latitude(0.5, 0.0818191908426);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    map_proj proj = projection(LAMBERT, 50.0, 0.0);
    proj.std_parallel1 = 48.0 * kDeg;
    proj.std_parallel2 = 48.0 * kDeg + kDeg / 60.0;  // one arc-minute apart: tangent cone
    double n, f, rho0;
    LambertSupport(&proj, &n, &f, &rho0, 6378137.0, 0.0818191908426);
    EXPECT_DOUBLE_EQ(n, std::sin(48.0 * kDeg));
}

TEST(MapSearchTest, FindsTheRangeAlongEachAxis) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 5.0);
    const double start[2] = {0.0, 0.0};
    for (double range : {3.0, 800.0}) {  // below and above the first 10 km step
        double result[2] = {NAN, NAN};
        mpjSearchForMap(&proj, &proj.reference, start, result, MPJ_SOUTH, range);
        EXPECT_EQ(result[0], 0.0);
        EXPECT_NEAR(result[1], -range, 1e-6) << range;
    }
}

TEST(MapSearchTest, NonFiniteInputsEndWithoutAResult) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 5.0);
    const double start[2] = {0.0, 0.0}, lost[2] = {NAN, 0.0};
    const earth_pos nowhere{NAN, 0.0, 0};
    double result[2] = {-1.0, -2.0};
    mpjSearchForMap(&proj, &proj.reference, start, result, MPJ_EAST, NAN);
    mpjSearchForMap(&proj, &nowhere, start, result, MPJ_NORTH, 100.0);
    mpjSearchForMap(&proj, &proj.reference, lost, result, MPJ_NORTH, 100.0);
    EXPECT_THAT(result, ElementsAre(-1.0, -2.0));
}

}  // namespace
