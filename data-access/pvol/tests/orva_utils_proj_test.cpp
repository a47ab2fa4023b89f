// The projections and the polar conversion against PROJ, an independent implementation.
#include <cmath>
#include <cstdio>
#include <vector>

#include <geodesic.h>
#include <proj.h>

#include <gtest/gtest.h>

#include "pvol/orva_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

// Ground distance in metres on the 6371 km sphere.
double ground_distance_m(const earth_pos &p, const earth_pos &q) {
    geod_geodesic g;
    geod_init(&g, 6371000.0, 0.0);
    double s12 = 0.0;
    geod_inverse(&g, p.latitude / kDeg, p.longitude / kDeg, q.latitude / kDeg, q.longitude / kDeg,
                 &s12, nullptr, nullptr);
    return s12;
}

// Points on rings of 10 m to `max_km` km around `centre`, in 24 directions.
std::vector<earth_pos> rings_around(const earth_pos &centre, double max_km) {
    std::vector<earth_pos> points;
    for (double r : {0.01, 0.5, 5.0, 50.0, 150.0, 200.0, 300.0, 600.0, 1000.0}) {
        for (int k = 0; r <= max_km && k < 24; ++k) {
            const polar_pos polar{r, k * 15.0 * kDeg};
            points.emplace_back();
            EarthFromPolar(&centre, &polar, &points.back());
        }
    }
    return points;
}

struct Case {
    map_proj proj;
    const char *definition;  // the same projection for PROJ
    double max_km;           // points up to this distance from the reference
    double forward_m;        // tolerated map distance from PROJ's forward result
    double inverse_m;        // tolerated ground distance from PROJ's inverse result
};

map_proj make(int type, double lat, double lon, double radius = 6371.0, double inv = 0.0,
              double par1 = 0.0, double par2 = 0.0) {
    return map_proj{static_cast<uint8_t>(type),
                    {lat * kDeg, lon * kDeg, 0},
                    par1 * kDeg,
                    par2 * kDeg,
                    radius,
                    inv};
}

