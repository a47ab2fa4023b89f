// The projections and the polar conversion against PROJ, an independent implementation.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <geodesic.h>
#include <proj.h>

#include <gtest/gtest.h>

#include "orva_utils.h"

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr double kSphereM = 6371000.0;

// One PROJ operation from a PROJ string; angles in radians, map coordinates in km.
class ProjOperation {
  public:
    explicit ProjOperation(const std::string &definition)
        : ctx_(proj_context_create()), pj_(proj_create(ctx_, definition.c_str())) {}
    ~ProjOperation() {
        if (pj_)
            proj_destroy(pj_);
        proj_context_destroy(ctx_);
    }
    ProjOperation(const ProjOperation &) = delete;
    ProjOperation &operator=(const ProjOperation &) = delete;

    bool valid() const { return pj_ != nullptr; }

    void forward(double lat, double lon, double xy_km[2]) const {
        const PJ_COORD out = proj_trans(pj_, PJ_FWD, proj_coord(lon, lat, 0, 0));
        xy_km[0] = out.xy.x / 1000.0;
        xy_km[1] = out.xy.y / 1000.0;
    }
    earth_pos inverse(const double xy_km[2]) const {
        const PJ_COORD out =
            proj_trans(pj_, PJ_INV, proj_coord(xy_km[0] * 1000.0, xy_km[1] * 1000.0, 0, 0));
        return earth_pos{out.lp.phi, out.lp.lam, 0};
    }

  private:
    PJ_CONTEXT *ctx_;
    PJ *pj_;
};

std::string deg(double radians) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", radians / kDeg);
    return text;
}

// Ground distance in metres between two positions on the sphere.
double ground_distance_m(const earth_pos &p, const earth_pos &q) {
    geod_geodesic g;
    geod_init(&g, kSphereM, 0.0);
    double s12 = 0.0;
    geod_inverse(&g, p.latitude / kDeg, p.longitude / kDeg, q.latitude / kDeg, q.longitude / kDeg,
                 &s12, nullptr, nullptr);
    return s12;
}

// Points on rings of 10 m to `max_km` km around `centre`, in 24 directions.
std::vector<earth_pos> rings_around(const earth_pos &centre, double max_km) {
    std::vector<earth_pos> points;
    for (double r : {0.01, 0.5, 5.0, 50.0, 150.0, 200.0, 300.0, 600.0, 1000.0}) {
        if (r > max_km)
            break;
        for (int k = 0; k < 24; ++k) {
            const polar_pos polar{r, k * 15.0 * kDeg};
            earth_pos p;
            EarthFromPolar(&centre, &polar, &p);
            points.push_back(p);
        }
    }
    return points;
}

struct Discrepancy {
    double forward_m = 0.0;  // largest map distance between our and PROJ's forward result
    double inverse_m = 0.0;  // largest ground distance between our and PROJ's inverse result
};

Discrepancy compare(const map_proj &proj, const std::string &definition,
                    const std::vector<earth_pos> &points) {
    ProjOperation reference(definition);
    EXPECT_TRUE(reference.valid()) << definition;
    Discrepancy worst;
    if (!reference.valid())
        return worst;
    for (const earth_pos &p : points) {
        double ours[2], theirs[2];
        EXPECT_EQ(mpj_earth_to_map(&proj, &p, ours, nullptr), MPJ_OK);
        reference.forward(p.latitude, p.longitude, theirs);
        worst.forward_m = std::max(worst.forward_m,
                                   1000.0 * std::hypot(ours[0] - theirs[0], ours[1] - theirs[1]));

        earth_pos back;
        EXPECT_EQ(mpj_map_to_earth(&proj, theirs, &back), MPJ_OK);
        const earth_pos expected = reference.inverse(theirs);
        worst.inverse_m = std::max(worst.inverse_m, ground_distance_m(back, expected));
    }
    return worst;
}

map_proj make_proj(int type, double lat, double lon, double radius_km = 6371.0,
                   double inverse_flattening = 0.0, double par1 = 0.0, double par2 = 0.0) {
    map_proj proj{};
    proj.type = static_cast<uint8_t>(type);
    proj.reference = earth_pos{lat, lon, 0};
    proj.std_parallel1 = par1;
    proj.std_parallel2 = par2;
    proj.earth_radius = radius_km;
    proj.inverse_flattening = inverse_flattening;
    return proj;
}

std::string sphere() {
    return " +R=6371000";
}
std::string ellipsoid(double radius_km, double inverse_flattening) {
    char text[80];
    std::snprintf(text, sizeof text, " +a=%.17g +rf=%.17g", radius_km * 1000.0, inverse_flattening);
    return text;
}

