// Geodesy and map projections: edge cases beyond the comparison with PROJ.
#include <cmath>
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orva_utils.h"
#include "orva_utils_internal.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

map_proj projection(int type, double lat_deg, double lon_deg) {
    map_proj proj{};
    proj.type = static_cast<uint8_t>(type);
    proj.reference = earth_pos{lat_deg * kDeg, lon_deg * kDeg, 0};
    proj.earth_radius = 6371.0;
    return proj;
}

TEST(Ellipsoids, LookupByNameAndIndex) {
    EXPECT_EQ(iGetEllipseByName("WGS84"), 4);
    EXPECT_EQ(iGetEllipseByName("wgs84"), -1);
    EXPECT_EQ(iGetEllipseByName("bessel"), 1);

    char name[8];
    double inverse_flattening = -1.0;
    EXPECT_EQ(fGetEllipseByIndex(name, &inverse_flattening, 7), 6371.0);
    EXPECT_STREQ(name, "sphere");
    EXPECT_EQ(inverse_flattening, 0.0);
    EXPECT_EQ(fGetEllipseByIndex(name, &inverse_flattening, 3), 6378.388);
    EXPECT_STREQ(name, "intl");
    EXPECT_EQ(inverse_flattening, 297.0);
}

TEST(Ellipsoids, GeodeInfoFallsBackToWgs84OrSphere) {
    double a, b, e, inv;
    map_proj proj{};
    proj.earth_radius = 0.0;  // outside 6300..6400: WGS84
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_EQ(a, 6378137.0);
    EXPECT_EQ(inv, 298.257223563);
    EXPECT_NEAR(b, 6356752.314245, 1e-6);
    EXPECT_NEAR(e, 0.0818191908426, 1e-12);

    proj.earth_radius = 6371.0;
    proj.inverse_flattening = 0.0;
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_EQ(a, 6371000.0);
    EXPECT_EQ(b, 6371000.0);
    EXPECT_EQ(e, 0.0);

    proj.inverse_flattening = 450.0;  // outside 200..400: a sphere of the given radius
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_EQ(inv, 0.0);
    EXPECT_EQ(e, 0.0);

    proj.earth_radius = 6377.397155;
    proj.inverse_flattening = 299.1528128;
    mpj_get_geode_info(&a, &b, &e, &inv, &proj);
    EXPECT_DOUBLE_EQ(a, 6377397.155);
    EXPECT_NEAR(b, 6356078.962818, 1e-6);
}

TEST(Geodesy, NormalizeAngleWrapsOnce) {
    EXPECT_DOUBLE_EQ(fNormalizeAngle(3.5 * M_PI), 1.5 * M_PI);
    EXPECT_DOUBLE_EQ(fNormalizeAngle(-1.5 * M_PI), 0.5 * M_PI);
    EXPECT_EQ(fNormalizeAngle(M_PI), M_PI);
    EXPECT_EQ(fNormalizeAngle(-0.25), -0.25);
}

TEST(Geodesy, TriangleWithDegenerateIncludedAngle) {
    sph_triangle t{};
    t.a = 0.3;
    t.b = 0.5;
    t.gamma = 0.0;  // both sides along one great circle
    TriangleSphereSas(&t);
    EXPECT_EQ(t.beta, M_PI);
    EXPECT_EQ(t.alpha, 0.0);
    EXPECT_NEAR(t.c, 0.2, 1e-12);

    t.b = 0.3;
    TriangleSphereSas(&t);
    EXPECT_EQ(t.alpha, M_PI / 2);
    EXPECT_EQ(t.c, 0.0);

    t.gamma = M_PI;  // sides on opposite sides of the vertex
    t.a = 2.0;
    t.b = 2.0;
    TriangleSphereSas(&t);
    EXPECT_EQ(t.alpha, M_PI);
    EXPECT_EQ(t.beta, M_PI);
    EXPECT_NEAR(t.c, 2 * M_PI - 4.0, 1e-12);

    // A right-angled triangle on the equator and a meridian: c from the cosine rule.
    t.a = M_PI / 2;
    t.b = M_PI / 2;
    t.gamma = 0.7;
    TriangleSphereSas(&t);
    EXPECT_NEAR(t.alpha, M_PI / 2, 1e-12);
    EXPECT_NEAR(t.beta, M_PI / 2, 1e-12);
    EXPECT_NEAR(t.c, 0.7, 1e-12);
}

