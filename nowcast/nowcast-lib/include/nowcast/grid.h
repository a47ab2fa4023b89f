// Dense two-dimensional grid: every image, mask and motion field of the library.
#ifndef NOWCAST_GRID_H
#define NOWCAST_GRID_H

#include <memory>
#include <type_traits>

#include <boost/multi_array.hpp>

namespace azm {

// Marks a missing motion vector or motion-field element, in TREC's results and the extrapolator's
// input.
inline constexpr double kMissingVector = -999.0;

// A rectangle of m_size_x columns by m_size_y rows, stored row by row: element (cx, cy) is at
// linear index cx + m_size_x * cy. Construction from sizes leaves the elements uninitialised.
// Instantiated for int (correlator images), double (input images, motion fields, weights) and
// bool (masks, one byte per element); each instantiation offers only the operations it needs.
// Every access checks its bounds and stops the process on a violation.
template <typename T>
class Grid {
  public:
    Grid(int size_x, int size_y);

    // Array element [row][column] becomes (cx = column, cy = row).
    explicit Grid(const boost::multi_array<double, 2> &array) requires std::is_same_v<T, double>;

    Grid(const Grid &other) requires std::is_same_v<T, double>;
    // Takes the elements over; the moved-from grid is left empty (every access stops).
    Grid(Grid &&other) noexcept;
    Grid &operator=(const Grid &) = delete;

    int sizeX() const requires(!std::is_same_v<T, bool>) { return m_size_x; }
    int sizeY() const requires(!std::is_same_v<T, bool>) { return m_size_y; }
    int size() const requires std::is_same_v<T, double> { return m_size; }

    // The element buffer, row by row, for fast reading without bound checks.
    const T *getGrid() const requires(!std::is_same_v<T, bool>) { return m_grid.get(); }

    T get(int index) const;
    T get(int cx, int cy) const;
    void set(int index, T value);
    void set(int cx, int cy, T value);
    void add(int cx, int cy, T value) requires std::is_same_v<T, double>;

  private:
    int m_size_x;
    int m_size_y;
    int m_size;
    std::unique_ptr<T[]> m_grid;
};

extern template class Grid<int>;
extern template class Grid<double>;
extern template class Grid<bool>;

}  // namespace azm

#endif  // NOWCAST_GRID_H
