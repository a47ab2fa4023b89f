// Product regions: the solver that completes a region from what is known of it, its checks,
// rescaling and the pixel conversions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "pvol/orva_utils.h"
#include "orva_utils_internal.h"

using namespace pvol_internal;

static_assert(sizeof(map_region) == 5 * 24 + 4 * 8 + 10 * 8 + 2 * 8, "map_region layout");
static_assert(offsetof(map_region, earth_north_km) == 120, "map_region: distances follow points");
static_assert(offsetof(map_region, corner0_map) == 152, "map_region: map points follow distances");

namespace {

// Quarter of the circumference of the 6371 km sphere.
constexpr double kQuarterCircumferenceKm = 10007.543398010286;
constexpr double kMinParallel = 0.0017453292519943296;     // 0.1 degree
constexpr double kMaxParallel = 1.5690509975429023;        // 89.9 degrees
constexpr double kMaxMeridianOffset = 0.6283185307179586;  // 36 degrees
constexpr double kPolstereoMinLatitude = -2.356194490192345;

bool is_distance(double km) {
    return km > 0.0 && km <= kHalfCircumferenceKm;
}

bool is_position(const earth_pos &p) {
    return p.longitude >= -kTwoPi && p.longitude <= kTwoPi && p.latitude >= -kPi &&
           p.latitude <= kPi && (p.flags & EARTH_POS_OFF_EARTH) == 0;
}

double range_between(const earth_pos &from, const earth_pos &to) {
    polar_pos polar;
    PolarFromEarth(&from, &to, &polar);
    return polar.range;
}

bool strictly_increasing(const double a[2], const double b[2], const double c[2]) {
    return a[0] < b[0] && b[0] < c[0] && a[1] < b[1] && b[1] < c[1];
}

// One step of the solver: derives `target` from the fields in `needs`.
enum class Step {
    Corner0FromCentreAndCorner2,
    CentreFromCorners,
    Corner2FromCentreAndCorner0,
    EastMapFromCorner2AndCentre,
    NorthMapFromCentreAndCorner2,
    Corner2FromEdgePoints,
    Corner0Earth,
    CentreEarth,
    Corner2Earth,
    EastEarth,
    NorthEarth,
    EarthEastDistance,
    MapEastDistance,
    EastMapFromMapDistance,
    EastMapBySearch,
    EarthNorthDistance,
    MapNorthDistance,
    NorthMapFromMapDistance,
    NorthMapBySearch,
    Corner0Map,
    CentreMap,
    Corner2Map,
    CentreFromCorner0AndMapDistances,
};

struct Rule {
    Step step;
    uint32_t target;
    uint32_t needs;
};

// In order of preference: the solver always applies the first rule that can run.
constexpr Rule kRules[] = {
    {Step::Corner0FromCentreAndCorner2, MPJ_CORNER0_MAP, MPJ_CENTRE_MAP | MPJ_CORNER2_MAP},
    {Step::CentreFromCorners, MPJ_CENTRE_MAP, MPJ_CORNER0_MAP | MPJ_CORNER2_MAP},
    {Step::Corner2FromCentreAndCorner0, MPJ_CORNER2_MAP, MPJ_CENTRE_MAP | MPJ_CORNER0_MAP},
    {Step::EastMapFromCorner2AndCentre, MPJ_EAST_MAP, MPJ_CORNER2_MAP | MPJ_CENTRE_MAP},
    {Step::NorthMapFromCentreAndCorner2, MPJ_NORTH_MAP, MPJ_CENTRE_MAP | MPJ_CORNER2_MAP},
    {Step::Corner2FromEdgePoints, MPJ_CORNER2_MAP, MPJ_EAST_MAP | MPJ_NORTH_MAP},
    {Step::Corner0Earth, MPJ_CORNER0_EARTH, MPJ_CORNER0_MAP},
    {Step::CentreEarth, MPJ_CENTRE_EARTH, MPJ_CENTRE_MAP},
    {Step::Corner2Earth, MPJ_CORNER2_EARTH, MPJ_CORNER2_MAP},
    {Step::EastEarth, MPJ_EAST_EARTH, MPJ_EAST_MAP},
    {Step::NorthEarth, MPJ_NORTH_EARTH, MPJ_NORTH_MAP},
    {Step::EarthEastDistance, MPJ_EARTH_EAST_DIST, MPJ_CENTRE_EARTH | MPJ_EAST_EARTH},
    {Step::MapEastDistance, MPJ_MAP_EAST_DIST, MPJ_EAST_MAP | MPJ_CENTRE_MAP},
    {Step::EastMapFromMapDistance, MPJ_EAST_MAP, MPJ_CENTRE_MAP | MPJ_MAP_EAST_DIST},
    {Step::EastMapBySearch, MPJ_EAST_MAP, MPJ_CENTRE_MAP | MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST},
    {Step::EarthNorthDistance, MPJ_EARTH_NORTH_DIST, MPJ_CENTRE_EARTH | MPJ_NORTH_EARTH},
    {Step::MapNorthDistance, MPJ_MAP_NORTH_DIST, MPJ_NORTH_MAP | MPJ_CENTRE_MAP},
    {Step::NorthMapFromMapDistance, MPJ_NORTH_MAP, MPJ_CENTRE_MAP | MPJ_MAP_NORTH_DIST},
    {Step::NorthMapBySearch, MPJ_NORTH_MAP,
     MPJ_CENTRE_MAP | MPJ_CENTRE_EARTH | MPJ_EARTH_NORTH_DIST},
    {Step::Corner0Map, MPJ_CORNER0_MAP, MPJ_CORNER0_EARTH},
    {Step::CentreMap, MPJ_CENTRE_MAP, MPJ_CENTRE_EARTH},
    {Step::Corner2Map, MPJ_CORNER2_MAP, MPJ_CORNER2_EARTH},
    {Step::CentreFromCorner0AndMapDistances, MPJ_CENTRE_MAP,
     MPJ_CORNER0_MAP | MPJ_MAP_EAST_DIST | MPJ_MAP_NORTH_DIST},
};

enum class Outcome { Done, NotFound, Failed };

struct StepResult {
    Outcome outcome;
    int status;  // of a failed conversion
};

StepResult to_map(const map_proj *proj, const earth_pos &pos, double xy[2]) {
    const int status = mpj_earth_to_map(proj, &pos, xy, nullptr);
    return {status == MPJ_OK ? Outcome::Done : Outcome::Failed, status};
}

StepResult to_earth(const map_proj *proj, const double xy[2], earth_pos &pos) {
    const int status = mpj_map_to_earth(proj, xy, &pos);
    return {status == MPJ_OK ? Outcome::Done : Outcome::Failed, status};
}

StepResult search(const map_proj *proj, map_region *r, int direction, double range,
                  double result[2]) {
    const bool found = search_for_map(proj, &r->centre, r->centre_map, result, direction, range);
    return {found ? Outcome::Done : Outcome::NotFound, MPJ_OK};
}

StepResult apply(Step step, const map_proj *proj, map_region *r) {
    constexpr StepResult done{Outcome::Done, MPJ_OK};
    switch (step) {
        case Step::Corner0FromCentreAndCorner2:
            for (int i = 0; i < 2; ++i)
                r->corner0_map[i] = 2.0 * r->centre_map[i] - r->corner2_map[i];
            return done;
        case Step::CentreFromCorners:
            for (int i = 0; i < 2; ++i)
                r->centre_map[i] = (r->corner0_map[i] + r->corner2_map[i]) / 2.0;
            return done;
        case Step::Corner2FromCentreAndCorner0:
            for (int i = 0; i < 2; ++i)
                r->corner2_map[i] = 2.0 * r->centre_map[i] - r->corner0_map[i];
            return done;
        case Step::EastMapFromCorner2AndCentre:
            r->east_map[0] = r->corner2_map[0];
            r->east_map[1] = r->centre_map[1];
            return done;
        case Step::NorthMapFromCentreAndCorner2:
            r->north_map[0] = r->centre_map[0];
            r->north_map[1] = r->corner2_map[1];
            return done;
        case Step::Corner2FromEdgePoints:
            r->corner2_map[0] = r->east_map[0];
            r->corner2_map[1] = r->north_map[1];
            return done;
        case Step::Corner0Earth:
            return to_earth(proj, r->corner0_map, r->corner0);
        case Step::CentreEarth:
            return to_earth(proj, r->centre_map, r->centre);
        case Step::Corner2Earth:
            return to_earth(proj, r->corner2_map, r->corner2);
        case Step::EastEarth:
            return to_earth(proj, r->east_map, r->east_point);
        case Step::NorthEarth:
            return to_earth(proj, r->north_map, r->north_point);
        case Step::EarthEastDistance:
            r->earth_east_km = range_between(r->centre, r->east_point);
            return done;
        case Step::MapEastDistance:
            r->map_east_km = r->east_map[0] - r->centre_map[0];
            return done;
        case Step::EastMapFromMapDistance:
            r->east_map[0] = r->centre_map[0] + r->map_east_km;
            r->east_map[1] = r->centre_map[1];
            return done;
        case Step::EastMapBySearch:
            return search(proj, r, MPJ_EAST, r->earth_east_km, r->east_map);
        case Step::EarthNorthDistance:
            r->earth_north_km = range_between(r->centre, r->north_point);
            return done;
        case Step::MapNorthDistance:
            r->map_north_km = r->north_map[1] - r->centre_map[1];
            return done;
        case Step::NorthMapFromMapDistance:
            r->north_map[0] = r->centre_map[0];
            r->north_map[1] = r->centre_map[1] + r->map_north_km;
            return done;
        case Step::NorthMapBySearch:
            return search(proj, r, MPJ_NORTH, r->earth_north_km, r->north_map);
        case Step::Corner0Map:
            return to_map(proj, r->corner0, r->corner0_map);
        case Step::CentreMap:
            return to_map(proj, r->centre, r->centre_map);
        case Step::Corner2Map:
            return to_map(proj, r->corner2, r->corner2_map);
        case Step::CentreFromCorner0AndMapDistances:
            r->centre_map[0] = r->corner0_map[0] + r->map_east_km;
            r->centre_map[1] = r->corner0_map[1] + r->map_north_km;
            return done;
    }
    return done;
}

}  // namespace

