#include "ray_order.h"

#include <algorithm>
#include <cmath>

namespace odim {
namespace {

constexpr double kDegreesPerRadian = 180.0 / M_PI;

// a in [0, 360).
double wrap_degrees(double a) {
    const double w = std::fmod(a, 360.0);
    return w < 0 ? w + 360.0 : w;
}

// The signed turn from a to b, -180 to 180 degrees.
double turn(double a, double b) {
    return wrap_degrees(b - a + 180.0) - 180.0;
}

}  // namespace

RayOrder order_rays(const radar_sweep *sweep, bool rhi) {
    const int count = static_cast<int>(rsweep_get_ray_count(sweep));
    RayOrder order;
    // Middle angle of each slot in degrees; NaN for an absent ray.
    std::vector<double> angle(count, NAN);
    for (int i = 0; i < count; ++i) {
        const radar_ray *ray = rsweep_get_ray(sweep, i);
        if (ray == nullptr)
            continue;
        const angle_interval interval = rhi ? rray_get_elevation(ray) : rray_get_azimuth(ray);
        angle[i] = interval.between * kDegreesPerRadian;
        if (!rhi)
            angle[i] = wrap_degrees(angle[i]);
    }

    // Direction of the antenna over the sweep: the sum of the turns between successive rays.
    double total = 0;
    int first = -1, last = -1;
    for (int i = 0; i < count; ++i) {
        if (std::isnan(angle[i]))
            continue;
        if (last >= 0)
            total += rhi ? angle[i] - angle[last] : turn(angle[last], angle[i]);
        if (first < 0)
            first = i;
        last = i;
    }
    std::vector<int> sequence(count);
    for (int i = 0; i < count; ++i)
        sequence[i] = total >= 0 ? i : count - 1 - i;

    int rotation = 0;
    if (!rhi && first >= 0) {
        // Absent rays get the angle their place implies, so that an absent ray nearest north
        // still becomes row 0.
        const double step = last > first ? std::fabs(total) / (last - first) : 0.0;
        double best = INFINITY;
        int previous = -1;
        for (int j = 0; j < count; ++j) {
            const int slot = sequence[j];
            double a = angle[slot];
            if (!std::isnan(a)) {
                previous = j;
            } else if (previous >= 0) {
                a = wrap_degrees(angle[sequence[previous]] + (j - previous) * step);
            } else {
                const int next = total >= 0 ? first : last;  // first present ray of the sequence
                const int ahead = static_cast<int>(
                    std::find(sequence.begin(), sequence.end(), next) - sequence.begin());
                a = wrap_degrees(angle[next] - (ahead - j) * step);
            }
            // Row 0 is the ray whose interval holds north; on a border the one that starts
            // there. Shifting by a little less than half a ray puts that ray's key lowest.
            const double key = wrap_degrees(a + 0.49 * step);
            if (key < best) {
                best = key;
                rotation = j;
            }
        }
    }
    order.slots.resize(count);
    for (int row = 0; row < count; ++row)
        order.slots[row] = sequence[(row + rotation) % count];

    const int earliest = rsweep_get_earliest_ray(sweep);
    for (int row = 0; row < count; ++row) {
        if (order.slots[row] == earliest)
            order.a1gate = row;
    }
    return order;
}

}  // namespace odim
