// The summed-area search against the direct correlators: the same choices, bit for bit.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "nowcast/nowcast.h"
#include "summed_area_search.h"
#include "test_images.h"

namespace azm {
namespace {

using detail::BoxSearchRequest;
using detail::GlobalSearchRequest;
using detail::SearchOutcome;
using detail::SummedAreaSearch;

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

class Random {
  public:
    explicit Random(std::uint32_t seed) : m_state(seed) {}
    int between(int low, int high) {  // inclusive
        m_state = m_state * 1664525u + 1013904223u;
        return low + static_cast<int>((m_state >> 8) % static_cast<std::uint32_t>(high - low + 1));
    }
    bool chance(int percent) { return between(1, 100) <= percent; }

  private:
    std::uint32_t m_state;
};

// A radar-like integer image pair: echo cells up to `peak` on a clear background (0), holes of
// no data (also 0 in the integer images), the later image moved by (shift_x, shift_y) with
// a little noise of its own. Striped echoes repeat every 4 pixels and give exact ties.
struct ImagePair {
    ImagePair(int size_x, int size_y, Random &random, int peak)
        : prev(size_x, size_y), curr(size_x, size_y) {
        // Long moves reach displacements that the lag space of a box wider than half the grid
        // leaves out.
        const int reach = random.chance(30) ? 8 : 3;
        const int shift_x = random.between(-reach, reach);
        const int shift_y = random.between(-reach, reach);
        const bool striped = random.chance(15);
        struct Cell {
            int x, y, radius;
        };
        std::vector<Cell> cells(random.between(1, 1 + size_x * size_y / 40));
        for (Cell &cell : cells) {
            cell = {random.between(0, size_x - 1), random.between(0, size_y - 1),
                    random.between(1, 6)};
        }
        const int hole_x = random.between(0, size_x - 1);
        const int hole_y = random.between(0, size_y - 1);
        const int hole_size = random.chance(50) ? random.between(1, 8) : 0;
        auto scene_at = [&](int x, int y) {
            if (x >= hole_x && x < hole_x + hole_size && y >= hole_y && y < hole_y + hole_size) {
                return 0;
            }
            if (striped) {
                return (x + 2 * y) % 4 < 2 ? peak : peak / 3;
            }
            int value = 0;
            for (const Cell &cell : cells) {
                const int d2 = (x - cell.x) * (x - cell.x) + (y - cell.y) * (y - cell.y);
                if (d2 <= cell.radius * cell.radius) {
                    const int strength =
                        peak - static_cast<int>(static_cast<long long>(peak) * d2 /
                                                (2 * cell.radius * cell.radius + 1));
                    value = std::max(value, strength - test::textureAt(x, y, 0, peak / 8 + 1));
                }
            }
            return value;
        };
        const int noise = random.chance(50) ? peak / 20 + 1 : 1;
        for (int y = 0; y < size_y; ++y) {
            for (int x = 0; x < size_x; ++x) {
                prev.set(x, y, scene_at(x, y));
                const int moved = scene_at(x - shift_x, y - shift_y);
                curr.set(x, y,
                         moved == 0 ? 0 : std::max(1, moved - test::textureAt(-x, y, 0, noise)));
            }
        }
    }
    Grid<int> prev;
    Grid<int> curr;
};

struct Search {
    double band_bytes;
    int radius;
    double threshold;
    int global_min_count;
    BoxSearchRequest boxes;

