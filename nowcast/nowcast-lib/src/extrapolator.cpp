#include "nowcast/extrapolator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace azm {

namespace {

bool validVector(double u, double v) {
    return u != kMissingVector && v != kMissingVector && std::isfinite(u) && std::isfinite(v);
}

// Bilinear weights of the up to four pixels around (x, y); false outside the pixel centres'
// rectangle (also for a coordinate that is not a number).
struct Corners {
    int index[4];
    double weight[4];
    int count = 0;
};

bool corners(int size_x, int size_y, double x, double y, Corners &c) {
    if (!(x >= 0.0 && x <= size_x - 1 && y >= 0.0 && y <= size_y - 1))
        return false;
    const int x0 = std::min(static_cast<int>(x), size_x - 1);
    const int y0 = std::min(static_cast<int>(y), size_y - 1);
    const double fx = x - x0;
    const double fy = y - y0;
    // Corners of zero weight are left out, so that a point on a pixel centre reads that pixel
    // alone (exactly, whatever its neighbours hold) and the last row and column need no next one.
    const auto add = [&](int cx, int cy, double w) {
        if (w > 0.0) {
            c.index[c.count] = cx + size_x * cy;
            c.weight[c.count] = w;
            ++c.count;
        }
    };
    add(x0, y0, (1.0 - fx) * (1.0 - fy));
    add(x0 + 1, y0, fx * (1.0 - fy));
    add(x0, y0 + 1, (1.0 - fx) * fy);
    add(x0 + 1, y0 + 1, fx * fy);
    return true;
}

// Bilinear interpolation of two grids of one size at (x, y), NaN marking missing elements;
// false outside the grid or where a missing element takes part. The innermost loop of every
// forecast, without a branch per corner.
bool interpolatePair(const Grid<double> &grid_x, const Grid<double> &grid_y, double x, double y,
                     double &u, double &v) {
    const int size_x = grid_x.sizeX();
    const int size_y = grid_x.sizeY();
    if (!(x >= 0.0 && x <= size_x - 1 && y >= 0.0 && y <= size_y - 1))
        return false;
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const double fx = x - x0;
    const double fy = y - y0;
    // On the last column or row the weight of the next one is 0: read the same pixel again.
    const int dx = x0 + 1 < size_x ? 1 : 0;
    const int dy = y0 + 1 < size_y ? size_x : 0;
    const int k = x0 + size_x * y0;
    const double w[4] = {(1.0 - fx) * (1.0 - fy), fx * (1.0 - fy), (1.0 - fx) * fy, fx * fy};
    const int index[4] = {k, k + dx, k + dy, k + dx + dy};
    const double *values_x = grid_x.getGrid();
    const double *values_y = grid_y.getGrid();
    u = 0.0;
    v = 0.0;
    for (int i = 0; i < 4; ++i) {
        // A missing element of zero weight must not spoil the sum.
        u += w[i] > 0.0 ? w[i] * values_x[index[i]] : 0.0;
        v += w[i] > 0.0 ? w[i] * values_y[index[i]] : 0.0;
    }
    return !std::isnan(u) && !std::isnan(v);
}

// Trajectory positions are sampled on a grid of 2^-16 pixel, so that the rounding errors of many
// sub-steps do not turn a whole-pixel shift into a blend of neighbours.
double snap(double coordinate) {
    constexpr double kResolution = 65536.0;
    return std::round(coordinate * kResolution) / kResolution;
}

}  // namespace

Extrapolator::Extrapolator(const Grid<double> &motion_x, const Grid<double> &motion_y)
    : m_motion_x(motion_x),
      m_motion_y(motion_y),
      m_good(motion_x.sizeX() == motion_y.sizeX() && motion_x.sizeY() == motion_y.sizeY()) {
    if (!m_good)
        return;
    // Missing vectors become NaN in both components, so that they spoil any sum they enter.
    for (int k = 0; k < m_motion_x.size(); ++k) {
        const double u = m_motion_x.get(k);
        const double v = m_motion_y.get(k);
        if (validVector(u, v)) {
            m_max_speed = std::max(m_max_speed, std::hypot(u, v));
        } else {
            m_motion_x.set(k, std::numeric_limits<double>::quiet_NaN());
            m_motion_y.set(k, std::numeric_limits<double>::quiet_NaN());
        }
    }
}