extern "C" {

int mpj_validate_arguments(const map_region *r, int flags) {
    const uint32_t known = static_cast<uint32_t>(flags);
    if ((known & MPJ_CORNER0_EARTH) && !is_position(r->corner0))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_CENTRE_EARTH) && !is_position(r->centre))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_CORNER2_EARTH) && !is_position(r->corner2))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_EARTH_EAST_DIST) && !is_distance(r->earth_east_km))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_MAP_EAST_DIST) && !is_distance(r->map_east_km))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_EARTH_NORTH_DIST) && !is_distance(r->earth_north_km))
        return MPJ_BAD_ARGUMENTS;
    if ((known & MPJ_MAP_NORTH_DIST) && !is_distance(r->map_north_km))
        return MPJ_BAD_ARGUMENTS;
    return MPJ_OK;
}

int mpj_validate_region(const map_proj *proj, const map_region *r) {
    if (!is_distance(r->earth_north_km) || !is_distance(r->earth_east_km) ||
        !is_distance(r->map_north_km) || !is_distance(r->map_east_km)) {
        return MPJ_BAD_REGION;
    }
    auto centre_too_far = [&] {
        return range_between(proj->reference, r->centre) > kQuarterCircumferenceKm;
    };
    switch (proj->type) {
        case POLSTEREO:
            if (r->corner0.latitude < kPolstereoMinLatitude ||
                r->centre.latitude < kPolstereoMinLatitude ||
                r->corner2.latitude < kPolstereoMinLatitude) {
                return MPJ_BAD_REGION;
            }
            break;
        case UTM:
        case GAUSS:
            if (std::fabs(fNormalizeAngle(r->centre.longitude - proj->reference.longitude)) >
                kMaxMeridianOffset) {
                return MPJ_BAD_REGION;
            }
            [[fallthrough]];
        case MERCATOR:
            if (!strictly_increasing(r->corner0_map, r->centre_map, r->corner2_map))
                return MPJ_BAD_REGION;
            break;
        case PERSPECTIVE:
        case GNOMONIC:
            if (centre_too_far())
                return MPJ_BAD_REGION;
            break;
        case LAMBERT: {
            if (centre_too_far())
                return MPJ_BAD_REGION;
            const bool north = proj->reference.latitude >= 0.0;
            for (double parallel : {proj->std_parallel1, proj->std_parallel2}) {
                const double size = std::fabs(parallel);
                if (!(size >= kMinParallel && size <= kMaxParallel))
                    return MPJ_BAD_REGION;
                if (north ? parallel < 0.0 : parallel > 0.0)
                    return MPJ_BAD_REGION;
            }
            break;
        }
        default:
            break;
    }
    return MPJ_OK;
}