    std::string describe() const {
        std::ostringstream text;
        text << "band bytes " << band_bytes << " radius " << radius << " threshold " << threshold
             << " half " << boxes.half << " spacing " << boxes.spacing << " centres "
             << boxes.first_x << ".." << boxes.last_x << " x " << boxes.first_y << ".."
             << boxes.last_y << " min count " << boxes.min_count << " signal "
             << boxes.signal_threshold << " > " << boxes.signal_count;
        return text.str();
    }
};

// Runs the summed-area search and the direct correlators on every box of the lattice and
// requires the same accepted boxes, displacements and coefficients, bit for bit.
SearchOutcome expectSameAsDirect(const Grid<int> &prev, const Grid<int> &curr, const Search &s) {
    const int size_x = prev.sizeX();
    const int size_y = prev.sizeY();
    SummedAreaSearch search(size_x, size_y, s.band_bytes);
    const GlobalSearchRequest global_request{s.global_min_count};
    SearchOutcome outcome =
        search.search(prev, curr, s.radius, s.threshold, &global_request, &s.boxes);

    if (outcome.global_searched) {
        GlobalCrossCorrelator global(size_x, size_y);
        double dx = 0.0;
        double dy = 0.0;
        global.runCorrelationAnalysis(prev, curr, s.radius, s.global_min_count, s.threshold, dx,
                                      dy);
        EXPECT_EQ(outcome.global_dx, dx);
        EXPECT_EQ(outcome.global_dy, dy);
        EXPECT_EQ(bits(outcome.global_coefficient), bits(global.getCorrCoefficient()));
    }
    if (outcome.boxes_searched) {
        LocalCrossCorrelator local(size_x, size_y);
        auto found = outcome.box_vectors.begin();
        const BoxSearchRequest &b = s.boxes;
        for (int cy = b.first_y; cy <= b.last_y; cy += b.spacing) {
            for (int cx = b.first_x; cx <= b.last_x; cx += b.spacing) {
                double dx = 0.0;
                double dy = 0.0;
                if (!local.runCorrelationAnalysis(prev, curr, cx, cy, b.half, s.radius, b.min_count,
                                                  b.signal_threshold, b.signal_count, s.threshold,
                                                  dx, dy)) {
                    continue;
                }
                if (found == outcome.box_vectors.end()) {
                    ADD_FAILURE() << "box " << cx << ", " << cy << " missing";
                    return outcome;
                }
                EXPECT_EQ(found->cx, cx);
                EXPECT_EQ(found->cy, cy);
                EXPECT_EQ(found->dx, dx) << "box " << cx << ", " << cy;
                EXPECT_EQ(found->dy, dy) << "box " << cx << ", " << cy;
                EXPECT_EQ(bits(found->coefficient), bits(local.getCorrCoefficient()))
                    << "box " << cx << ", " << cy;
                ++found;
            }
        }
        EXPECT_EQ(found, outcome.box_vectors.end());
    }
    return outcome;
}

TEST(SummedAreaSearchTest, SameChoicesAsTheDirectSearchOnManyInputs) {
    Random random(20240611u);
    int accepted_boxes = 0;
    for (int round = 0; round < 160; ++round) {
        // Small grids keep the direct search quick; some are smaller than a box, some far from
        // square. Lattices also hold centres on and near the border, where the direct method's
        // lag-space bounds cut the search.
        const int size_x = random.between(3, 26);
        const int size_y = random.chance(20) ? random.between(1, 6) : random.between(3, 26);
        const int half = random.chance(10) ? 0 : random.between(1, 15);
        const int box_area = std::min(2 * half, size_x) * std::min(2 * half, size_y);
        const int peak = random.chance(20) ? 1000000 : 5000;
        const ImagePair images(size_x, size_y, random, peak);
        // Threshold 1 takes only perfect matches, which noise-free pairs offer.
        const double thresholds[] = {0.05, 0.3, 0.55, 0.9, 1.0};
        const int small_count = random.between(0, 10);
        const BoxSearchRequest boxes{
            random.between(-2, 2),
            size_x - 1 - random.between(0, 2),
            random.between(0, 2),
            size_y - 1 + random.between(-2, 1),
            random.between(1, 6),
            half,
            random.chance(50) ? small_count : random.between(0, box_area),
            peak / 4.0,
            random.chance(50) ? small_count : random.between(0, box_area / 2)};
        // Band budgets of a few hundred bytes split the lattice into bands of one or a few rows.
        const Search s{random.chance(50) ? random.between(1, 3000) : 1e6, random.between(1, 20),
                       thresholds[random.between(0, 4)], random.between(0, 60), boxes};
        SCOPED_TRACE(::testing::Message() << "round " << round << ": " << size_x << " x " << size_y
                                          << ", " << s.describe());
        const SearchOutcome outcome = expectSameAsDirect(images.prev, images.curr, s);
        ASSERT_TRUE(outcome.global_searched && outcome.boxes_searched);
        accepted_boxes += static_cast<int>(outcome.box_vectors.size());
    }
    // The inputs must exercise the choice, not only the refusals.
    EXPECT_GT(accepted_boxes, 1000);
}

TEST(SummedAreaSearchTest, LargerImageWithTheDefaultBoxAndRadius) {
    Random random(7u);
    const ImagePair images(60, 44, random, 9000);
    const Search s{20000, 15, 0.55, 1584, BoxSearchRequest{7, 53, 7, 37, 1, 7, 117, 1000.0, 19}};
    const SearchOutcome outcome = expectSameAsDirect(images.prev, images.curr, s);
    EXPECT_GT(outcome.box_vectors.size(), 200u);
}

TEST(SummedAreaSearchTest, BoxesWiderThanHalfTheGridKeepToTheirLagSpace) {
    // Boxes of half width 8 on a 12 x 12 grid. Echoes only in columns (rows) 7 and 8 move by
    // 7 pixels to columns (rows) 0 and 1: the boxes around columns (rows) 0 and 1 would match
    // them perfectly, but their lag space ends at a displacement of 5 and 6.
    auto band_image = [](int first, bool columns) {
        Grid<int> image = test::filledGrid(12, 12, 0);
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 12; ++x) {
                if ((columns ? x : y) - first == 0 || (columns ? x : y) - first == 1) {
                    image.set(
                        x, y,
                        test::textureAt(columns ? x - first : x, columns ? y : y - first, 1, 1000));
                }
            }
        }
        return image;
    };
    const Search s{1e6, 9, 0.3, 2, BoxSearchRequest{0, 11, 0, 11, 1, 8, 2, 1.0, 0}};
    for (const bool columns : {true, false}) {
        const SearchOutcome outcome =
            expectSameAsDirect(band_image(7, columns), band_image(0, columns), s);
        EXPECT_FALSE(outcome.box_vectors.empty());
    }
}