bool Extrapolator::motionAt(double x, double y, double &u, double &v) const {
    return interpolatePair(m_motion_x, m_motion_y, x, y, u, v);
}

std::vector<Grid<double>> Extrapolator::forecast(const Grid<double> &image, double step,
                                                 int count) const {
    std::vector<Grid<double>> leads;
    if (!m_good || image.sizeX() != sizeX() || image.sizeY() != sizeY() || !std::isfinite(step) ||
        step <= 0.0 || count < 1)
        return leads;
    leads.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        leads.emplace_back(sizeX(), sizeY());

    // The interpolated motion is never faster than the fastest vector, so sub-steps of this
    // length move no trajectory more than one pixel.
    const int substeps = std::max(1, static_cast<int>(std::ceil(m_max_speed * step)));
    const double dt = step / substeps;
    const double missing = std::numeric_limits<double>::quiet_NaN();

    // Where the trajectory through each pixel centre was one step earlier, as a displacement
    // (NaN where it meets a missing vector): backward in time with the midpoint rule. Beyond the
    // border the motion of the nearest border point carries on, so that a trajectory that ends
    // just inside the grid is not lost for having passed just outside it between pixel centres.
    const auto motionNear = [this](double x, double y, double &u, double &v) {
        return motionAt(std::clamp(x, 0.0, sizeX() - 1.0), std::clamp(y, 0.0, sizeY() - 1.0), u, v);
    };
    // Each sub-step (and below, each lead) is taken for a whole row before the next, so that
    // the processor works on many independent trajectories at once instead of waiting on one.
    Grid<double> back_x(sizeX(), sizeY());
    Grid<double> back_y(sizeX(), sizeY());
    std::vector<double> xs(static_cast<std::size_t>(sizeX()));
    std::vector<double> ys(xs.size());
    std::vector<char> traced(xs.size());
    for (int cy = 0; cy < sizeY(); ++cy) {
        for (int cx = 0; cx < sizeX(); ++cx) {
            xs[cx] = cx;
            ys[cx] = cy;
            traced[cx] = true;
        }
        for (int s = 0; s < substeps; ++s) {
            for (int cx = 0; cx < sizeX(); ++cx) {
                double u, v, um, vm;
                traced[cx] = traced[cx] && motionNear(xs[cx], ys[cx], u, v) &&
                             motionNear(xs[cx] - 0.5 * dt * u, ys[cx] - 0.5 * dt * v, um, vm);
                if (traced[cx]) {
                    xs[cx] -= dt * um;
                    ys[cx] -= dt * vm;
                }
            }
        }
        for (int cx = 0; cx < sizeX(); ++cx) {
            back_x.set(cx, cy, traced[cx] ? xs[cx] - cx : missing);
            back_y.set(cx, cy, traced[cx] ? ys[cx] - cy : missing);
        }
    }

    // Longer leads chain the steps: a trajectory between pixel centres takes the interpolated
    // displacement of the centres around it; once it starts outside the grid it stays lost.
    const double *pixels = image.getGrid();
    for (int cy = 0; cy < sizeY(); ++cy) {
        for (int cx = 0; cx < sizeX(); ++cx) {
            xs[cx] = cx;
            ys[cx] = cy;
            traced[cx] = true;
        }
        for (int lead = 0; lead < count; ++lead) {
            Grid<double> &forecast = leads[static_cast<std::size_t>(lead)];
            for (int cx = 0; cx < sizeX(); ++cx) {
                double dx, dy;
                traced[cx] = traced[cx] && interpolatePair(back_x, back_y, xs[cx], ys[cx], dx, dy);
                if (traced[cx]) {
                    xs[cx] += dx;
                    ys[cx] += dy;
                }
                double value = missing;
                Corners c;
                if (traced[cx] && corners(sizeX(), sizeY(), snap(xs[cx]), snap(ys[cx]), c)) {
                    value = 0.0;
                    for (int i = 0; i < c.count && !std::isnan(value); ++i)
                        value += c.weight[i] * pixels[c.index[i]];
                }
                forecast.set(cx, cy, value);
            }
        }
    }
    return leads;
}

}  // namespace azm
