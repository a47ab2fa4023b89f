#include "nowcast/grid.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "nowcast_check.h"

namespace azm {

template <typename T>
Grid<T>::Grid(int size_x, int size_y) : m_size_x(size_x), m_size_y(size_y), m_size(0) {
    NOWCAST_CHECK(m_size_x > 0);
    NOWCAST_CHECK(m_size_y > 0);
    // The element count must fit the int index space of every user.
    NOWCAST_CHECK(m_size_x <= std::numeric_limits<int>::max() / m_size_y);
    m_size = m_size_x * m_size_y;
    m_grid = std::make_unique_for_overwrite<T[]>(static_cast<std::size_t>(m_size));
}

template <typename T>
Grid<T>::Grid(const boost::multi_array<double, 2> &array) requires std::is_same_v<T, double>
    : Grid(static_cast<int>(array.shape()[1]), static_cast<int>(array.shape()[0])) {
    // Index relative to the array's own bases, so that any base or storage order maps
    // element [row][column] to (column, row).
    const auto row_base = array.index_bases()[0];
    const auto column_base = array.index_bases()[1];
    for (int cy = 0; cy < m_size_y; ++cy) {
        for (int cx = 0; cx < m_size_x; ++cx) {
            m_grid[cx + m_size_x * cy] = array[row_base + cy][column_base + cx];
        }
    }
}

template <typename T>
Grid<T>::Grid(const Grid &other) requires std::is_same_v<T, double>
    : Grid(other.m_size_x, other.m_size_y) {
    std::copy_n(other.m_grid.get(), m_size, m_grid.get());
}

template <typename T>
Grid<T>::Grid(Grid &&other) noexcept
    : m_size_x(std::exchange(other.m_size_x, 0)),
      m_size_y(std::exchange(other.m_size_y, 0)),
      m_size(std::exchange(other.m_size, 0)),
      m_grid(std::move(other.m_grid)) {}

template <typename T>
T Grid<T>::get(int index) const {
    NOWCAST_CHECK(index >= 0);
    NOWCAST_CHECK(index < m_size);
    return m_grid[index];
}

template <typename T>
T Grid<T>::get(int cx, int cy) const {
    NOWCAST_CHECK(cx >= 0);
    NOWCAST_CHECK(cx < m_size_x);
    NOWCAST_CHECK(cy >= 0);
    NOWCAST_CHECK(cy < m_size_y);
    return m_grid[cx + m_size_x * cy];
}

template <typename T>
void Grid<T>::set(int index, T value) {
    NOWCAST_CHECK(index >= 0);
    NOWCAST_CHECK(index < m_size);
    m_grid[index] = value;
}

template <typename T>
void Grid<T>::set(int cx, int cy, T value) {
    NOWCAST_CHECK(cx >= 0);
    NOWCAST_CHECK(cx < m_size_x);
    NOWCAST_CHECK(cy >= 0);
    NOWCAST_CHECK(cy < m_size_y);
    m_grid[cx + m_size_x * cy] = value;
}

template <typename T>
void Grid<T>::add(int cx, int cy, T value) requires std::is_same_v<T, double> {
    NOWCAST_CHECK(cx >= 0);
    NOWCAST_CHECK(cx < m_size_x);
    NOWCAST_CHECK(cy >= 0);
    NOWCAST_CHECK(cy < m_size_y);
    m_grid[cx + m_size_x * cy] += value;
}

template class Grid<int>;
template class Grid<double>;
template class Grid<bool>;

}  // namespace azm