// Tolerances are a few times what these points measure with PROJ 9.1 (largest forward map
// distance / inverse ground distance):
// - spherical projections: below 1e-8 m out to 1000 km; the azimuthal forward resolves short
//   ranges only through an arc cosine: 0.65 mm at 10 m (about 0.1 m right at the centre);
// - transverse Mercator series against PROJ's exact algorithm: 0.06 / 0.5 mm within 200 km,
//   0.17 / 5.6 mm at 300 km, 21 mm / 0.71 m at 600 km;
// - Lambert: forward below 1e-8 m; the inverse stops iterating the latitude once a step changes
//   less than one second of arc, which leaves 0.3 mm to 5 cm depending on the latitude.
TEST(ProjComparisonTest, ForwardAndInverseOfEveryProjection) {
    const double wgs84 = 298.257223563, bessel = 299.1528128, grs80 = 298.257222101;
    const Case cases[] = {
        {make(AZIMUTHAL, 52.5, 13.4), "+proj=aeqd +lat_0=52.5 +lon_0=13.4 +R=6371000", 1000, 5e-3,
         1e-6},
        {make(MERCATOR, 52.5, 13.4), "+proj=merc +lat_ts=52.5 +lon_0=13.4 +R=6371000", 1000, 1e-6,
         1e-6},
        {make(POLSTEREO, 52.5, 13.4), "+proj=stere +lat_0=90 +lat_ts=52.5 +lon_0=13.4 +R=6371000",
         1000, 1e-6, 1e-6},
        {make(PERSPECTIVE, 52.5, 13.4),
         "+proj=nsper +h=35784000 +lat_0=52.5 +lon_0=13.4 +R=6371000", 1000, 1e-6, 1e-6},
        {make(EDC, 52.5, 13.4), "+proj=eqc +lat_ts=52.5 +lon_0=13.4 +R=6371000", 1000, 1e-6, 1e-6},
        {make(GNOMONIC, 52.5, 13.4), "+proj=gnom +lat_0=52.5 +lon_0=13.4 +R=6371000", 1000, 1e-6,
         1e-6},
        {make(UTM, 52.5, 13.4, 6378.137, wgs84),
         "+proj=tmerc +lat_0=52.5 +lon_0=13.4 +k_0=0.9996 +ellps=WGS84", 200, 1e-3, 1e-3},
        {make(GAUSS, 52.5, 13.4, 6377.397155, bessel),
         "+proj=tmerc +lat_0=52.5 +lon_0=13.4 +k_0=1 +ellps=bessel", 200, 1e-3, 1e-3},
        {make(GAUSS, 52.5, 13.4, 6378.137, wgs84),
         "+proj=tmerc +lat_0=52.5 +lon_0=13.4 +k_0=1 +ellps=WGS84", 300, 1e-3, 0.01},
        {make(UTM, 52.5, 13.4, 6377.397155, bessel),
         "+proj=tmerc +lat_0=52.5 +lon_0=13.4 +k_0=0.9996 +ellps=bessel", 600, 0.05, 1.0},
        {make(LAMBERT, 52.5, 13.4, 6378.137, grs80, 35, 65),
         "+proj=lcc +lat_0=52.5 +lon_0=13.4 +lat_1=35 +lat_2=65 +ellps=GRS80", 1000, 1e-6, 0.1},
        {make(LAMBERT, -40, 150, 6378.137, grs80, -30, -50),  // cone opening southwards
         "+proj=lcc +lat_0=-40 +lon_0=150 +lat_1=-30 +lat_2=-50 +ellps=GRS80", 1000, 1e-6, 0.1},
        {make(LAMBERT, 60, 179.5, 6378.137, grs80, 50, 70),  // points across the antimeridian
         "+proj=lcc +lat_0=60 +lon_0=179.5 +lat_1=50 +lat_2=70 +ellps=GRS80", 1000, 1e-6, 0.1},
        {make(LAMBERT, -55, -179, 6378.137, grs80, -50, -60),  // both
         "+proj=lcc +lat_0=-55 +lon_0=-179 +lat_1=-50 +lat_2=-60 +ellps=GRS80", 1000, 1e-6, 0.1},
        {make(LAMBERT, 45, 10, 6378.137, grs80, 45, 45),  // tangent cone
         "+proj=lcc +lat_0=45 +lon_0=10 +lat_1=45 +lat_2=45 +ellps=GRS80", 1000, 1e-6, 0.1},
    };
    for (const Case &k : cases) {
        PJ_CONTEXT *ctx = proj_context_create();
        PJ *pj = proj_create(ctx, k.definition);
        ASSERT_NE(pj, nullptr) << k.definition;
        double worst_forward = 0.0, worst_inverse = 0.0;
        for (const earth_pos &p : rings_around(k.proj.reference, k.max_km)) {
            double ours[2];
            ASSERT_EQ(mpj_earth_to_map(&k.proj, &p, ours, nullptr), MPJ_OK);
            const PJ_COORD theirs =
                proj_trans(pj, PJ_FWD, proj_coord(p.longitude, p.latitude, 0, 0));
            worst_forward = std::max(worst_forward, std::hypot(ours[0] * 1000.0 - theirs.xy.x,
                                                               ours[1] * 1000.0 - theirs.xy.y));
            const double map_km[2] = {theirs.xy.x / 1000.0, theirs.xy.y / 1000.0};
            earth_pos back;
            ASSERT_EQ(mpj_map_to_earth(&k.proj, map_km, &back), MPJ_OK);
            const PJ_COORD expected = proj_trans(pj, PJ_INV, theirs);
            worst_inverse = std::max(
                worst_inverse, ground_distance_m(back, {expected.lp.phi, expected.lp.lam, 0}));
        }
        proj_destroy(pj);
        proj_context_destroy(ctx);
        EXPECT_LT(worst_forward, k.forward_m) << k.definition;
        EXPECT_LT(worst_inverse, k.inverse_m) << k.definition;
        std::printf("%-70.70s %5.0f km: %.2g / %.2g m\n", k.definition, k.max_km, worst_forward,
                    worst_inverse);
    }
}

// Great circles of the 6371 km sphere, solved by PROJ's geodesic routines.
TEST(ProjComparisonTest, PolarConversionFollowsGreatCircles) {
    geod_geodesic g;
    geod_init(&g, 6371000.0, 0.0);
    const earth_pos origins[] = {{52.5 * kDeg, 13.4 * kDeg, 0},
                                 {-33.9 * kDeg, 151.2 * kDeg, 0},
                                 {0.0, 179.9 * kDeg, 0},
                                 {89.0 * kDeg, -60.0 * kDeg, 0}};
    double worst_position = 0.0, worst_range = 0.0, worst_azimuth = 0.0;
    for (const earth_pos &o : origins) {
        for (double r : {1.0, 80.0, 450.0, 3000.0, 15000.0}) {
            for (int k = 0; k < 36; ++k) {
                const double az = (k * 10.0 + 3.0) * kDeg;
                double lat, lon;
                geod_direct(&g, o.latitude / kDeg, o.longitude / kDeg, az / kDeg, r * 1000.0, &lat,
                            &lon, nullptr);
                const earth_pos expected{lat * kDeg, lon * kDeg, 0};
                earth_pos ours;
                const polar_pos polar{r, az};
                EarthFromPolar(&o, &polar, &ours);
                worst_position = std::max(worst_position, ground_distance_m(ours, expected));
                polar_pos back;
                PolarFromEarth(&o, &expected, &back);
                worst_range = std::max(worst_range, std::fabs(back.range - r) * 1000.0);
                const double turn = std::fabs(back.azimuth - az);
                worst_azimuth = std::max(worst_azimuth, std::min(turn, 2 * M_PI - turn));
            }
        }
    }
    // Measured: 5e-8 m, 6e-6 m (the arc cosine at 1 km), 5e-12 rad.
    EXPECT_LT(worst_position, 1e-6);
    EXPECT_LT(worst_range, 1e-3);
    EXPECT_LT(worst_azimuth, 1e-9);
}

}  // namespace