TEST(Geodesy, PolarConversionAtTheEdges) {
    const earth_pos origin{0.0, 0.0, 0};
    const earth_pos east{0.0, 1.0 * kDeg, 0};
    polar_pos polar;
    PolarFromEarth(&origin, &east, &polar);
    EXPECT_NEAR(polar.range, 111.19492664455873, 1e-9);
    EXPECT_NEAR(polar.azimuth, M_PI / 2, 1e-12);

    const earth_pos west{0.0, -1.0 * kDeg, 0};
    PolarFromEarth(&origin, &west, &polar);
    EXPECT_NEAR(polar.azimuth, 1.5 * M_PI, 1e-12);

    // Zero range returns the origin itself, flags included.
    const earth_pos flagged{0.5, 0.25, EARTH_POS_OFF_EARTH};
    earth_pos result;
    const polar_pos here{0.0, 1.0};
    EarthFromPolar(&flagged, &here, &result);
    EXPECT_EQ(std::memcmp(&result, &flagged, sizeof result), 0);

    // A negative range looks the opposite way.
    const earth_pos centre{45.0 * kDeg, 10.0 * kDeg, 0};
    earth_pos ahead, behind;
    const polar_pos forward{-250.0, 30.0 * kDeg};
    const polar_pos reverse{250.0, 210.0 * kDeg};
    EarthFromPolar(&centre, &forward, &behind);
    EarthFromPolar(&centre, &reverse, &ahead);
    EXPECT_NEAR(behind.latitude, ahead.latitude, 1e-12);
    EXPECT_NEAR(behind.longitude, ahead.longitude, 1e-12);
    EXPECT_EQ(behind.flags, 0);

    // Eastwards across the antimeridian the longitude wraps to the west.
    const earth_pos dateline{10.0 * kDeg, 179.9 * kDeg, 0};
    const polar_pos east_50{50.0, M_PI / 2};
    EarthFromPolar(&dateline, &east_50, &result);
    EXPECT_LT(result.longitude, -179.0 * kDeg);
    PolarFromEarth(&dateline, &result, &polar);
    EXPECT_NEAR(polar.range, 50.0, 1e-9);
    EXPECT_NEAR(polar.azimuth, M_PI / 2, 1e-9);
}

TEST(Geodesy, MeridianArcAndLambertConstants) {
    const double e2 = 0.0818191908426 * 0.0818191908426;
    EXPECT_EQ(fTransverseMercatorM(6378137.0, e2, 0.0), 0.0);
    // Quarter meridian of WGS84.
    EXPECT_NEAR(fTransverseMercatorM(6378137.0, e2, M_PI / 2), 10001965.729, 0.001);

    map_proj proj = projection(LAMBERT, 50.0, 0.0);
    proj.std_parallel1 = 48.0 * kDeg;
    proj.std_parallel2 = 48.0 * kDeg + 1.0 / 60.0 * kDeg;  // one arc-minute apart: tangent cone
    double n, f, rho0;
    LambertSupport(&proj, &n, &f, &rho0, 6378137.0, 0.0818191908426);
    EXPECT_DOUBLE_EQ(n, std::sin(48.0 * kDeg));

    // On a sphere with a tangent cone, rho0 = R cot(phi1) tan^n(pi/4 - phi0/2) / tan^n(pi/4 -
    // phi1/2).
    proj.std_parallel2 = proj.std_parallel1;
    LambertSupport(&proj, &n, &f, &rho0, 1000.0, 0.0);
    const double p1 = 48.0 * kDeg, p0 = 50.0 * kDeg;
    EXPECT_NEAR(rho0,
                1000.0 / std::tan(p1) *
                    std::pow(std::tan(M_PI / 4 - p0 / 2) / std::tan(M_PI / 4 - p1 / 2), n),
                1e-9);
}

