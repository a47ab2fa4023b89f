// The nine map projections of ORVA products, forward and inverse, and the map-axis search.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "pvol/orva_utils.h"
#include "orva_utils_internal.h"

using namespace pvol_internal;

static_assert(sizeof(map_proj) == 64, "map_proj layout");
static_assert(offsetof(map_proj, reference) == 8, "map_proj: type is padded to 8 bytes");

namespace {

constexpr double R = kEarthRadiusKm;
// Distance of the perspective viewpoint from the earth's centre, in earth radii (42155 km).
constexpr double kViewpoint = 6.616700674933291;
constexpr double kUtmScale = 0.9996;
// Map points closer than this (km) to the origin of the azimuthal and polar views are the origin.
constexpr double kOriginRadiusKm = 0.003;
constexpr double kOneArcSecond = 4.84813681109536e-06;

// Cylindrical projections keep a usable scale near the poles.
double cylinder_scale(const map_proj *proj) {
    const double c = std::cos(proj->reference.latitude);
    return c < 0.1 ? 0.1 : c;
}

struct Geode {
    double a;  // semi-major axis, m
    double e;  // eccentricity
    double e2;
};

Geode geode_of(const map_proj *proj) {
    double a, b, e, inverse_flattening;
    mpj_get_geode_info(&a, &b, &e, &inverse_flattening, proj);
    return {a, e, e * e};
}

// Isometric latitude parameter of the Lambert conic.
double lambert_t(double phi, double e) {
    const double es = e * std::sin(phi);
    return std::tan(kPi / 4.0 - phi / 2.0) / std::pow((1.0 - es) / (1.0 + es), e / 2.0);
}

void transverse_mercator_forward(const map_proj *proj, double phi, double dlon_n, double xy[2]) {
    const Geode g = geode_of(proj);
    const double m = fTransverseMercatorM(g.a, g.e2, phi);
    const double m0 = fTransverseMercatorM(g.a, g.e2, proj->reference.latitude);
    const double cos_phi = std::cos(phi);
    double x, y;
    if (cos_phi == 0.0) {
        x = 0.0;
        y = m - m0;
    } else {
        const double ep2 = g.e2 / (1.0 - g.e2);
        const double tan_phi = std::tan(phi);
        const double t = tan_phi * tan_phi;
        const double k = ep2 * cos_phi * cos_phi;
        const double a1 = dlon_n * cos_phi;
        const double a2 = a1 * a1;
        const double a3 = a2 * a1;
        const double a4 = a2 * a2;
        const double a5 = a4 * a1;
        const double a6 = a4 * a2;
        const double sin_phi = std::sin(phi);
        const double n = g.a / std::sqrt(1.0 - g.e2 * sin_phi * sin_phi);
        x = n * (a1 + (1.0 - t + k) * a3 / 6.0 +
                 (5.0 - 18.0 * t + t * t + 72.0 * k - 58.0 * ep2) * a5 / 120.0);
        y = m - m0 +
            n * tan_phi *
                (a2 / 2.0 + (5.0 - t + 9.0 * k + 4.0 * k * k) * a4 / 24.0 +
                 (61.0 - 58.0 * t + t * t + 600.0 * k - 330.0 * ep2) * a6 / 720.0);
    }
    if (proj->type == UTM) {
        x *= kUtmScale;
        y *= kUtmScale;
    }
    xy[0] = x / 1000.0;
    xy[1] = y / 1000.0;
}

void transverse_mercator_inverse(const map_proj *proj, const double xy[2], earth_pos *pos) {
    const Geode g = geode_of(proj);
    double x = xy[0];
    double y = xy[1];
    if (proj->type == UTM) {
        x /= kUtmScale;
        y /= kUtmScale;
    }
    x *= 1000.0;
    y *= 1000.0;
    const double e2 = g.e2;
    const double e4 = e2 * e2;
    const double e6 = e4 * e2;
    const double m = fTransverseMercatorM(g.a, e2, proj->reference.latitude) + y;
    const double mu = m / (g.a * (1.0 - e2 / 4.0 - 3.0 * e4 / 64.0 - 5.0 * e6 / 256.0));
    const double root = std::sqrt(1.0 - e2);
    const double e1 = (1.0 - root) / (1.0 + root);
    const double e1_2 = e1 * e1;
    const double e1_3 = e1_2 * e1;
    const double e1_4 = e1_2 * e1_2;
    const double phi1 = mu + (3.0 * e1 / 2.0 - 27.0 * e1_3 / 32.0) * std::sin(2.0 * mu) +
                        (21.0 * e1_2 / 16.0 - 55.0 * e1_4 / 32.0) * std::sin(4.0 * mu) +
                        (151.0 * e1_3 / 96.0) * std::sin(6.0 * mu) +
                        (1097.0 * e1_4 / 512.0) * std::sin(8.0 * mu);

    const double ep2 = e2 / (1.0 - e2);
    const double cos1 = std::cos(phi1);
    const double sin1 = std::sin(phi1);
    const double tan1 = std::tan(phi1);
    const double c1 = ep2 * cos1 * cos1;
    const double t1 = tan1 * tan1;
    const double w = 1.0 - e2 * sin1 * sin1;
    const double n1 = g.a / std::sqrt(w);
    const double r1 = g.a * (1.0 - e2) / std::pow(w, 1.5);
    const double d = x / n1;
    const double d2 = d * d;
    const double d3 = d2 * d;
    const double d4 = d2 * d2;
    const double d5 = d4 * d;
    const double d6 = d4 * d2;
    pos->latitude =
        phi1 -
        (n1 * tan1 / r1) *
            (d2 / 2.0 - (5.0 + 3.0 * t1 + 10.0 * c1 - 4.0 * c1 * c1 - 9.0 * ep2) * d4 / 24.0 +
             (61.0 + 90.0 * t1 + 298.0 * c1 + 45.0 * t1 * t1 - 252.0 * ep2 - 3.0 * c1 * c1) * d6 /
                 720.0);
    pos->longitude = fNormalizeAngle(
        proj->reference.longitude +
        (d - (1.0 + 2.0 * t1 + c1) * d3 / 6.0 +
         (5.0 - 2.0 * c1 + 28.0 * t1 - 3.0 * c1 * c1 + 8.0 * ep2 + 24.0 * t1 * t1) * d5 / 120.0) /
            cos1);
}

// Latitude and longitude of the perspective and gnomonic inverses for the angular distance c
// (given by its sine and cosine) of a map point at radius rho from the reference.
void inverse_from_central_angle(const map_proj *proj, const double xy[2], double rho, double sin_c,
                                double cos_c, earth_pos *pos) {
    const double phi0 = proj->reference.latitude;
    const double x = xy[0];
    const double y = xy[1];
    pos->latitude = std::asin(cos_c * std::sin(phi0) + y * sin_c * std::cos(phi0) / rho);
    pos->longitude = fNormalizeAngle(
        proj->reference.longitude +
        std::atan2(x * sin_c, rho * std::cos(phi0) * cos_c - y * std::sin(phi0) * sin_c));
}

}  // namespace