TEST(SummedAreaSearchTest, ExactnessBound) {
    // 2^26 squared is 2^52: two such terms reach 2^53 exactly, three go beyond.
    Grid<int> prev = test::filledGrid(4, 4, 0);
    Grid<int> curr = test::filledGrid(4, 4, -2000000000);  // non-positive later pixels never count
    prev.set(2, 1, -(1 << 26));
    EXPECT_TRUE(SummedAreaSearch::sumsStayExact(prev, curr, 2));
    EXPECT_FALSE(SummedAreaSearch::sumsStayExact(prev, curr, 3));
    curr.set(0, 0, (1 << 26) + 1);
    EXPECT_FALSE(SummedAreaSearch::sumsStayExact(prev, curr, 2));

    // Boxes of 14 x 14 stay exact up to the largest value v with 196 v^2 <= 2^53; the
    // whole-grid sums of 24 x 20 pixels already round there and are left to the direct method.
    const long long limit = 1LL << 53;
    int largest = static_cast<int>(std::sqrt(static_cast<double>(limit / 196)));
    while (196LL * (largest + 1LL) * (largest + 1LL) <= limit) {
        ++largest;
    }
    while (196LL * largest * largest > limit) {
        --largest;
    }
    Random random(99u);
    ImagePair images(24, 20, random, largest);
    images.prev.set(11, 9, largest);
    const Search s{1e6, 6, 0.3, 100, BoxSearchRequest{7, 17, 7, 13, 1, 7, 100, largest / 4.0, 10}};
    const SearchOutcome near = expectSameAsDirect(images.prev, images.curr, s);
    EXPECT_TRUE(near.boxes_searched);
    EXPECT_FALSE(near.global_searched);
    EXPECT_FALSE(near.box_vectors.empty());

    images.curr.set(3, 3, largest + 1);
    const SearchOutcome above = expectSameAsDirect(images.prev, images.curr, s);
    EXPECT_FALSE(above.boxes_searched);
    EXPECT_FALSE(above.global_searched);
}

// Two runs of the whole calculation, one per method, must give the same vectors and fields.
class MethodPair {
  public:
    MethodPair(int size_x, int size_y, const TrecConf &conf)
        : m_direct(size_x, size_y, conf), m_summed(size_x, size_y, conf) {
        m_direct.setSearchMethod(SearchMethod::DIRECT);
    }

