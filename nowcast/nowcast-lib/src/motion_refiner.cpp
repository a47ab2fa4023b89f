#include "nowcast/motion_refiner.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace azm {

namespace {

// A symmetric 2 x 2 matrix [[xx, xy], [xy, yy]].
struct Sym2 {
    double xx = 0.0, xy = 0.0, yy = 0.0;
};

// What one box, or a pool of boxes, says about the motion: the certainty matrix A and A times
// the displacement, so that pools are sums.
struct Evidence {
    Sym2 a;
    double bx = 0.0, by = 0.0;

    void add(const Evidence &other, double weight) {
        a.xx += weight * other.a.xx;
        a.xy += weight * other.a.xy;
        a.yy += weight * other.a.yy;
        bx += weight * other.bx;
        by += weight * other.by;
    }
    // The displacement that the evidence supports, or false when A is singular.
    bool solve(double &dx, double &dy) const {
        const double det = a.xx * a.yy - a.xy * a.xy;
        if (!(det > 0.0))
            return false;
        dx = (a.yy * bx - a.xy * by) / det;
        dy = (a.xx * by - a.xy * bx) / det;
        return true;
    }
};

// The images as correlation sees them: values below the signal threshold are 0, no data (NaN)
// stays NaN.
std::vector<double> signalOf(const Grid<double> &image, double threshold) {
    std::vector<double> signal(static_cast<std::size_t>(image.size()));
    const double *values = image.getGrid();
    for (int k = 0; k < image.size(); ++k)
        signal[k] = std::isnan(values[k]) || values[k] >= threshold ? values[k] : 0.0;
    return signal;
}

// Correlation of one box of the earlier image with the later image at whole-pixel displacements.
class BoxCorrelation {
  public:
    BoxCorrelation(const std::vector<double> &earlier, const std::vector<double> &later, int size_x,
                   int size_y, int cx, int cy, int half)
        : m_earlier(earlier),
          m_later(later),
          m_size_x(size_x),
          m_size_y(size_y),
          m_x0(std::max(0, cx - half)),
          m_x1(std::min(size_x, cx + half)),
          m_y0(std::max(0, cy - half)),
          m_y1(std::min(size_y, cy + half)),
          m_min_overlap(half * half * 2) {}

    // Pixels of the box (cut to the grid) that hold echo.
    int echoPixels() const {
        int count = 0;
        for (int y = m_y0; y < m_y1; ++y)
            for (int x = m_x0; x < m_x1; ++x)
                count += m_earlier[x + m_size_x * y] > 0.0;
        return count;
    }

    // Pearson coefficient of the box with the later image moved back by (dx, dy), over the
    // pixels whose displaced position lies in the grid and where both images have data; NaN
    // when that overlap is under half a box or either side is constant.
    double at(int dx, int dy) const {
        const int x0 = std::max(m_x0, -dx), x1 = std::min(m_x1, m_size_x - dx);
        const int y0 = std::max(m_y0, -dy), y1 = std::min(m_y1, m_size_y - dy);
        if (x1 <= x0 || y1 <= y0 || (x1 - x0) * (y1 - y0) < m_min_overlap)
            return NAN;
        double sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
        int count = 0;
        for (int y = y0; y < y1; ++y) {
            const double *a = m_earlier.data() + m_size_x * y;
            const double *b = m_later.data() + m_size_x * (y + dy) + dx;
            for (int x = x0; x < x1; ++x) {
                // Beyond the radar's reach an echo is unknown, not absent: such pixels say
                // nothing about the motion.
                if (std::isnan(a[x]) || std::isnan(b[x]))
                    continue;
                sa += a[x];
                sb += b[x];
                saa += a[x] * a[x];
                sbb += b[x] * b[x];
                sab += a[x] * b[x];
                ++count;
            }
        }
        if (count < m_min_overlap)
            return NAN;
        const double n = static_cast<double>(count);
        const double va = n * saa - sa * sa;
        const double vb = n * sbb - sb * sb;
        if (!(va > 0.0 && vb > 0.0))
            return NAN;
        return (n * sab - sa * sb) / std::sqrt(va * vb);
    }