int mpj_pin_region_int(const map_proj *proj, map_region *r, int flags) {
    const int status = mpj_validate_arguments(r, flags);
    if (status != MPJ_OK)
        return status;

    constexpr int kRuleCount = sizeof(kRules) / sizeof(kRules[0]);
    static_assert(kRuleCount <= 32, "one bit per rule");
    uint32_t known = static_cast<uint32_t>(flags);
    uint32_t fruitless = 0;  // rules whose search found nothing
    for (bool progress = true; progress;) {
        progress = false;
        for (int i = 0; i < kRuleCount; ++i) {
            const Rule &rule = kRules[i];
            if ((known & rule.target) || (fruitless & (1u << i)) ||
                (known & rule.needs) != rule.needs) {
                continue;
            }
            const StepResult result = apply(rule.step, proj, r);
            if (result.outcome == Outcome::Failed)
                return result.status;
            if (result.outcome == Outcome::NotFound) {
                // A search that finds nothing is not retried, and leaves its target unknown
                // rather than known with a stale value.
                fruitless |= 1u << i;
                continue;
            }
            known |= rule.target;
            progress = true;
            break;
        }
    }
    if ((known & MPJ_REGION_COMPLETE) != MPJ_REGION_COMPLETE)
        return MPJ_INCOMPLETE;

    const double width = r->corner2_map[0] - r->corner0_map[0];
    if (width == 0.0)
        return MPJ_ZERO_WIDTH;
    r->pixels_y = (r->corner2_map[1] - r->corner0_map[1]) * r->pixels_x / width;
    return mpj_validate_region(proj, r);
}

