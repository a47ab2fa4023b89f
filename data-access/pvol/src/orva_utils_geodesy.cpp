// Earth ellipsoids, spherical triangles and polar/earth conversion on the 6371 km sphere.
#include <cmath>
#include <cstring>

#include "pvol/orva_utils.h"
#include "orva_utils_internal.h"

using namespace pvol_internal;

static_assert(sizeof(earth_pos) == 24, "earth_pos is 24 bytes");
static_assert(sizeof(sph_triangle) == 6 * sizeof(double), "sph_triangle is six doubles");

namespace {

struct Ellipsoid {
    const char *name;
    double radius_km;
    double inverse_flattening;  // 0 for a sphere
};

constexpr Ellipsoid kEllipsoids[] = {
    {"sphere", 6371.0, 0.0},
    {"bessel", 6377.397155, 299.1528128},
    {"GRS80", 6378.137, 298.257222101},
    {"intl", 6378.388, 297.0},
    {"WGS84", 6378.137, 298.257223563},
};
constexpr int kEllipsoidCount = sizeof(kEllipsoids) / sizeof(kEllipsoids[0]);

}  // namespace

extern "C" {

double fGetEllipseByIndex(char *name, double *inverse_flattening, int index) {
    if (index < 0 || index >= kEllipsoidCount)
        index = 0;
    const Ellipsoid &row = kEllipsoids[index];
    if (name)
        std::strcpy(name, row.name);
    if (inverse_flattening)
        *inverse_flattening = row.inverse_flattening;
    return row.radius_km;
}

int iGetEllipseByName(const char *name) {
    if (!name)
        return -1;
    for (int i = 0; i < kEllipsoidCount; ++i) {
        if (std::strcmp(name, kEllipsoids[i].name) == 0)
            return i;
    }
    return -1;
}

double fNormalizeAngle(double angle) {
    if (angle > kPi)
        return angle - kTwoPi;
    if (angle < -kPi)
        return angle + kTwoPi;
    return angle;
}

// Napier's analogies for the two angles, the cosine rule for the third side.
void TriangleSphereSas(sph_triangle *t) {
    const double a = t->a;
    const double b = t->b;
    const double s = std::sin(t->gamma / 2.0);
    const double k = std::cos(t->gamma / 2.0);
    if (s == 0.0) {
        if (b > a) {
            t->beta = kPi;
            t->alpha = 0.0;
        } else if (b == a) {
            t->alpha = t->beta = kHalfPi;
        } else {
            t->beta = 0.0;
            t->alpha = kPi;
        }
    } else if (s == 1.0) {
        if (a + b > kPi) {
            t->alpha = t->beta = kPi;
        } else if (a + b == kPi) {
            t->alpha = t->beta = kHalfPi;
        } else {
            t->alpha = t->beta = 0.0;
        }
    } else {
        const double half_sum = (a + b) / 2.0;
        const double half_diff = (b - a) / 2.0;
        const double m = k / s;
        const double p = std::atan2(std::cos(half_diff) * m, std::cos(half_sum));
        const double q = std::atan2(std::sin(half_diff) * m, std::sin(half_sum));
        t->beta = p + q;
        t->alpha = p - q;
    }
    const double x = std::cos(a) * std::cos(b) + std::sin(a) * std::sin(b) * std::cos(t->gamma);
    if (x <= -1.0) {
        t->c = kPi;
    } else if (x >= 1.0) {
        t->c = 0.0;
    } else {
        t->c = std::acos(x);
    }
}

void EarthFromPolar(const earth_pos *origin, const polar_pos *polar, earth_pos *result) {
    double d = polar->range / kEarthRadiusKm;
    double az = polar->azimuth;
    if (d == 0.0) {
        *result = *origin;
        return;
    }
    if (d < 0.0) {
        d = -d;
        az += kPi;
        if (az >= kTwoPi)
            az -= kTwoPi;
    }
    const double origin_lat = origin->latitude;
    const double origin_lon = origin->longitude;

    sph_triangle t{};
    t.a = kHalfPi - origin_lat;
    t.b = d;
    const bool west = az > kPi;
    t.gamma = west ? kTwoPi - az : az;
    TriangleSphereSas(&t);

    std::memset(result, 0, sizeof(*result));
    result->latitude = kHalfPi - t.c;
    if (west) {
        result->longitude = origin_lon - t.beta;
        if (result->longitude < -kPi)
            result->longitude += kTwoPi;
    } else {
        result->longitude = origin_lon + t.beta;
        if (result->longitude > kPi)
            result->longitude -= kTwoPi;
    }
}

void PolarFromEarth(const earth_pos *origin, const earth_pos *target, polar_pos *result) {
    sph_triangle t{};
    t.a = kHalfPi - origin->latitude;
    t.b = kHalfPi - target->latitude;
    double gamma = target->longitude - origin->longitude;
    if (gamma < 0.0)
        gamma += kTwoPi;
    const bool west = gamma > kPi;
    t.gamma = west ? kTwoPi - gamma : gamma;
    TriangleSphereSas(&t);

    std::memset(result, 0, sizeof(*result));
    result->range = kEarthRadiusKm * t.c;
    result->azimuth = west ? kTwoPi - t.beta : t.beta;
}

double fTransverseMercatorM(double a, double e2, double latitude) {
    const double e4 = e2 * e2;
    const double e6 = e4 * e2;
    return a * ((1.0 - e2 / 4.0 - 3.0 * e4 / 64.0 - 5.0 * e6 / 256.0) * latitude -
                (3.0 * e2 / 8.0 + 3.0 * e4 / 32.0 + 45.0 * e6 / 1024.0) * std::sin(2.0 * latitude) +
                (15.0 * e4 / 256.0 + 45.0 * e6 / 1024.0) * std::sin(4.0 * latitude) -
                (35.0 * e6 / 3072.0) * std::sin(6.0 * latitude));
}

void LambertSupport(const map_proj *proj, double *n, double *f, double *rho0, double a, double e) {
    auto t_of = [e](double phi) {
        const double es = e * std::sin(phi);
        return std::tan(kPi / 4.0 - phi / 2.0) / std::pow((1.0 - es) / (1.0 + es), e / 2.0);
    };
    auto m_of = [e](double phi) {
        const double s = std::sin(phi);
        return std::cos(phi) / std::sqrt(1.0 - e * e * s * s);
    };
    const double phi0 = proj->reference.latitude;
    const double phi1 = proj->std_parallel1;
    const double phi2 = proj->std_parallel2;

    // Standard parallels closer than 0.1 degree make a tangent cone.
    double cone;
    if (std::fabs(phi1 - phi2) < 0.0017453292519943296) {
        cone = std::sin(phi1);
    } else {
        cone = (std::log(m_of(phi1)) - std::log(m_of(phi2))) /
               (std::log(t_of(phi1)) - std::log(t_of(phi2)));
    }
    const double big_f = m_of(phi1) / (cone * std::pow(t_of(phi1), cone));
    *n = cone;
    *f = big_f;
    *rho0 = a * big_f * std::pow(t_of(phi0), cone);
}

void mpj_get_geode_info(double *a, double *b, double *e, double *inverse_flattening,
                        const map_proj *proj) {
    int wgs84 = iGetEllipseByName("WGS84");
    if (wgs84 < 0)
        wgs84 = 0;
    double wgs84_inverse_flattening = 0.0;
    const double wgs84_radius = fGetEllipseByIndex(nullptr, &wgs84_inverse_flattening, wgs84);

    double semi_major;
    double inv_flat;
    if (proj->earth_radius < 6300.0 || proj->earth_radius > 6400.0) {
        semi_major = 1000.0 * wgs84_radius;
        inv_flat = wgs84_inverse_flattening;
    } else {
        semi_major = 1000.0 * proj->earth_radius;
        inv_flat = proj->inverse_flattening;
        if (inv_flat < 200.0 || inv_flat > 400.0)
            inv_flat = 0.0;
    }
    const double flattening = inv_flat > 200.0 ? 1.0 / inv_flat : 0.0;
    *a = semi_major;
    *b = (1.0 - flattening) * semi_major;
    *e = std::sqrt(2.0 * flattening - flattening * flattening);
    *inverse_flattening = inv_flat;
}

}  // extern "C"