TEST(Projections, UnknownCodeIsRejectedBeforeAnyWork) {
    map_proj proj = projection(9, 0.0, 0.0);
    EXPECT_EQ(mpj_validate_projection(&proj), MPJ_BAD_PROJECTION);
    proj.type = LAMBERT;
    EXPECT_EQ(mpj_validate_projection(&proj), MPJ_OK);
    proj.type = 200;

    const earth_pos pos{0.1, 0.1, 0};
    double xy[2] = {7.0, 8.0};
    unsigned char visible = 5;
    EXPECT_EQ(mpj_earth_to_map(&proj, &pos, xy, &visible), MPJ_BAD_PROJECTION);
    EXPECT_EQ(xy[0], 7.0);
    EXPECT_EQ(xy[1], 8.0);
    EXPECT_EQ(visible, 5);

    earth_pos out{1.0, 1.0, 1};
    EXPECT_EQ(mpj_map_to_earth(&proj, xy, &out), MPJ_BAD_PROJECTION);
    EXPECT_EQ(out.latitude, 0.0);
    EXPECT_EQ(out.longitude, 0.0);
    EXPECT_EQ(out.flags, 0);
}

TEST(Projections, AzimuthalOriginAndAxis) {
    map_proj proj = projection(AZIMUTHAL, 47.0, 8.0);
    proj.reference.flags = 0;
    const double origin[2] = {0.0, 0.0};
    earth_pos pos;
    ASSERT_EQ(mpj_map_to_earth(&proj, origin, &pos), MPJ_OK);
    EXPECT_EQ(pos.latitude, proj.reference.latitude);
    EXPECT_EQ(pos.longitude, proj.reference.longitude);

    const double north[2] = {0.0, 100.0};
    ASSERT_EQ(mpj_map_to_earth(&proj, north, &pos), MPJ_OK);
    EXPECT_NEAR(pos.latitude, proj.reference.latitude + 100.0 / 6371.0, 1e-12);
    double xy[2];
    unsigned char visible = 0;
    ASSERT_EQ(mpj_earth_to_map(&proj, &pos, xy, &visible), MPJ_OK);
    EXPECT_EQ(visible, 1);
    EXPECT_NEAR(xy[0], 0.0, 1e-9);
    EXPECT_NEAR(xy[1], 100.0, 1e-9);

    proj.type = MERCATOR;
    proj.reference.latitude = 89.0 * kDeg;  // scale raised to 0.1
    const earth_pos east{0.0, proj.reference.longitude + 0.5, 0};
    ASSERT_EQ(mpj_earth_to_map(&proj, &east, xy, nullptr), MPJ_OK);
    EXPECT_NEAR(xy[0], 6371.0 * 0.1 * 0.5, 1e-9);
    EXPECT_NEAR(xy[1], 0.0, 1e-9);
}

TEST(Projections, TransverseMercatorCentralMeridianAndOrigin) {
    for (int type : {UTM, GAUSS}) {
        map_proj proj = projection(type, 40.0, 15.0);
        proj.earth_radius = 0.0;  // WGS84
        const double scale = type == UTM ? 0.9996 : 1.0;
        double a, b, e, inv;
        mpj_get_geode_info(&a, &b, &e, &inv, &proj);
        const earth_pos pos{43.0 * kDeg, 15.0 * kDeg, 0};
        double xy[2];
        ASSERT_EQ(mpj_earth_to_map(&proj, &pos, xy, nullptr), MPJ_OK);
        EXPECT_EQ(xy[0], 0.0);
        EXPECT_NEAR(xy[1],
                    scale *
                        (fTransverseMercatorM(a, e * e, pos.latitude) -
                         fTransverseMercatorM(a, e * e, proj.reference.latitude)) /
                        1000.0,
                    1e-9);

        proj.reference.latitude = 0.0;
        const earth_pos origin{0.0, 15.0 * kDeg, 0};
        ASSERT_EQ(mpj_earth_to_map(&proj, &origin, xy, nullptr), MPJ_OK);
        EXPECT_EQ(xy[0], 0.0);
        EXPECT_EQ(xy[1], 0.0);
    }
}

