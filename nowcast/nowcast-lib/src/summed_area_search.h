// The correlation searches of TREC with every sum read from summed-area tables (internal).
#ifndef NOWCAST_SUMMED_AREA_SEARCH_H
#define NOWCAST_SUMMED_AREA_SEARCH_H

#include <cstdint>
#include <vector>

#include "correlation_sums.h"
#include "nowcast/grid.h"

namespace azm::detail {

// The whole-grid search and its minimum overlap.
struct GlobalSearchRequest {
    int min_count;
};

// The box searches on a lattice of centres: rows first_y to last_y and columns first_x to
// last_x, both in steps of `spacing`, with the refusal rules of a box analysis.
struct BoxSearchRequest {
    int first_x;
    int last_x;
    int first_y;
    int last_y;
    int spacing;
    int half;
    int min_count;
    double signal_threshold;
    int signal_count;
};

// An accepted box, its displacement and its coefficient.
struct BoxVector {
    int cx;
    int cy;
    int dx;
    int dy;
    double coefficient;
};

// What a search found. A part that was not asked for, or whose sums would not be exact, is not
// searched and is left to the direct correlators.
struct SearchOutcome {
    bool global_searched = false;
    int global_dx = 0;
    int global_dy = 0;
    double global_coefficient = 0.0;
    bool boxes_searched = false;
    std::vector<BoxVector> box_vectors;  // accepted boxes in lattice order, rows outer
};

// The searches of GlobalCrossCorrelator and LocalCrossCorrelator, for every box of a lattice at
// once, with the same results to the last bit at a fraction of the cost.
//
// Every sum of a coefficient is a sum over a rectangle. The box statistics come from tables of
// the earlier image, and the sums of the later image's positive values and their squares from
// tables of the later image, all built once per search. For each displacement one table of the
// products of the earlier image with the displaced later one gives the product sum of every
// box, and of the whole overlap, in constant time. The cost is (displacements) x (pixels +
// boxes) instead of (displacements) x (boxes) x (box area); the memory is a few tables of the
// grid size.
//
// The displacements are visited in the order of the direct search, rows of the circle first,
// and each box skips those outside its own lag-space bounds, so that every box's choice
// evolves exactly as in its direct search. The sums are 64-bit integers; converted to double
// they equal the direct method's sums of doubles as long as no partial sum exceeds 2^53 in
// magnitude, which `search` checks from the images' extreme values before it takes a part on.
class SummedAreaSearch {
  public:
    // Columns [x0, x1) and rows [y0, y1) of an image.
    struct Region {
        int x0;
        int x1;
        int y0;
        int y1;
        bool empty() const { return x0 >= x1 || y0 >= y1; }
    };

    // `band_bytes` is the working set aimed at for a band of boxes; it changes only the speed.
    static constexpr double kBandBytes = 1024.0 * 1024.0;
    SummedAreaSearch(int x_dim, int y_dim, double band_bytes = kBandBytes);

    // Whether every sum of at most `max_terms` values, squares or products of these images'
    // pixels (the later image's positive ones) stays within 2^53, so that adding them up in
    // double is exact in any order.
    static bool sumsStayExact(const Grid<int> &prev, const Grid<int> &curr, long long max_terms);

    // Runs the parts asked for (a null request skips a part) with search radius `radius` and
    // acceptance threshold `threshold` (> 0).
    SearchOutcome search(const Grid<int> &prev, const Grid<int> &curr, int radius, double threshold,
                         const GlobalSearchRequest *global, const BoxSearchRequest *boxes);

  private:
    using Table = std::vector<std::uint64_t>;

    struct Displacement {
        int dx;
        int dy;
        double distance;
    };

    // Tables of the later image, and of the earlier one when boxes are searched.
    void buildImageTables(const Grid<int> &prev, const Grid<int> &curr,
                          const BoxSearchRequest *boxes);
    // Reference statistics of every box of the lattice; boxes that the refusal rules turn
    // away, or that cannot accept anything, are marked inactive.
    void prepareLattice(const BoxSearchRequest &request, double threshold);
    // Lattice rows per band: a band's boxes and tables should stay in the processor's cache
    // while every displacement passes over them.
    int bandRows() const;
    // Table of prev(x, y) * curr+(x + dx, y + dy) over `region`.
    void buildProductTable(const Grid<int> &prev, const Displacement &d, const Region &region);
    // The table row of the sums over the rows before y, for y from the first to the end row of
    // the region.
    const std::uint64_t *productRow(int y) const;
    // Offers displacement d to the boxes of one lattice row.
    void searchRow(int row, const Displacement &d, const Region &overlap, double threshold);
    // Offers displacement d to a box that lies inside the grid and the overlap and passed the
    // pruning test; `products` is its product sum.
    [[gnu::noinline]] void offerWholeBox(std::size_t box, long long cx, long long cy,
                                         double products, const Displacement &d, double threshold);
    // Computes the coefficient of a box that passed the pruning test and offers it.
    void offer(std::size_t box, const OverlapSums &sums, const Displacement &d, double threshold);

    int m_x_dim;
    int m_y_dim;
    int m_box_offset_x;
    int m_box_offset_y;
    double m_band_bytes;

    std::vector<int> m_curr_positive;  // the later image with values <= 0 as 0
    Region m_prev_echo{};              // bounds of the non-zero earlier pixels
    Region m_later_echo{};             // bounds of the positive later pixels
    Table m_curr_sum;
    Table m_curr_sum_sq;
    Table m_prev_sum;
    Table m_prev_sum_sq;
    Table m_prev_signal;
    // Sum and n times the variance of the later image over the box around each centre whose
    // box lies inside the grid (infinite where the variance is not positive).
    std::vector<double> m_full_box_sum;
    std::vector<double> m_full_box_variance;

    // Product table of the displacement under way; it covers the rows that hold products,
    // and rows above and below read as its first and last row.
    Table m_products;
    std::size_t m_products_stride = 0;
    Region m_products_region{};

    BoxSearchRequest m_lattice{};
    int m_columns = 0;
    int m_rows = 0;
    std::vector<int> m_column_x_first;  // per lattice column: box columns cut to the grid
    std::vector<int> m_column_x_end;
    std::vector<int> m_row_y_first;  // per lattice row: box rows cut to the grid
    std::vector<int> m_row_y_end;
    std::vector<int> m_row_k_first;  // per lattice row: the columns that hold active boxes
    std::vector<int> m_row_k_end;
    // Per box of the lattice, rows outer. The pruning scale is the squared lower bound of a
    // coefficient that could still change the choice times the box's scaled variance, lowered
    // a little so that rounding never prunes a coefficient that would; infinite for a box that
    // takes no part.
    std::vector<double> m_ref_sum;
    std::vector<double> m_prune_scale;
    std::vector<int> m_ref_count;
    std::vector<double> m_ref_sum_sq;
    std::vector<double> m_ref_variance;
    std::vector<DisplacementChoice> m_choices;
};

}  // namespace azm::detail

#endif  // NOWCAST_SUMMED_AREA_SEARCH_H