int mpj_pin_region_x(const map_proj *proj, map_region *r, int flags) {
    const int status = mpj_validate_projection(proj);
    if (status != MPJ_OK)
        return status;
    return mpj_pin_region_int(proj, r, flags & 0xf7);
}

int mpj_pin_region_xy(const map_proj *proj, map_region *r, int flags) {
    const double wanted_pixels_y = r->pixels_y;
    int status = mpj_pin_region_x(proj, r, flags);
    if (status == MPJ_OK && std::fabs(r->pixels_y - wanted_pixels_y) > 0.0001) {
        // Keep the centre and move corner 2 vertically so that the caller's pixel counts fit.
        status = mpj_rescale_region(proj, r, MPJ_CENTRE_EARTH | MPJ_MAP_EAST_DIST,
                                    wanted_pixels_y / r->pixels_x);
    }
    return status;
}

int mpj_rescale_region(const map_proj *proj, map_region *r, int flags, double ratio) {
    const int status = mpj_validate_projection(proj);
    if (status != MPJ_OK)
        return status;
    if (!std::isfinite(ratio))
        return MPJ_BAD_ARGUMENTS;

    const uint32_t given = static_cast<uint32_t>(flags);
    uint32_t anchor_bits;
    const double *anchor;
    double *other;
    uint32_t other_map;
    if (given & MPJ_CENTRE_EARTH) {
        anchor_bits = MPJ_CENTRE_EARTH | MPJ_CENTRE_MAP;
        anchor = r->centre_map;
        other = r->corner2_map;
        other_map = MPJ_CORNER2_MAP;
    } else if (given & MPJ_CORNER0_EARTH) {
        anchor_bits = MPJ_CORNER0_EARTH | MPJ_CORNER0_MAP;
        anchor = r->corner0_map;
        other = r->corner2_map;
        other_map = MPJ_CORNER2_MAP;
    } else if (given & MPJ_CORNER2_EARTH) {
        anchor_bits = MPJ_CORNER2_EARTH | MPJ_CORNER2_MAP;
        anchor = r->corner2_map;
        other = r->corner0_map;
        other_map = MPJ_CORNER0_MAP;
    } else {
        return MPJ_NO_ANCHOR;
    }

    uint32_t known = anchor_bits;
    if (given & MPJ_MAP_EAST_DIST) {
        other[1] = (other[0] - anchor[0]) * ratio + anchor[1];
        known |= other_map;
    } else if (given & MPJ_MAP_NORTH_DIST) {
        other[0] = (other[1] - anchor[1]) / ratio + anchor[0];
        known |= other_map;
    }
    return mpj_pin_region_int(proj, r, static_cast<int>(known));
}

void mpj_set_earth_de(map_region *r, double km) {
    r->earth_east_km = km;
}

void mpj_set_earth_dn(map_region *r, double km) {
    r->earth_north_km = km;
}

double mpj_get_earth_scale_e(const map_region *r) {
    return r->pixels_x < 1.0 ? 0.0 : 2.0 * r->earth_east_km / r->pixels_x;
}

double mpj_get_earth_scale_n(const map_region *r) {
    return r->pixels_y < 1.0 ? 0.0 : 2.0 * r->earth_north_km / r->pixels_y;
}

int mpj_pixel_to_earth(const map_proj *proj, const map_region *r, const double pixel[2],
                       earth_pos *pos) {
    if (r->pixels_x == 0.0)
        return MPJ_ZERO_PIXELS;
    const double scale = (r->corner2_map[0] - r->corner0_map[0]) / r->pixels_x;
    const double xy[2] = {pixel[0] * scale + r->corner0_map[0],
                          pixel[1] * scale + r->corner0_map[1]};
    return mpj_map_to_earth(proj, xy, pos);
}

int mpj_earth_to_pixel(const map_proj *proj, const map_region *r, const earth_pos *pos,
                       double pixel[2], char *visible) {
    double xy[2];
    unsigned char seen = 1;
    const int status = mpj_earth_to_map(proj, pos, xy, &seen);
    if (status != MPJ_OK)
        return status;
    if (visible)
        *visible = static_cast<char>(seen);
    const double width = r->corner2_map[0] - r->corner0_map[0];
    if (width == 0.0)
        return MPJ_ZERO_WIDTH;
    const double scale = r->pixels_x / width;
    pixel[0] = (xy[0] - r->corner0_map[0]) * scale;
    pixel[1] = (xy[1] - r->corner0_map[1]) * scale;
    return MPJ_OK;
}

}  // extern "C"