namespace pvol_internal {

double lambert_latitude(double t, double e, int max_iterations) {
    double phi = kHalfPi - 2.0 * std::atan(t);
    for (int i = 0; i < max_iterations; ++i) {
        const double es = e * std::sin(phi);
        const double next =
            kHalfPi - 2.0 * std::atan(t * std::pow((1.0 - es) / (1.0 + es), e / 2.0));
        const double change = std::fabs(next - phi);
        phi = next;
        if (!(change > kOneArcSecond))
            return phi;
    }
    std::fputs("Lambert converge failed\n", stderr);
    return phi;
}

bool search_for_map(const map_proj *proj, const earth_pos *origin, const double start[2],
                    double result[2], int direction, double range) {
    // Bounds on both walks: a step that grows by half each time passes any earth distance
    // long before 200 steps, and halving a double reaches its resolution within ~1100 steps.
    constexpr int kMaxGrowthSteps = 200;
    constexpr int kMaxBisections = 2200;

    double shifted[2];
    earth_pos pos;
    polar_pos polar;
    auto distance_at = [&](double offset) -> double {
        FillShiftedPosition(shifted, start, direction, offset);
        if (mpj_map_to_earth(proj, shifted, &pos) != MPJ_OK)
            return NAN;
        PolarFromEarth(origin, &pos, &polar);
        return polar.range;
    };

    // Walk outwards with growing steps until the distance passes the range or stops growing.
    double step = 10.0;
    double r = distance_at(step);
    double last = 0.0;
    for (int i = 0;; ++i) {
        if (!std::isfinite(r))
            return false;
        if (r >= 1.1 * range || r < last + 1.0 || i == kMaxGrowthSteps)
            break;
        step *= 1.5;
        last = r;
        r = distance_at(step);
    }
    if (r < last)
        step /= 1.5;

    // Bisect the last step for the farthest offset still within range.
    bool found = false;
    double best[2] = {0.0, 0.0};
    double done = 0.0;
    double half = step / 2.0;
    for (int i = 0; i < kMaxBisections; ++i) {
        const double candidate = done + half;
        if (candidate == done)
            break;
        const double d = distance_at(candidate);
        if (!std::isfinite(d))
            return false;
        if (d <= range) {
            done = candidate;
            best[0] = shifted[0];
            best[1] = shifted[1];
            found = true;
        }
        half /= 2.0;
    }
    if (found) {
        result[0] = best[0];
        result[1] = best[1];
    }
    return found;
}

}  // namespace pvol_internal

