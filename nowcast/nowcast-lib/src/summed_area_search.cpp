#include "summed_area_search.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "int_conversion.h"
#include "nowcast_check.h"

namespace azm::detail {

namespace {

// Every integer up to 2^53 in magnitude is a double, so sums that stay within it are exact.
constexpr std::uint64_t kExactLimit = std::uint64_t{1} << 53;

// A little below 1: the pruning bound is lowered by far more than any rounding of the
// coefficient, so that no displacement that could change a choice is skipped.
constexpr double kFloorMargin = 1.0 - 1e-9;

// Pruning scale of a box that takes no part, and n times the variance of a later box without
// variance: no coefficient passes it.
constexpr double kInactive = std::numeric_limits<double>::infinity();

// Sum over columns [x0, x1) and rows [y0, y1) from a summed-area table whose element (x, y)
// holds the sum over the columns before x and the rows before y. Table arithmetic is modulo
// 2^64, so the result is right whenever the true sum fits in 64 bits, however large the
// table's totals grow.
inline std::int64_t rectangleSum(const std::uint64_t *table, std::size_t stride, int x0, int x1,
                                 int y0, int y1) {
    const std::uint64_t *top = table + static_cast<std::size_t>(y0) * stride;
    const std::uint64_t *bottom = table + static_cast<std::size_t>(y1) * stride;
    return static_cast<std::int64_t>(bottom[x1] - bottom[x0] - top[x1] + top[x0]);
}

// Summed-area table of value_at(k) for the pixels k of a size_x by size_y grid.
template <typename ValueAt>
void buildTable(std::vector<std::uint64_t> &table, int size_x, int size_y, ValueAt value_at) {
    const std::size_t stride = static_cast<std::size_t>(size_x) + 1;
    table.assign(stride * (static_cast<std::size_t>(size_y) + 1), 0);
    for (int y = 0; y < size_y; ++y) {
        const std::uint64_t *above = &table[static_cast<std::size_t>(y) * stride];
        std::uint64_t *row = &table[static_cast<std::size_t>(y + 1) * stride];
        const std::size_t first = static_cast<std::size_t>(y) * size_x;
        std::uint64_t run = 0;
        for (int x = 0; x < size_x; ++x) {
            run += value_at(first + x);
            row[x + 1] = above[x + 1] + run;
        }
    }
}

// Largest magnitude of a term of the sums: an earlier pixel or a positive later pixel.
std::uint64_t largestMagnitude(const Grid<int> &prev, const Grid<int> &curr) {
    const std::size_t size = static_cast<std::size_t>(prev.sizeX()) * prev.sizeY();
    std::int64_t largest = 0;
    for (std::size_t k = 0; k < size; ++k) {
        const std::int64_t earlier = prev.getGrid()[k];
        largest = std::max({largest, earlier, -earlier, std::int64_t{curr.getGrid()[k]}});
    }
    return static_cast<std::uint64_t>(largest);
}

// Whether `max_terms` terms of values, squares and products of numbers up to `largest` stay
// within kExactLimit (a value is at most its square, once it is at least 1).
bool termsStayExact(std::uint64_t largest, long long max_terms) {
    return max_terms <= 0 ||
           largest * largest <= kExactLimit / static_cast<std::uint64_t>(max_terms);
}

// The smallest rectangle that holds every non-zero pixel of an image; empty for an image of
// zeros.
SummedAreaSearch::Region echoBounds(const int *pixels, int size_x, int size_y) {
    SummedAreaSearch::Region bounds{size_x, 0, size_y, 0};
    for (int y = 0; y < size_y; ++y) {
        const int *row = pixels + static_cast<std::size_t>(y) * size_x;
        for (int x = 0; x < size_x; ++x) {
            if (row[x] != 0) {
                bounds.x0 = std::min(bounds.x0, x);
                bounds.x1 = std::max(bounds.x1, x + 1);
                bounds.y0 = std::min(bounds.y0, y);
                bounds.y1 = y + 1;
            }
        }
    }
    return bounds;
}

}  // namespace

SummedAreaSearch::SummedAreaSearch(int x_dim, int y_dim, double band_bytes)
    : m_x_dim(x_dim),
      m_y_dim(y_dim),
      m_box_offset_x(x_dim - x_dim / 2 - 1),
      m_box_offset_y(y_dim - y_dim / 2 - 1),
      m_band_bytes(band_bytes) {
    NOWCAST_CHECK(x_dim > 0);
    NOWCAST_CHECK(y_dim > 0);
    NOWCAST_CHECK(gridFitsInt(x_dim, y_dim));
}

bool SummedAreaSearch::sumsStayExact(const Grid<int> &prev, const Grid<int> &curr,
                                     long long max_terms) {
    NOWCAST_CHECK(prev.sizeX() == curr.sizeX() && prev.sizeY() == curr.sizeY());
    return termsStayExact(largestMagnitude(prev, curr), max_terms);
}

SearchOutcome SummedAreaSearch::search(const Grid<int> &prev, const Grid<int> &curr, int radius,
                                       double threshold, const GlobalSearchRequest *global,
                                       const BoxSearchRequest *boxes) {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    // Pruning relies on a positive threshold: coefficients of 0 and -1 never count.
    NOWCAST_CHECK(threshold > 0.0);

    SearchOutcome outcome;
    const std::uint64_t largest = largestMagnitude(prev, curr);
    const long long grid_terms = static_cast<long long>(m_x_dim) * m_y_dim;
    outcome.global_searched = global != nullptr && termsStayExact(largest, grid_terms);
    if (boxes != nullptr) {
        const long long side = 2LL * boxes->half;
        outcome.boxes_searched = termsStayExact(
            largest, std::min<long long>(side, m_x_dim) * std::min<long long>(side, m_y_dim));
    }
    if (!outcome.global_searched && !outcome.boxes_searched) {
        return outcome;
    }

    buildImageTables(prev, curr, outcome.boxes_searched ? boxes : nullptr);
    m_rows = 0;
    m_columns = 0;
    if (outcome.boxes_searched) {
        prepareLattice(*boxes, threshold);
    }

    // The displacements within the radius, in the order of the direct search.
    std::vector<Displacement> displacements;
    const int reach_x = static_cast<int>(std::min<long long>(radius, m_x_dim - 1));
    const int reach_y = static_cast<int>(std::min<long long>(radius, m_y_dim - 1));
    for (int dy = -reach_y; dy <= reach_y; ++dy) {
        for (int dx = -reach_x; dx <= reach_x; ++dx) {
            const double distance = displacementLength(dx, dy);
            if (distance <= radius) {
                displacements.push_back({dx, dy, distance});
            }
        }
    }

    // Bands of lattice rows pass through every displacement in turn. The whole-grid product
    // sum of a displacement is gathered band by band, each band adding its own rows: bands
    // start where their boxes start, the first at row 0, and the last ends at the last row.
    std::vector<std::uint64_t> global_products(outcome.global_searched ? displacements.size() : 0);
    const int band_rows = bandRows();
    int own_first = 0;
    for (int band_first = 0;; band_first += band_rows) {
        const int band_end = std::min(m_rows, band_first + band_rows);
        const bool last_band = band_end >= m_rows;
        const int own_end = last_band ? m_y_dim : std::max(own_first, m_row_y_first[band_end]);
        Region needed{m_x_dim, 0, m_y_dim, 0};
        for (int row = band_first; row < band_end; ++row) {
            if (m_row_k_first[row] < m_row_k_end[row]) {
                needed.x0 = std::min(needed.x0, m_column_x_first[m_row_k_first[row]]);
                needed.x1 = std::max(needed.x1, m_column_x_end[m_row_k_end[row] - 1]);
                needed.y0 = std::min(needed.y0, m_row_y_first[row]);
                needed.y1 = std::max(needed.y1, m_row_y_end[row]);
            }
        }
        if (outcome.global_searched) {
            needed = {0, m_x_dim, std::min(needed.y0, own_first), std::max(needed.y1, own_end)};
        }
        for (std::size_t i = 0; i < displacements.size() && !needed.empty(); ++i) {
            const Displacement &d = displacements[i];
            const Region overlap{std::max(0, -d.dx), std::min(m_x_dim, m_x_dim - d.dx),
                                 std::max(0, -d.dy), std::min(m_y_dim, m_y_dim - d.dy)};
            const Region region{std::max(needed.x0, overlap.x0), std::min(needed.x1, overlap.x1),
                                std::max(needed.y0, overlap.y0), std::min(needed.y1, overlap.y1)};
            if (region.empty()) {
                continue;
            }
            buildProductTable(prev, d, region);
            const int own_y0 = std::max(own_first, overlap.y0);
            const int own_y1 = std::min(own_end, overlap.y1);
            if (outcome.global_searched && own_y0 < own_y1) {
                const std::size_t width = static_cast<std::size_t>(region.x1 - region.x0);
                global_products[i] += productRow(own_y1)[width] - productRow(own_y0)[width];
            }
            for (int row = band_first; row < band_end; ++row) {
                searchRow(row, d, overlap, threshold);
            }
        }
        own_first = own_end;
        if (last_band) {
            break;
        }
    }

    if (outcome.global_searched) {
        std::int64_t prev_total = 0;
        std::int64_t prev_total_sq = 0;
        for (std::size_t k = 0; k < static_cast<std::size_t>(grid_terms); ++k) {
            const std::int64_t v = prev.getGrid()[k];
            prev_total += v;
            prev_total_sq += v * v;
        }
        const std::size_t curr_stride = static_cast<std::size_t>(m_x_dim) + 1;
        DisplacementChoice choice;
        for (std::size_t i = 0; i < displacements.size(); ++i) {
            const Displacement &d = displacements[i];
            const int x0 = std::max(0, -d.dx);
            const int x1 = std::min(m_x_dim, m_x_dim - d.dx);
            const int y0 = std::max(0, -d.dy);
            const int y1 = std::min(m_y_dim, m_y_dim - d.dy);
            const OverlapSums sums{
                (x1 - x0) * (y1 - y0),
                static_cast<double>(rectangleSum(m_curr_sum.data(), curr_stride, x0 + d.dx,
                                                 x1 + d.dx, y0 + d.dy, y1 + d.dy)),
                static_cast<double>(rectangleSum(m_curr_sum_sq.data(), curr_stride, x0 + d.dx,
                                                 x1 + d.dx, y0 + d.dy, y1 + d.dy)),
                static_cast<double>(static_cast<std::int64_t>(global_products[i]))};
            choice.consider(
                coefficientOf(sums, global->min_count, static_cast<int>(grid_terms),
                              static_cast<double>(prev_total), static_cast<double>(prev_total_sq)),
                d.dx, d.dy, d.distance, threshold);
        }
        outcome.global_dx = choice.dx;
        outcome.global_dy = choice.dy;
        outcome.global_coefficient = choice.best;
    }

    for (int row = 0; row < m_rows; ++row) {
        for (int column = 0; column < m_columns; ++column) {
            const DisplacementChoice &choice =
                m_choices[static_cast<std::size_t>(row) * m_columns + column];
            if (choice.best != 0.0) {
                outcome.box_vectors.push_back({m_lattice.first_x + column * m_lattice.spacing,
                                               m_lattice.first_y + row * m_lattice.spacing,
                                               choice.dx, choice.dy, choice.best});
            }
        }
    }
    return outcome;
}

void SummedAreaSearch::buildImageTables(const Grid<int> &prev, const Grid<int> &curr,
                                        const BoxSearchRequest *boxes) {
    const std::size_t size = static_cast<std::size_t>(m_x_dim) * m_y_dim;
    m_curr_positive.resize(size);
    for (std::size_t k = 0; k < size; ++k) {
        m_curr_positive[k] = std::max(0, curr.getGrid()[k]);
    }
    const int *later = m_curr_positive.data();
    m_prev_echo = echoBounds(prev.getGrid(), m_x_dim, m_y_dim);
    m_later_echo = echoBounds(later, m_x_dim, m_y_dim);
    buildTable(m_curr_sum, m_x_dim, m_y_dim,
               [later](std::size_t k) { return static_cast<std::uint64_t>(later[k]); });
    buildTable(m_curr_sum_sq, m_x_dim, m_y_dim, [later](std::size_t k) {
        return static_cast<std::uint64_t>(later[k]) * static_cast<std::uint64_t>(later[k]);
    });
    m_products.resize((static_cast<std::size_t>(m_x_dim) + 1) *
                      (static_cast<std::size_t>(m_y_dim) + 1));
    if (boxes == nullptr) {
        return;
    }
    const int *earlier = prev.getGrid();
    buildTable(m_prev_sum, m_x_dim, m_y_dim,
               [earlier](std::size_t k) { return static_cast<std::uint64_t>(earlier[k]); });
    buildTable(m_prev_sum_sq, m_x_dim, m_y_dim, [earlier](std::size_t k) {
        const std::int64_t v = earlier[k];
        return static_cast<std::uint64_t>(v * v);
    });
    const double signal_threshold = boxes->signal_threshold;
    buildTable(m_prev_signal, m_x_dim, m_y_dim, [earlier, signal_threshold](std::size_t k) {
        return static_cast<std::uint64_t>(earlier[k] >= signal_threshold ? 1 : 0);
    });
}

void SummedAreaSearch::prepareLattice(const BoxSearchRequest &request, double threshold) {
    m_lattice = request;
    const long long spacing = request.spacing;
    const long long half = request.half;
    m_columns = request.first_x <= request.last_x
                    ? static_cast<int>((0LL + request.last_x - request.first_x) / spacing + 1)
                    : 0;
    m_rows = request.first_y <= request.last_y
                 ? static_cast<int>((0LL + request.last_y - request.first_y) / spacing + 1)
                 : 0;
    m_column_x_first.resize(m_columns);
    m_column_x_end.resize(m_columns);
    for (int k = 0; k < m_columns; ++k) {
        const long long cx = request.first_x + k * spacing;
        m_column_x_first[k] = static_cast<int>(std::max(0LL, cx - half));
        m_column_x_end[k] = static_cast<int>(std::min<long long>(m_x_dim, cx + half));
    }
    m_row_y_first.resize(m_rows);
    m_row_y_end.resize(m_rows);
    m_row_k_first.assign(m_rows, 0);
    m_row_k_end.assign(m_rows, 0);
    for (int r = 0; r < m_rows; ++r) {
        const long long cy = request.first_y + r * spacing;
        m_row_y_first[r] = static_cast<int>(std::max(0LL, cy - half));
        m_row_y_end[r] = static_cast<int>(std::min<long long>(m_y_dim, cy + half));
    }

    const std::size_t box_count = static_cast<std::size_t>(m_rows) * m_columns;
    m_ref_sum.assign(box_count, 0.0);
    m_prune_scale.assign(box_count, kInactive);
    m_ref_count.assign(box_count, 0);
    m_ref_sum_sq.assign(box_count, 0.0);
    m_ref_variance.assign(box_count, 0.0);
    m_choices.assign(box_count, DisplacementChoice{});
    const std::size_t stride = static_cast<std::size_t>(m_x_dim) + 1;
    for (int r = 0; r < m_rows; ++r) {
        const int y0 = m_row_y_first[r];
        const int y1 = m_row_y_end[r];
        for (int k = 0; k < m_columns; ++k) {
            const int x0 = m_column_x_first[k];
            const int x1 = m_column_x_end[k];
            const bool empty = x0 >= x1 || y0 >= y1;
            const int count = empty ? 0 : (x1 - x0) * (y1 - y0);
            if (count < request.min_count) {
                continue;
            }
            const std::int64_t signal =
                empty ? 0 : rectangleSum(m_prev_signal.data(), stride, x0, x1, y0, y1);
            if (signal <= request.signal_count) {
                continue;
            }
            const std::size_t box = static_cast<std::size_t>(r) * m_columns + k;
            m_ref_count[box] = count;
            if (!empty) {
                m_ref_sum[box] =
                    static_cast<double>(rectangleSum(m_prev_sum.data(), stride, x0, x1, y0, y1));
                m_ref_sum_sq[box] =
                    static_cast<double>(rectangleSum(m_prev_sum_sq.data(), stride, x0, x1, y0, y1));
            }
            // A box whose earlier values do not vary has coefficients of 0 and -1 only.
            m_ref_variance[box] = scaledVariance(count, m_ref_sum[box], m_ref_sum_sq[box]);
            if (!(m_ref_variance[box] > 0.0)) {
                continue;
            }
            m_prune_scale[box] = threshold * threshold * kFloorMargin * m_ref_variance[box];
            if (m_row_k_first[r] == m_row_k_end[r]) {
                m_row_k_first[r] = k;
            }
            m_row_k_end[r] = k + 1;
        }
    }

    // Later-image sums of whole boxes, read by the boxes that lie inside the overlap.
    m_full_box_sum.assign(static_cast<std::size_t>(m_x_dim) * m_y_dim, 0.0);
    m_full_box_variance.assign(m_full_box_sum.size(), kInactive);
    const int side = 2 * request.half;
    if (request.half < 1 || side > m_x_dim || side > m_y_dim) {
        return;
    }
    for (int cy = request.half; cy <= m_y_dim - request.half; ++cy) {
        for (int cx = request.half; cx <= m_x_dim - request.half; ++cx) {
            const int x0 = cx - request.half;
            const int y0 = cy - request.half;
            const double sum = static_cast<double>(
                rectangleSum(m_curr_sum.data(), stride, x0, x0 + side, y0, y0 + side));
            const double sum_sq = static_cast<double>(
                rectangleSum(m_curr_sum_sq.data(), stride, x0, x0 + side, y0, y0 + side));
            const double variance = scaledVariance(static_cast<double>(side) * side, sum, sum_sq);
            const std::size_t centre = static_cast<std::size_t>(cy) * m_x_dim + cx;
            m_full_box_sum[centre] = sum;
            m_full_box_variance[centre] = variance > 0.0 ? variance : kInactive;
        }
    }
}

int SummedAreaSearch::bandRows() const {
    if (m_rows == 0) {
        return 1;
    }
    // Bytes read per lattice row and displacement: the boxes' sums and pruning scales, rows of
    // the product table and of the later image's box sums.
    const double row_bytes = 16.0 * m_columns + static_cast<double>(m_lattice.spacing) *
                                                    (8.0 * (m_x_dim + 1) + 16.0 * m_x_dim);
    return static_cast<int>(std::clamp(m_band_bytes / row_bytes, 1.0, static_cast<double>(m_rows)));
}

void SummedAreaSearch::buildProductTable(const Grid<int> &prev, const Displacement &d,
                                         const Region &region) {
    const std::size_t width = static_cast<std::size_t>(region.x1 - region.x0);
    const std::size_t stride = width + 1;
    m_products_stride = stride;
    // Rows and columns without echo in the earlier image or in the displaced later one add
    // nothing: the table skips such rows, and such columns only carry the row's sum along.
    const int y0 =
        std::clamp(std::max(m_prev_echo.y0, m_later_echo.y0 - d.dy), region.y0, region.y1);
    const int y1 = std::clamp(std::min(m_prev_echo.y1, m_later_echo.y1 - d.dy), y0, region.y1);
    const std::size_t echo_first = static_cast<std::size_t>(std::clamp(
        std::max(m_prev_echo.x0, m_later_echo.x0 - d.dx) - region.x0, 0, region.x1 - region.x0));
    const std::size_t echo_end = static_cast<std::size_t>(
        std::clamp(std::min(m_prev_echo.x1, m_later_echo.x1 - d.dx) - region.x0,
                   static_cast<int>(echo_first), region.x1 - region.x0));
    m_products_region = {region.x0, region.x1, y0, y1};
    std::fill_n(m_products.begin(), stride, std::uint64_t{0});
    for (int y = y0; y < y1; ++y) {
        const int *earlier = prev.getGrid() + static_cast<std::size_t>(y) * m_x_dim + region.x0;
        const int *later = m_curr_positive.data() + static_cast<std::size_t>(y + d.dy) * m_x_dim +
                           (region.x0 + d.dx);
        const std::uint64_t *above = &m_products[static_cast<std::size_t>(y - y0) * stride] + 1;
        std::uint64_t *row = &m_products[static_cast<std::size_t>(y - y0 + 1) * stride] + 1;
        row[-1] = 0;
        std::copy(above, above + echo_first, row);
        std::uint64_t run = 0;
        for (std::size_t i = echo_first; i < echo_end; ++i) {
            run += static_cast<std::uint64_t>(static_cast<std::int64_t>(earlier[i]) * later[i]);
            row[i] = above[i] + run;
        }
        for (std::size_t i = echo_end; i < width; ++i) {
            row[i] = above[i] + run;
        }
    }
}

const std::uint64_t *SummedAreaSearch::productRow(int y) const {
    const int row = std::clamp(y, m_products_region.y0, m_products_region.y1);
    return m_products.data() +
           static_cast<std::size_t>(row - m_products_region.y0) * m_products_stride;
}

void SummedAreaSearch::searchRow(int row, const Displacement &d, const Region &overlap,
                                 double threshold) {
    const int k_first = m_row_k_first[row];
    const int k_end = m_row_k_end[row];
    if (k_first >= k_end) {
        return;
    }
    const long long spacing = m_lattice.spacing;
    const long long half = m_lattice.half;
    const long long cy = m_lattice.first_y + row * spacing;
    const long long lag_y = cy + m_box_offset_y;
    if (d.dy < -lag_y || d.dy > 2LL * m_y_dim - 2 - lag_y) {
        return;  // outside the box's lag space
    }
    const int y0 = std::max(m_row_y_first[row], overlap.y0);
    const int y1 = std::min(m_row_y_end[row], overlap.y1);
    if (y0 >= y1) {
        return;
    }
    const int rows = y1 - y0;
    const std::uint64_t *top = productRow(y0);
    const std::uint64_t *bottom = productRow(y1);
    const int px0 = m_products_region.x0;
    const std::size_t first_box = static_cast<std::size_t>(row) * m_columns;

    // Columns whose whole box lies inside the grid and the overlap: their later-image sums are
    // those of the displaced whole box. (The lag space of a box inside the grid holds every
    // displacement that keeps the box inside the overlap.)
    int lean_first = k_end;
    int lean_end = k_end;
    const long long full_count = 4 * half * half;
    if (y0 == cy - half && y1 == cy + half && full_count >= 2 &&
        full_count >= m_lattice.min_count) {
        const long long lowest = overlap.x0 + half;
        const long long highest = overlap.x1 - half;
        if (lowest <= highest) {
            const long long from = lowest - m_lattice.first_x;
            const long long to = highest - m_lattice.first_x;
            const long long k_low = from <= 0 ? 0 : (from + spacing - 1) / spacing;
            const long long k_high = to < 0 ? -1 : to / spacing;
            lean_first = static_cast<int>(std::clamp<long long>(k_low, k_first, k_end));
            lean_end = static_cast<int>(std::clamp<long long>(k_high + 1, lean_first, k_end));
        }
    }

    const std::size_t curr_stride = static_cast<std::size_t>(m_x_dim) + 1;
    auto search_box = [&](int k) {
        const std::size_t box = first_box + k;
        if (!(m_prune_scale[box] < kInactive)) {
            return;
        }
        const long long cx = m_lattice.first_x + k * spacing;
        const long long lag_x = cx + m_box_offset_x;
        if (d.dx < -lag_x || d.dx > 2LL * m_x_dim - 2 - lag_x) {
            return;
        }
        const int x0 = std::max(m_column_x_first[k], overlap.x0);
        const int x1 = std::min(m_column_x_end[k], overlap.x1);
        if (x0 >= x1) {
            return;
        }
        const int count = (x1 - x0) * rows;
        if (count < 2 || count < m_lattice.min_count) {
            return;  // coefficient -1
        }
        const OverlapSums sums{
            count,
            static_cast<double>(rectangleSum(m_curr_sum.data(), curr_stride, x0 + d.dx, x1 + d.dx,
                                             y0 + d.dy, y1 + d.dy)),
            static_cast<double>(rectangleSum(m_curr_sum_sq.data(), curr_stride, x0 + d.dx,
                                             x1 + d.dx, y0 + d.dy, y1 + d.dy)),
            static_cast<double>(static_cast<std::int64_t>(bottom[x1 - px0] - bottom[x0 - px0] -
                                                          top[x1 - px0] + top[x0 - px0]))};
        const double n = m_ref_count[box];
        const double covariance = scaledCovariance(n, sums.sum_products, m_ref_sum[box], sums.sum);
        const double variance = scaledVariance(n, sums.sum, sums.sum_sq);
        if ((covariance > 0.0) & (variance > 0.0) &
            (covariance * covariance >= m_prune_scale[box] * variance)) {
            offer(box, sums, d, threshold);
        }
    };
    for (int k = k_first; k < lean_first; ++k) {
        search_box(k);
    }
    for (int k = lean_end; k < k_end; ++k) {
        search_box(k);
    }

    // Only a coefficient at or above the threshold and near the best one can change a choice;
    // the others are recognised without the square root and the division. The tests are
    // combined without branching, as their outcomes follow no pattern. Inactive boxes have an
    // infinite pruning scale, and so have later boxes without variance.
    if (lean_first >= lean_end) {
        return;
    }
    // Offsets advance by the spacing from the first lean box: into the product table rows
    // (box columns), into the later-image box sums (displaced centres) and into the boxes.
    const double n = static_cast<double>(full_count);
    const std::ptrdiff_t cx_first = m_lattice.first_x + lean_first * spacing;
    const std::uint64_t *top_left = top + (cx_first - half - px0);
    const std::uint64_t *bottom_left = bottom + (cx_first - half - px0);
    const std::ptrdiff_t width = 2 * half;
    const std::ptrdiff_t centre_first = (cy + d.dy) * m_x_dim + d.dx + cx_first;
    const double *later_sum = m_full_box_sum.data() + centre_first;
    const double *later_variance = m_full_box_variance.data() + centre_first;
    const double *ref_sum = m_ref_sum.data() + first_box + lean_first;
    const double *prune_scale = m_prune_scale.data() + first_box + lean_first;
    const std::ptrdiff_t count = lean_end - lean_first;
    for (std::ptrdiff_t i = 0, at = 0; i < count; ++i, at += spacing) {
        const double products = static_cast<double>(static_cast<std::int64_t>(
            bottom_left[at + width] - bottom_left[at] - top_left[at + width] + top_left[at]));
        const double covariance = scaledCovariance(n, products, ref_sum[i], later_sum[at]);
        if ((covariance > 0.0) & (covariance * covariance >= prune_scale[i] * later_variance[at]))
            [[unlikely]] {
            offerWholeBox(first_box + lean_first + i, cx_first + at, cy, products, d, threshold);
        }
    }
}

void SummedAreaSearch::offerWholeBox(std::size_t box, long long cx, long long cy, double products,
                                     const Displacement &d, double threshold) {
    const int half = m_lattice.half;
    const int x0 = static_cast<int>(cx) - half + d.dx;
    const int y0 = static_cast<int>(cy) - half + d.dy;
    const std::size_t centre = static_cast<std::size_t>(cy + d.dy) * m_x_dim + (cx + d.dx);
    const OverlapSums sums{4 * half * half, m_full_box_sum[centre],
                           static_cast<double>(rectangleSum(m_curr_sum_sq.data(),
                                                            static_cast<std::size_t>(m_x_dim) + 1,
                                                            x0, x0 + 2 * half, y0, y0 + 2 * half)),
                           products};
    offer(box, sums, d, threshold);
}

void SummedAreaSearch::offer(std::size_t box, const OverlapSums &sums, const Displacement &d,
                             double threshold) {
    const double r = coefficientOf(sums, m_lattice.min_count, m_ref_count[box], m_ref_sum[box],
                                   m_ref_sum_sq[box]);
    if (m_choices[box].consider(r, d.dx, d.dy, d.distance, threshold)) {
        const double floor = std::max(threshold, m_choices[box].best - kNearTie);
        m_prune_scale[box] = floor * floor * kFloorMargin * m_ref_variance[box];
    }
}

}  // namespace azm::detail
