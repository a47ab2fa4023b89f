// Synthetic images for the nowcast tests and benchmark.
#ifndef NOWCAST_TEST_IMAGES_H
#define NOWCAST_TEST_IMAGES_H

#include <cmath>
#include <cstdint>
#include <vector>

#include "nowcast/grid.h"

namespace azm::test {

// Deterministic noise at any integer position, also outside a grid: [low, low + span).
inline int textureAt(int x, int y, int low, int span) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return low + static_cast<int>(h % static_cast<std::uint32_t>(span));
}

template <typename T>
Grid<T> filledGrid(int size_x, int size_y, T value) {
    Grid<T> grid(size_x, size_y);
    for (int cy = 0; cy < size_y; ++cy) {
        for (int cx = 0; cx < size_x; ++cx) {
            grid.set(cx, cy, value);
        }
    }
    return grid;
}

// Noise moved by (shift_x, shift_y): pixel (x, y) holds the noise of (x - shift_x, y - shift_y),
// so the displacement from an unshifted image to this one is (shift_x, shift_y).
inline Grid<int> textureImage(int size_x, int size_y, int shift_x, int shift_y, int low = 1000,
                              int span = 1000) {
    Grid<int> grid(size_x, size_y);
    for (int cy = 0; cy < size_y; ++cy) {
        for (int cx = 0; cx < size_x; ++cx) {
            grid.set(cx, cy, textureAt(cx - shift_x, cy - shift_y, low, span));
        }
    }
    return grid;
}

// Radar-like reflectivity: smooth cells (peaks of 30 to 55) on a clear background (0), moved by
// (shift_x, shift_y). As on a radar image, echoes keep clear of the image border (the cells lie
// in the middle three fifths), so the motion does not carry them across it.
inline Grid<double> cellImage(int size_x, int size_y, double shift_x, double shift_y) {
    struct Cell {
        double x, y, radius, peak;
    };
    std::vector<Cell> cells;
    std::uint32_t state = 12345u;
    auto uniform = [&state]() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    const int count = size_x * size_y / 150 + 3;
    for (int i = 0; i < count; ++i) {
        const double x = size_x * (0.2 + 0.6 * uniform());
        const double y = size_y * (0.2 + 0.6 * uniform());
        cells.push_back({x, y, 1.5 + 2.5 * uniform(), 30.0 + 25.0 * uniform()});
    }
    Grid<double> grid(size_x, size_y);
    for (int cy = 0; cy < size_y; ++cy) {
        for (int cx = 0; cx < size_x; ++cx) {
            double value = 0.0;
            for (const Cell &cell : cells) {
                const double dx = cx - shift_x - cell.x;
                const double dy = cy - shift_y - cell.y;
                const double r2 = (dx * dx + dy * dy) / (cell.radius * cell.radius);
                value = std::max(value, cell.peak * std::exp(-0.5 * r2));
            }
            grid.set(cx, cy, value < 5.0 ? 0.0 : value);
        }
    }
    return grid;
}

}  // namespace azm::test

#endif  // NOWCAST_TEST_IMAGES_H