extern "C" {

int mpj_validate_projection(const map_proj *proj) {
    return proj->type <= LAMBERT ? MPJ_OK : MPJ_BAD_PROJECTION;
}

int mpj_earth_to_map(const map_proj *proj, const earth_pos *pos, double xy[2],
                     unsigned char *visible) {
    const int status = mpj_validate_projection(proj);
    if (status != MPJ_OK)
        return status;
    if (visible)
        *visible = 1;

    const double phi = pos->latitude;
    const double phi0 = proj->reference.latitude;
    const double dlon = pos->longitude - proj->reference.longitude;
    const double dlon_n = fNormalizeAngle(dlon);

    switch (proj->type) {
        case MERCATOR: {
            const double c = cylinder_scale(proj);
            xy[0] = R * c * dlon_n;
            xy[1] = R * c * std::log(std::tan(phi / 2.0 + kPi / 4.0));
            break;
        }
        case POLSTEREO: {
            const double t = std::tan((kHalfPi - phi) / 2.0);
            const double k = (std::fabs(std::sin(phi0)) + 1.0) / 2.0;
            xy[0] = 2.0 * k * R * t * std::sin(dlon);
            xy[1] = -2.0 * k * R * t * std::cos(dlon);
            break;
        }
        case UTM:
        case GAUSS:
            transverse_mercator_forward(proj, phi, dlon_n, xy);
            break;
        case PERSPECTIVE: {
            const double cos_c =
                std::sin(phi0) * std::sin(phi) + std::cos(phi0) * std::cos(phi) * std::cos(dlon);
            if (kViewpoint - cos_c <= 0.0) {
                xy[0] = xy[1] = 0.0;
            } else {
                const double k = (kViewpoint - 1.0) / (kViewpoint - cos_c);
                xy[0] = R * k * std::cos(phi) * std::sin(dlon);
                xy[1] = R * k *
                        (std::cos(phi0) * std::sin(phi) -
                         std::sin(phi0) * std::cos(phi) * std::cos(dlon));
            }
            // Behind the horizon seen from the viewpoint.
            if (cos_c < 1.0 / kViewpoint && visible)
                *visible = 0;
            break;
        }
        case EDC:
            xy[0] = R * dlon_n * cylinder_scale(proj);
            xy[1] = R * phi;
            break;
        case GNOMONIC: {
            const double cos_c =
                std::sin(phi0) * std::sin(phi) + std::cos(phi0) * std::cos(phi) * std::cos(dlon);
            if (cos_c <= 0.0) {
                xy[0] = xy[1] = 0.0;
                if (visible)
                    *visible = 0;
            } else {
                xy[0] = R * std::cos(phi) * std::sin(dlon) / cos_c;
                xy[1] = R *
                        (std::cos(phi0) * std::sin(phi) -
                         std::sin(phi0) * std::cos(phi) * std::cos(dlon)) /
                        cos_c;
            }
            break;
        }
        case LAMBERT: {
            const Geode g = geode_of(proj);
            double n, f, rho0;
            LambertSupport(proj, &n, &f, &rho0, g.a, g.e);
            const double rho = g.a * f * std::pow(lambert_t(phi, g.e), n);
            // The normalised difference keeps points across the antimeridian on their side.
            const double theta = n * dlon_n;
            xy[0] = rho * std::sin(theta) / 1000.0;
            xy[1] = (rho0 - rho * std::cos(theta)) / 1000.0;
            break;
        }
        default: {  // AZIMUTHAL
            polar_pos polar;
            PolarFromEarth(&proj->reference, pos, &polar);
            xy[0] = polar.range * std::sin(polar.azimuth);
            xy[1] = polar.range * std::cos(polar.azimuth);
            break;
        }
    }
    return MPJ_OK;
}

int mpj_map_to_earth(const map_proj *proj, const double xy[2], earth_pos *pos) {
    std::memset(pos, 0, sizeof(*pos));
    const int status = mpj_validate_projection(proj);
    if (status != MPJ_OK)
        return status;

    const double x = xy[0];
    const double y = xy[1];
    const double rho = std::sqrt(x * x + y * y);
    const double phi0 = proj->reference.latitude;
    const double lon0 = proj->reference.longitude;

    switch (proj->type) {
        case MERCATOR: {
            const double c = cylinder_scale(proj);
            pos->longitude = fNormalizeAngle(x / (R * c) + lon0);
            pos->latitude = 2.0 * (std::atan(std::exp(y / (R * c))) - kPi / 4.0);
            break;
        }
        case POLSTEREO: {
            const double k = (std::fabs(std::sin(phi0)) + 1.0) / 2.0;
            pos->latitude = kHalfPi - 2.0 * std::atan(rho / (2.0 * R * k));
            pos->longitude =
                fNormalizeAngle(lon0 + (rho < kOriginRadiusKm ? 0.0 : std::atan2(x, -y)));
            break;
        }
        case UTM:
        case GAUSS:
            transverse_mercator_inverse(proj, xy, pos);
            break;
        case PERSPECTIVE: {
            if (rho <= 0.0) {
                *pos = proj->reference;
                break;
            }
            const double rr = rho / R;
            const double w = 1.0 - (kViewpoint + 1.0) * rr * rr / (kViewpoint - 1.0);
            if (w <= 0.0) {  // beyond the disc of the earth
                pos->latitude = pos->longitude = 0.0;
                pos->flags |= EARTH_POS_OFF_EARTH;
                break;
            }
            const double s = rr / (kViewpoint - 1.0) + (kViewpoint - 1.0) / rr;
            const double sin_c = (kViewpoint - std::sqrt(w)) / s;
            const double c = std::asin(sin_c);
            inverse_from_central_angle(proj, xy, rho, sin_c, std::cos(c), pos);
            break;
        }
        case EDC: {
            const double c = cylinder_scale(proj);
            pos->longitude = fNormalizeAngle(x / (R * c) + lon0);
            pos->latitude = y / R;
            if (pos->latitude > kHalfPi || pos->latitude < -kHalfPi) {
                pos->latitude = 0.0;
                pos->flags |= EARTH_POS_OFF_EARTH;
            }
            break;
        }
        case GNOMONIC: {
            if (rho <= 0.0) {
                *pos = proj->reference;
                break;
            }
            const double c = std::atan(rho / R);
            inverse_from_central_angle(proj, xy, rho, std::sin(c), std::cos(c), pos);
            break;
        }
        case LAMBERT: {
            const Geode g = geode_of(proj);
            double n, f, rho0;
            LambertSupport(proj, &n, &f, &rho0, g.a, g.e);
            double big_x = 1000.0 * x;
            double big_y = rho0 - 1000.0 * y;
            double rho_m = std::sqrt(big_x * big_x + big_y * big_y);
            // A cone opening southwards (n < 0) measures its angle from the other side.
            if (n < 0.0) {
                big_x = -big_x;
                big_y = -big_y;
                rho_m = -rho_m;
            }
            const double theta = (big_x == 0.0 && big_y == 0.0) ? 0.0 : std::atan2(big_x, big_y);
            pos->longitude = fNormalizeAngle(theta / n + lon0);
            const double t = std::pow(rho_m / (g.a * f), 1.0 / n);
            pos->latitude = lambert_latitude(t, g.e);
            break;
        }
        default: {  // AZIMUTHAL
            if (rho < kOriginRadiusKm) {
                *pos = proj->reference;
                break;
            }
            double az = std::atan2(x, y);
            if (az < 0.0)
                az += kTwoPi;
            const polar_pos polar{rho, az};
            EarthFromPolar(&proj->reference, &polar, pos);
            break;
        }
    }
    return MPJ_OK;
}

void FillShiftedPosition(double dst[2], const double src[2], int direction, double distance) {
    dst[0] = src[0];
    dst[1] = src[1];
    switch (direction) {
        case MPJ_WEST:
            dst[0] = src[0] - distance;
            break;
        case MPJ_NORTH:
            dst[1] = src[1] + distance;
            break;
        case MPJ_SOUTH:
            dst[1] = src[1] - distance;
            break;
        default:
            dst[0] = src[0] + distance;
            break;
    }
}

void mpjSearchForMap(const map_proj *proj, const earth_pos *origin, const double start[2],
                     double result[2], int direction, double range) {
    search_for_map(proj, origin, start, result, direction, range);
}

}  // extern "C"