const earth_pos kMidLatitude{52.5 * kDeg, 13.4 * kDeg, 0};

// Tolerances (metres, largest map distance forward, largest ground distance inverse), each a
// few times what these point sets measure with PROJ 9.1:
// - spherical projections: below 1e-8 m out to 1000 km;
// - azimuthal forward: the arc cosine of the polar conversion resolves short ranges coarsely,
//   0.65 mm at 10 m and about 0.1 m right at the centre; 1e-7 m beyond 50 km;
// - transverse Mercator series against PROJ's exact algorithm: forward 0.17 mm within 300 km;
//   inverse 0.5 mm within 200 km, 5.6 mm at 300 km, 0.75 m at 600 km (0.02 m forward);
// - Lambert: forward below 1e-8 m; the inverse stops its latitude iteration once a step
//   changes less than one second of arc, which leaves up to 5 cm (0.3 mm to 5 cm by latitude,
//   at any distance).
constexpr double kMicrometre = 1e-6;
constexpr double kMillimetre = 1e-3;
constexpr double kAzimuthalNearCentre = 5e-3;
constexpr double kLambertInverse = 0.1;

TEST(ProjComparison, SphericalProjectionsAroundMidLatitudeReference) {
    const earth_pos c = kMidLatitude;
    const std::string centre = " +lat_0=" + deg(c.latitude) + " +lon_0=" + deg(c.longitude);
    const std::string true_scale = " +lat_ts=" + deg(c.latitude) + " +lon_0=" + deg(c.longitude);
    const auto points = rings_around(c, 1000.0);
    struct Case {
        int type;
        std::string definition;
        double tolerance_m;
    } cases[] = {
        {AZIMUTHAL, "+proj=aeqd" + centre + sphere(), kAzimuthalNearCentre},
        {MERCATOR, "+proj=merc" + true_scale + sphere(), kMicrometre},
        {POLSTEREO, "+proj=stere +lat_0=90" + true_scale + sphere(), kMicrometre},
        {PERSPECTIVE, "+proj=nsper +h=35784000" + centre + sphere(), kMicrometre},
        {EDC, "+proj=eqc" + true_scale + sphere(), kMicrometre},
        {GNOMONIC, "+proj=gnom" + centre + sphere(), kMicrometre},
    };
    for (const Case &k : cases) {
        const Discrepancy d =
            compare(make_proj(k.type, c.latitude, c.longitude), k.definition, points);
        EXPECT_LT(d.forward_m, k.tolerance_m) << k.definition;
        EXPECT_LT(d.inverse_m, k.tolerance_m) << k.definition;
        std::printf("%-50.50s forward %.2g m, inverse %.2g m\n", k.definition.c_str(), d.forward_m,
                    d.inverse_m);
    }
}

TEST(ProjComparison, TransverseMercatorOnEllipsoids) {
    const earth_pos c = kMidLatitude;
    for (int type : {UTM, GAUSS}) {
        for (int ellipsoid_index : {1, 4}) {
            char name[8];
            double inverse_flattening;
            const double radius = fGetEllipseByIndex(name, &inverse_flattening, ellipsoid_index);
            const std::string definition =
                "+proj=tmerc +lat_0=" + deg(c.latitude) + " +lon_0=" + deg(c.longitude) +
                (type == UTM ? " +k_0=0.9996" : " +k_0=1") + ellipsoid(radius, inverse_flattening);
            const map_proj proj =
                make_proj(type, c.latitude, c.longitude, radius, inverse_flattening);
            const Discrepancy near = compare(proj, definition, rings_around(c, 200.0));
            EXPECT_LT(near.forward_m, kMillimetre) << definition;
            EXPECT_LT(near.inverse_m, kMillimetre) << definition;
            // Farther out the series drift from PROJ's exact algorithm, the inverse faster.
            const Discrepancy mid = compare(proj, definition, rings_around(c, 300.0));
            EXPECT_LT(mid.forward_m, kMillimetre) << definition;
            EXPECT_LT(mid.inverse_m, 0.01) << definition;
            const Discrepancy far = compare(proj, definition, rings_around(c, 600.0));
            EXPECT_LT(far.forward_m, 0.05) << definition;
            EXPECT_LT(far.inverse_m, 1.0) << definition;
            std::printf("%-50.50s <=200 km %.2g/%.2g m, 300 km %.2g/%.2g m, 600 km %.2g/%.2g m\n",
                        definition.c_str(), near.forward_m, near.inverse_m, mid.forward_m,
                        mid.inverse_m, far.forward_m, far.inverse_m);
        }
    }
}