TEST(Projections, HiddenPointsOfPerspectiveAndGnomonicViews) {
    const map_proj gnomonic = projection(GNOMONIC, 0.0, 0.0);
    const earth_pos far_side{0.0, 100.0 * kDeg, 0};  // beyond 90 degrees of arc
    double xy[2] = {1.0, 1.0};
    unsigned char visible = 1;
    ASSERT_EQ(mpj_earth_to_map(&gnomonic, &far_side, xy, &visible), MPJ_OK);
    EXPECT_EQ(xy[0], 0.0);
    EXPECT_EQ(xy[1], 0.0);
    EXPECT_EQ(visible, 0);

    // Behind the perspective horizon (about 81.3 degrees): hidden, but still projected.
    const map_proj perspective = projection(PERSPECTIVE, 0.0, 0.0);
    const earth_pos beyond{0.0, 85.0 * kDeg, 0};
    ASSERT_EQ(mpj_earth_to_map(&perspective, &beyond, xy, &visible), MPJ_OK);
    EXPECT_EQ(visible, 0);
    EXPECT_GT(xy[0], 5000.0);
    const earth_pos near_limb{0.0, 80.0 * kDeg, 0};
    ASSERT_EQ(mpj_earth_to_map(&perspective, &near_limb, xy, &visible), MPJ_OK);
    EXPECT_EQ(visible, 1);

    // A map point outside the disc of the earth is flagged, not an error.
    const double outside[2] = {6400.0, 0.0};
    earth_pos pos;
    ASSERT_EQ(mpj_map_to_earth(&perspective, outside, &pos), MPJ_OK);
    EXPECT_EQ(pos.flags & EARTH_POS_OFF_EARTH, EARTH_POS_OFF_EARTH);
    EXPECT_EQ(pos.latitude, 0.0);
    EXPECT_EQ(pos.longitude, 0.0);

    // So is a point beyond the poles of the equidistant cylinder.
    const map_proj edc = projection(EDC, 45.0, 0.0);
    const double above_pole[2] = {100.0, 10100.0};
    ASSERT_EQ(mpj_map_to_earth(&edc, above_pole, &pos), MPJ_OK);
    EXPECT_EQ(pos.flags, EARTH_POS_OFF_EARTH);
    EXPECT_EQ(pos.latitude, 0.0);
}

TEST(Projections, PolarStereographicPoleAndDateline) {
    const map_proj proj = projection(POLSTEREO, 60.0, 10.0);
    const earth_pos pole{M_PI / 2, 0.3, 0};
    double xy[2];
    ASSERT_EQ(mpj_earth_to_map(&proj, &pole, xy, nullptr), MPJ_OK);
    EXPECT_NEAR(std::hypot(xy[0], xy[1]), 0.0, 1e-9);
    earth_pos pos;
    ASSERT_EQ(mpj_map_to_earth(&proj, xy, &pos), MPJ_OK);
    EXPECT_EQ(pos.longitude, proj.reference.longitude);

    // Longitudes across the antimeridian from the central meridian come back wrapped.
    const earth_pos far_side{70.0 * kDeg, -175.0 * kDeg, 0};
    ASSERT_EQ(mpj_earth_to_map(&proj, &far_side, xy, nullptr), MPJ_OK);
    ASSERT_EQ(mpj_map_to_earth(&proj, xy, &pos), MPJ_OK);
    EXPECT_NEAR(pos.latitude, far_side.latitude, 1e-12);
    EXPECT_NEAR(pos.longitude, far_side.longitude, 1e-12);
}