  private:
    const std::vector<double> &m_earlier;
    const std::vector<double> &m_later;
    int m_size_x, m_size_y;
    int m_x0, m_x1, m_y0, m_y1;
    int m_min_overlap;
};

// The coefficients of a box around a first guess, each computed once.
class CorrelationSurface {
  public:
    CorrelationSurface(const BoxCorrelation &box, int guess_x, int guess_y, int reach,
                       double speed_limit)
        : m_box(box),
          m_guess_x(guess_x),
          m_guess_y(guess_y),
          m_reach(reach),
          m_width(2 * reach + 1),
          m_speed_limit(speed_limit),
          m_values(static_cast<std::size_t>(m_width * m_width), kNotComputed) {}

    // NaN outside the reach of the first guess, beyond the speed limit, or where the box has no
    // coefficient.
    double at(int dx, int dy) {
        const int i = dx - m_guess_x + m_reach;
        const int j = dy - m_guess_y + m_reach;
        if (i < 0 || j < 0 || i >= m_width || j >= m_width || std::hypot(dx, dy) > m_speed_limit)
            return NAN;
        double &value = m_values[static_cast<std::size_t>(i + m_width * j)];
        if (value == kNotComputed)
            value = m_box.at(dx, dy);
        return value;
    }

  private:
    static constexpr double kNotComputed = -2.0;  // below every coefficient
    const BoxCorrelation &m_box;
    int m_guess_x, m_guess_y, m_reach, m_width;
    double m_speed_limit;
    std::vector<double> m_values;
};

// Fits c(x, y) = c0 + gx x + gy y + (hxx x^2 + 2 hxy x y + hyy y^2) / 2 by least squares to the
// 3 x 3 coefficients around (px, py), a whole-pixel maximum, and turns it into evidence: the
// certainty is -H, keeping only the directions whose curvature reaches aperture_ratio times the
// strongest one; the displacement is the peak of the surface, moved at most one pixel from
// (px, py) along each direction kept.
bool peakEvidence(CorrelationSurface &surface, int px, int py, double aperture_ratio,
                  Evidence &evidence) {
    double c[3][3];
    for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) {
            c[j + 1][i + 1] = surface.at(px + i, py + j);
            if (std::isnan(c[j + 1][i + 1]))
                return false;
        }
    }
    double gx = 0.0, gy = 0.0, hxx = 0.0, hyy = 0.0, hxy = 0.0;
    for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) {
            const double v = c[j + 1][i + 1];
            gx += i * v / 6.0;
            gy += j * v / 6.0;
            hxy += i * j * v / 4.0;
            hxx += (i != 0 ? 1.0 : -2.0) * v / 3.0;
            hyy += (j != 0 ? 1.0 : -2.0) * v / 3.0;
        }
    }
    // Eigen-decomposition of A = -H.
    const double axx = -hxx, ayy = -hyy, axy = -hxy;
    const double mean = 0.5 * (axx + ayy);
    const double radius = std::hypot(0.5 * (axx - ayy), axy);
    const double lambda[2] = {mean + radius, mean - radius};
    const double angle = 0.5 * std::atan2(2.0 * axy, axx - ayy);
    const double ex[2] = {std::cos(angle), -std::sin(angle)};
    const double ey[2] = {std::sin(angle), std::cos(angle)};
    if (!(lambda[0] > 0.0))
        return false;
    double dx = px, dy = py;
    evidence = Evidence();
    for (int k = 0; k < 2; ++k) {
        if (!(lambda[k] > aperture_ratio * lambda[0]))
            continue;
        // Along the eigenvector the surface is c0 + g.e t - lambda t^2 / 2: its peak is at
        // t = g.e / lambda.
        const double t = std::clamp((gx * ex[k] + gy * ey[k]) / lambda[k], -1.0, 1.0);
        dx += t * ex[k];
        dy += t * ey[k];
        evidence.a.xx += lambda[k] * ex[k] * ex[k];
        evidence.a.xy += lambda[k] * ex[k] * ey[k];
        evidence.a.yy += lambda[k] * ey[k] * ey[k];
    }
    evidence.bx = evidence.a.xx * dx + evidence.a.xy * dy;
    evidence.by = evidence.a.xy * dx + evidence.a.yy * dy;
    return true;
}

}  // namespace