    void expectSameRuns(const Grid<double> &prev, const Grid<double> &curr) {
        ASSERT_TRUE(m_direct.runTrec(prev, curr));
        ASSERT_TRUE(m_summed.runTrec(prev, curr));
        EXPECT_EQ(bits(m_direct.getGlobalVectorX()), bits(m_summed.getGlobalVectorX()));
        EXPECT_EQ(bits(m_direct.getGlobalVectorY()), bits(m_summed.getGlobalVectorY()));
        const Grid<double> &direct_x = *m_direct.getMotionFieldPointerX();
        const Grid<double> &summed_x = *m_summed.getMotionFieldPointerX();
        const Grid<double> &direct_y = *m_direct.getMotionFieldPointerY();
        const Grid<double> &summed_y = *m_summed.getMotionFieldPointerY();
        int differences = 0;
        for (int k = 0; k < direct_x.size(); ++k) {
            differences += bits(direct_x.get(k)) != bits(summed_x.get(k));
            differences += bits(direct_y.get(k)) != bits(summed_y.get(k));
        }
        EXPECT_EQ(differences, 0);
    }

  private:
    TrecAlgorithm m_direct;
    TrecAlgorithm m_summed;
};

TEST(SearchMethodTest, WholeRunsAgreeOnRadarImages) {
    // Echo cells with no-data and not-scanned areas, moved by (3, -2).
    Grid<double> prev = test::cellImage(64, 48, 0.0, 0.0);
    Grid<double> curr = test::cellImage(64, 48, 3.0, -2.0);
    for (int y = 20; y < 30; ++y) {
        for (int x = 40; x < 52; ++x) {
            prev.set(x, y, -999.0);
            curr.set(x + 3, y - 2, -900.0);
        }
    }
    MethodPair defaults(64, 48, TrecConf());
    defaults.expectSameRuns(prev, curr);

    TrecConf other;
    other.m_field_feature_box_spacing = 3;
    other.m_field_feature_box_width = 9;
    other.m_correlation_threshold = 0.2;
    other.m_field_use_spatial_filtering = SpatialThreshold::LOCAL;
    other.m_input_precision = 3;
    MethodPair varied(64, 48, other);
    varied.expectSameRuns(prev, curr);
}

TEST(SearchMethodTest, StepsReportTheMethodTheyUsed) {
    TrecConf conf;
    conf.m_field_feature_box_width = 8;
    conf.m_speed_limit = 3;
    TrecCalculation calculation(20, 16, conf);
    EXPECT_EQ(calculation.getSearchMethod(), SearchMethod::SUMMED_AREA);
    const Grid<int> prev = test::textureImage(20, 16, 0, 0);
    Grid<int> curr = test::textureImage(20, 16, 1, 1);
    Grid<double> field_x = test::filledGrid(20, 16, 7.5);
    Grid<double> field_y = test::filledGrid(20, 16, 7.5);
    double gx = 0.0;
    double gy = 0.0;
    calculation.calculateGlobalVector(prev, curr, gx, gy, -999.0, -999.0);
    calculation.calculateMotionField(prev, curr, field_x, field_y);
    EXPECT_EQ(calculation.getLastGlobalSearchMethod(), SearchMethod::SUMMED_AREA);
    EXPECT_EQ(calculation.getLastBoxSearchMethod(), SearchMethod::SUMMED_AREA);
    EXPECT_EQ(field_x.get(10, 8), 1.0);

    // Pixels of 2^28 square to 2^56: their sums would round, so both steps go direct.
    curr.set(5, 5, 1 << 28);
    calculation.calculateGlobalVector(prev, curr, gx, gy, -999.0, -999.0);
    calculation.calculateMotionField(prev, curr, field_x, field_y);
    EXPECT_EQ(calculation.getLastGlobalSearchMethod(), SearchMethod::DIRECT);
    EXPECT_EQ(calculation.getLastBoxSearchMethod(), SearchMethod::DIRECT);
}

}  // namespace
}  // namespace azm