TEST(Projections, LambertReportsAnUnsettledLatitude) {
    // With an eccentricity far beyond any earth's the fixed-point iteration contracts too
    // slowly to settle within ten steps.
    testing::internal::CaptureStderr();
    const double slow = pvol_internal::lambert_latitude(0.5, 0.9);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Lambert converge failed\n");
    EXPECT_TRUE(std::isfinite(slow));

    testing::internal::CaptureStderr();
    const double settled = pvol_internal::lambert_latitude(0.2, 0.0818191908426);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // The sphere's latitude for t = 0.2 moves a little poleward on the ellipsoid.
    EXPECT_GT(settled, M_PI / 2 - 2 * std::atan(0.2));
}

TEST(Projections, LambertWithEqualParallelsRoundTrips) {
    map_proj proj = projection(LAMBERT, 46.0, 2.0);
    proj.earth_radius = 0.0;
    proj.std_parallel1 = proj.std_parallel2 = 46.0 * kDeg;
    const earth_pos pos{47.5 * kDeg, 4.0 * kDeg, 0};
    double xy[2];
    ASSERT_EQ(mpj_earth_to_map(&proj, &pos, xy, nullptr), MPJ_OK);
    earth_pos back;
    ASSERT_EQ(mpj_map_to_earth(&proj, xy, &back), MPJ_OK);
    EXPECT_NEAR(back.latitude, pos.latitude, 1e-8);
    EXPECT_NEAR(back.longitude, pos.longitude, 1e-12);
}

TEST(MapSearch, ShiftsAndFindsTheRangeAlongEachAxis) {
    const double src[2] = {1.0, 2.0};
    double dst[2];
    FillShiftedPosition(dst, src, MPJ_WEST, 5.0);
    EXPECT_THAT(dst, testing::ElementsAre(-4.0, 2.0));
    FillShiftedPosition(dst, src, MPJ_NORTH, 5.0);
    EXPECT_THAT(dst, testing::ElementsAre(1.0, 7.0));
    FillShiftedPosition(dst, src, MPJ_SOUTH, 5.0);
    EXPECT_THAT(dst, testing::ElementsAre(1.0, -3.0));
    FillShiftedPosition(dst, src, 17, 5.0);
    EXPECT_THAT(dst, testing::ElementsAre(6.0, 2.0));

    const map_proj proj = projection(AZIMUTHAL, 50.0, 5.0);
    const double start[2] = {0.0, 0.0};
    for (double range : {3.0, 120.0, 800.0}) {  // below and above the first 10 km step
        double result[2] = {NAN, NAN};
        mpjSearchForMap(&proj, &proj.reference, start, result, MPJ_EAST, range);
        EXPECT_NEAR(result[0], range, 1e-6) << range;
        EXPECT_EQ(result[1], 0.0);
        mpjSearchForMap(&proj, &proj.reference, start, result, MPJ_SOUTH, range);
        EXPECT_EQ(result[0], 0.0);
        EXPECT_NEAR(result[1], -range, 1e-6) << range;
    }
}

TEST(MapSearch, NonFiniteInputsEndWithoutAResult) {
    const map_proj proj = projection(AZIMUTHAL, 50.0, 5.0);
    const double start[2] = {0.0, 0.0};
    double result[2] = {-1.0, -2.0};
    mpjSearchForMap(&proj, &proj.reference, start, result, MPJ_EAST, NAN);
    EXPECT_THAT(result, testing::ElementsAre(-1.0, -2.0));

    const earth_pos nowhere{NAN, 0.0, 0};
    mpjSearchForMap(&proj, &nowhere, start, result, MPJ_NORTH, 100.0);
    EXPECT_THAT(result, testing::ElementsAre(-1.0, -2.0));

    const double lost[2] = {NAN, 0.0};
    mpjSearchForMap(&proj, &proj.reference, lost, result, MPJ_NORTH, 100.0);
    EXPECT_THAT(result, testing::ElementsAre(-1.0, -2.0));
}

}  // namespace