MotionRefiner::MotionRefiner(const MotionRefinerConf &conf) : m_conf(conf) {}

MotionRefiner::MotionRefiner(const TrecConf &trec) {
    m_conf.signal_threshold = trec.m_signal_threshold;
    m_conf.correlation_threshold = trec.m_correlation_threshold;
    m_conf.speed_limit = trec.m_speed_limit;
}

bool MotionRefiner::refine(const Grid<double> &earlier, const Grid<double> &later,
                           Grid<double> &field_x, Grid<double> &field_y) const {
    const int size_x = earlier.sizeX();
    const int size_y = earlier.sizeY();
    if (later.sizeX() != size_x || later.sizeY() != size_y || field_x.sizeX() != size_x ||
        field_x.sizeY() != size_y || field_y.sizeX() != size_x || field_y.sizeY() != size_y)
        return false;
    // Settings beyond any sensible image are cut, so that no count overflows; a speed limit that
    // is not a number accepts nothing.
    const int spacing = std::clamp(m_conf.lattice_spacing, 1, 4096);
    const int half = std::clamp(m_conf.box_half_width, 1, 4096);
    const int radius = std::clamp(m_conf.search_radius, 1, 64);
    const int moves = std::clamp(m_conf.search_moves, 0, 64);
    const double limit = m_conf.speed_limit >= 0.0 ? std::min(m_conf.speed_limit, 1e6) : 0.0;
    const std::vector<double> signal_earlier = signalOf(earlier, m_conf.signal_threshold);
    const std::vector<double> signal_later = signalOf(later, m_conf.signal_threshold);
    const double coverage =
        m_conf.signal_coverage > 0.0 ? std::min(m_conf.signal_coverage, 1.0) : 0.0;
    const int min_echo = std::max(1, static_cast<int>(coverage * (2 * half) * (2 * half)));

    // Lattice node (i, j) is the box around pixel (spacing / 2 + i spacing, spacing / 2 +
    // j spacing), whose middle lies half a pixel before it in each axis.
    const int first = spacing / 2;
    const int nodes_x = (size_x - first + spacing - 1) / spacing;
    const int nodes_y = (size_y - first + spacing - 1) / spacing;
    std::vector<Evidence> boxes(static_cast<std::size_t>(nodes_x * nodes_y));
    std::vector<Evidence> guesses(boxes.size());
    Evidence all;
    int tracked = 0;
    for (int j = 0; j < nodes_y; ++j) {
        for (int i = 0; i < nodes_x; ++i) {
            const int cx = first + i * spacing;
            const int cy = first + j * spacing;
            const double gx = field_x.get(cx, cy);
            const double gy = field_y.get(cx, cy);
            if (gx == kMissingVector || gy == kMissingVector || !std::isfinite(gx) ||
                !std::isfinite(gy))
                continue;
            guesses[i + nodes_x * j].bx = std::clamp(gx, -limit, limit);
            guesses[i + nodes_x * j].by = std::clamp(gy, -limit, limit);
            const BoxCorrelation box(signal_earlier, signal_later, size_x, size_y, cx, cy, half);
            if (box.echoPixels() < min_echo)
                continue;
            const int guess_x = static_cast<int>(std::lround(guesses[i + nodes_x * j].bx));
            const int guess_y = static_cast<int>(std::lround(guesses[i + nodes_x * j].by));
            CorrelationSurface surface(box, guess_x, guess_y, radius + moves + 1, limit);
            // The best whole-pixel displacement near the guess, then uphill while it lies on the
            // edge of what was searched.
            int px = guess_x, py = guess_y;
            double best = surface.at(px, py);
            for (int dy = -radius; dy <= radius; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    const double c = surface.at(guess_x + dx, guess_y + dy);
                    if (c > best || (std::isnan(best) && !std::isnan(c))) {
                        best = c;
                        px = guess_x + dx;
                        py = guess_y + dy;
                    }
                }
            }
            bool peak = false;
            for (int move = 0; move <= moves && !std::isnan(best) && !peak; ++move) {
                peak = true;
                int nx = px, ny = py;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const double c = surface.at(px + dx, py + dy);
                        if (c > best) {
                            best = c;
                            nx = px + dx;
                            ny = py + dy;
                            peak = false;
                        }
                    }
                }
                px = nx;
                py = ny;
            }
            Evidence evidence;
            if (!peak || !(best >= m_conf.correlation_threshold) ||
                !peakEvidence(surface, px, py, m_conf.aperture_ratio, evidence))
                continue;
            boxes[i + nodes_x * j] = evidence;
            all.add(evidence, 1.0);
            ++tracked;
        }
    }
    if (tracked == 0)
        return false;

    // Each node pools the boxes around it with Gaussian weights, the image-wide pool scaled to
    // mean_weight boxes of average certainty, and a faint pull toward the first guess that only
    // decides what no box anywhere can see.
    Evidence mean = all;
    const double to_mean = 1.0 / tracked;
    mean.a = {all.a.xx * to_mean, all.a.xy * to_mean, all.a.yy * to_mean};
    mean.bx *= to_mean;
    mean.by *= to_mean;
    const double faint = 1e-3 * (mean.a.xx + mean.a.yy);
    const double sigma = std::max(0.1, m_conf.pooling_width);
    const int reach = static_cast<int>(std::ceil(3.0 * sigma));
    std::vector<double> node_x(boxes.size()), node_y(boxes.size());
    for (int j = 0; j < nodes_y; ++j) {
        for (int i = 0; i < nodes_x; ++i) {
            Evidence pool;
            for (int nj = std::max(0, j - reach); nj <= std::min(nodes_y - 1, j + reach); ++nj) {
                for (int ni = std::max(0, i - reach); ni <= std::min(nodes_x - 1, i + reach);
                     ++ni) {
                    const double d2 = (ni - i) * (ni - i) + (nj - j) * (nj - j);
                    pool.add(boxes[ni + nodes_x * nj], std::exp(-0.5 * d2 / (sigma * sigma)));
                }
            }
            pool.add(mean, m_conf.mean_weight);
            const Evidence &guess = guesses[i + nodes_x * j];
            pool.a.xx += faint;
            pool.a.yy += faint;
            pool.bx += faint * guess.bx;
            pool.by += faint * guess.by;
            double dx = guess.bx, dy = guess.by;
            pool.solve(dx, dy);
            node_x[i + nodes_x * j] = dx;
            node_y[i + nodes_x * j] = dy;
        }
    }

    // Bilinear between the nodes' box middles; beyond the outermost ones the nearest carries on.
    for (int y = 0; y < size_y; ++y) {
        const double v = std::clamp((y - first + 0.5) / spacing, 0.0, nodes_y - 1.0);
        const int j0 = std::min(static_cast<int>(v), nodes_y - 1);
        const int j1 = std::min(j0 + 1, nodes_y - 1);
        const double fy = v - j0;
        for (int x = 0; x < size_x; ++x) {
            const double u = std::clamp((x - first + 0.5) / spacing, 0.0, nodes_x - 1.0);
            const int i0 = std::min(static_cast<int>(u), nodes_x - 1);
            const int i1 = std::min(i0 + 1, nodes_x - 1);
            const double fx = u - i0;
            const auto blend = [&](const std::vector<double> &node) {
                return (1.0 - fy) *
                           ((1.0 - fx) * node[i0 + nodes_x * j0] + fx * node[i1 + nodes_x * j0]) +
                       fy * ((1.0 - fx) * node[i0 + nodes_x * j1] + fx * node[i1 + nodes_x * j1]);
            };
            field_x.set(x, y, blend(node_x));
            field_y.set(x, y, blend(node_y));
        }
    }
    return true;
}

}  // namespace azm
