// Forecast images by carrying an image along a motion field (semi-Lagrangian advection).
#ifndef NOWCAST_EXTRAPOLATOR_H
#define NOWCAST_EXTRAPOLATOR_H

#include <vector>

#include "nowcast/grid.h"

namespace azm {

// Extrapolates images along a steady motion field, such as the motion fields of TrecAlgorithm.
//
// The motion is in pixels per image interval: x along the columns, y along the rows, exactly as
// the images are indexed. Vectors equal to -999.0 (TREC's missing marker) or not a number are
// missing.
//
// A forecast pixel takes the value the image has where the pixel's trajectory started. From
// every pixel centre the trajectory is traced backward in time over one step through the motion
// field (bilinearly interpolated), in sub-steps of at most one pixel each with the midpoint
// rule; longer leads chain these one-step displacements, interpolated bilinearly where a
// trajectory lies between pixel centres. The image is sampled bilinearly at the start of the
// trajectory, pixel centres at whole coordinates. A forecast pixel is missing (NaN) when its
// trajectory starts outside the grid (or was outside at an earlier lead), meets a missing vector,
// or starts where a pixel that takes part in the interpolation is not a number.
class Extrapolator {
  public:
    // Copies the motion field. isGood() is false when the two components differ in size.
    Extrapolator(const Grid<double> &motion_x, const Grid<double> &motion_y);

    bool isGood() const { return m_good; }
    int sizeX() const { return m_motion_x.sizeX(); }
    int sizeY() const { return m_motion_x.sizeY(); }
    // The largest length of a vector of the field, pixels per image interval.
    double maxSpeed() const { return m_max_speed; }

    // Forecasts of image for the leads step, 2 step, ..., count * step image intervals, in that
    // order. A smaller step follows curved motion more closely at a higher cost. Empty when the
    // extrapolator is not good, the image is not of the field's size, step is not a positive finite
    // number or count is below 1.
    std::vector<Grid<double>> forecast(const Grid<double> &image, double step, int count) const;

  private:
    // The motion at (x, y), false where it is missing or (x, y) lies outside the grid.
    bool motionAt(double x, double y, double &u, double &v) const;

    Grid<double> m_motion_x;
    Grid<double> m_motion_y;
    bool m_good;
    double m_max_speed = 0.0;
};

}  // namespace azm

#endif  // NOWCAST_EXTRAPOLATOR_H
