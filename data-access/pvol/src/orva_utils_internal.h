// Internal pieces of the geodesy and projection module, shared by its sources and tests.
#ifndef PVOL_ORVA_UTILS_INTERNAL_H
#define PVOL_ORVA_UTILS_INTERNAL_H

#include "pvol/orva_utils.h"

namespace pvol_internal {

inline constexpr double kEarthRadiusKm = 6371.0;
inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kTwoPi = 2.0 * kPi;
inline constexpr double kHalfPi = 0.5 * kPi;
// Longest distance on the earth (half the circumference of the 6371 km sphere).
inline constexpr double kHalfCircumferenceKm = 20015.086796020572;

// Latitude of the Lambert inverse from its isometric parameter t, by fixed-point iteration
// until one step changes less than one second of arc (at most `max_iterations` steps).
// Reports "Lambert converge failed" on standard error when it does not settle.
double lambert_latitude(double t, double e, int max_iterations = 10);

// mpjSearchForMap that tells whether it found a point (result written) or not.
bool search_for_map(const map_proj *proj, const earth_pos *origin, const double start[2],
                    double result[2], int direction, double range);

}  // namespace pvol_internal

#endif  // PVOL_ORVA_UTILS_INTERNAL_H