TEST(ProjComparison, LambertConicNorthSouthAndAcrossAntimeridian) {
    struct Case {
        earth_pos reference;
        double par1_deg, par2_deg;
    } cases[] = {
        {kMidLatitude, 35.0, 65.0},
        {earth_pos{-40.0 * kDeg, 150.0 * kDeg, 0}, -30.0, -50.0},   // cone opening southwards
        {earth_pos{60.0 * kDeg, 179.5 * kDeg, 0}, 50.0, 70.0},      // region spans 180 degrees
        {earth_pos{-55.0 * kDeg, -179.0 * kDeg, 0}, -50.0, -60.0},  // both at once
        {earth_pos{45.0 * kDeg, 10.0 * kDeg, 0}, 45.0, 45.0},       // tangent cone
    };
    char name[8];
    double inverse_flattening;
    const double radius = fGetEllipseByIndex(name, &inverse_flattening, 2);
    for (const Case &k : cases) {
        const earth_pos &c = k.reference;
        const std::string definition =
            "+proj=lcc +lat_0=" + deg(c.latitude) + " +lon_0=" + deg(c.longitude) +
            " +lat_1=" + deg(k.par1_deg * kDeg) + " +lat_2=" + deg(k.par2_deg * kDeg) +
            ellipsoid(radius, inverse_flattening);
        const map_proj proj = make_proj(LAMBERT, c.latitude, c.longitude, radius,
                                        inverse_flattening, k.par1_deg * kDeg, k.par2_deg * kDeg);
        const Discrepancy near = compare(proj, definition, rings_around(c, 300.0));
        EXPECT_LT(near.forward_m, kMicrometre) << definition;
        EXPECT_LT(near.inverse_m, kLambertInverse) << definition;
        const Discrepancy far = compare(proj, definition, rings_around(c, 1000.0));
        EXPECT_LT(far.forward_m, kMicrometre) << definition;
        EXPECT_LT(far.inverse_m, kLambertInverse) << definition;
        std::printf("%-50.50s <=300 km %.2g/%.2g m, 1000 km %.2g/%.2g m\n", definition.c_str(),
                    near.forward_m, near.inverse_m, far.forward_m, far.inverse_m);
    }
}

// Great circles of the 6371 km sphere, solved by PROJ's geodesic routines.
TEST(ProjComparison, PolarConversionFollowsGreatCircles) {
    geod_geodesic g;
    geod_init(&g, kSphereM, 0.0);
    const earth_pos origins[] = {kMidLatitude,
                                 {-33.9 * kDeg, 151.2 * kDeg, 0},
                                 {0.0, 179.9 * kDeg, 0},
                                 {89.0 * kDeg, -60.0 * kDeg, 0}};
    double worst_range_m = 0.0, worst_azimuth = 0.0, worst_position_m = 0.0;
    for (const earth_pos &o : origins) {
        for (double r : {1.0, 80.0, 450.0, 3000.0, 15000.0}) {
            for (int k = 0; k < 36; ++k) {
                const double az = (k * 10.0 + 3.0) * kDeg;
                double lat2, lon2;
                geod_direct(&g, o.latitude / kDeg, o.longitude / kDeg, az / kDeg, r * 1000.0, &lat2,
                            &lon2, nullptr);
                const earth_pos expected{lat2 * kDeg, lon2 * kDeg, 0};

                earth_pos ours;
                const polar_pos polar{r, az};
                EarthFromPolar(&o, &polar, &ours);
                worst_position_m = std::max(worst_position_m, ground_distance_m(ours, expected));

                polar_pos back;
                PolarFromEarth(&o, &expected, &back);
                worst_range_m = std::max(worst_range_m, std::fabs(back.range - r) * 1000.0);
                // Near the centre the azimuth is ill-defined only for zero range; 1 km is enough.
                double diff = std::fabs(back.azimuth - az);
                diff = std::min(diff, 2 * M_PI - diff);
                worst_azimuth = std::max(worst_azimuth, diff);
            }
        }
    }
    std::printf("polar: position %.3g m, range %.3g m, azimuth %.3g rad\n", worst_position_m,
                worst_range_m, worst_azimuth);
    EXPECT_LT(worst_position_m, kMicrometre);
    EXPECT_LT(worst_range_m, kMillimetre);
    EXPECT_LT(worst_azimuth, 1e-6);
}

}  // namespace
