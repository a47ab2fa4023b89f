// Sub-pixel refinement of a motion field, such as TREC's, from the correlation surface.
#ifndef NOWCAST_MOTION_REFINER_H
#define NOWCAST_MOTION_REFINER_H

#include "nowcast/grid.h"
#include "nowcast/trec_conf.h"

namespace azm {

// Parameters of MotionRefiner. Lengths are in pixels.
struct MotionRefinerConf {
    // Distance between the centres of neighbouring boxes.
    int lattice_spacing = 8;
    // Half the width of the square box that is correlated around each centre.
    int box_half_width = 16;
    // Image values below it are no echo (0) for the correlation.
    double signal_threshold = 10.0;
    // Fraction of a box that must hold echo for the box to be tracked.
    double signal_coverage = 0.1;
    // Smallest correlation coefficient at the peak for the box to count.
    double correlation_threshold = 0.55;
    // The peak is searched within this many pixels of the first guess, in each axis, moving
    // the search window up to this many times when the peak lies on its edge.
    int search_radius = 2;
    int search_moves = 4;
    // No displacement longer than this is considered.
    double speed_limit = 15.0;
    // A direction of a box's correlation peak counts only when its curvature reaches this
    // fraction of the sharpest direction's: along a line-shaped echo the peak is a ridge whose
    // faint bumps come from noise, not from motion.
    double aperture_ratio = 0.25;
    // Standard deviation of the Gaussian that pools the boxes around each point, in lattice
    // spacings.
    double pooling_width = 2.0;
    // Weight of the image's mean motion, in boxes of average certainty, blended into each
    // point's pool: it decides the components that no box nearby can see.
    double mean_weight = 2.0;
};

// Refines a motion field (pixels per image interval, x along the columns, y along the rows)
// between an earlier and a later image.
//
// TREC gives whole-pixel displacements, and where echo is smooth or line-shaped its boxes can see
// motion only across the features (a straight rain band looks the same wherever it slides along
// itself), yet they report a full vector there. The refiner instead correlates boxes on a
// lattice, around the displacement the given field suggests, and fits a quadratic surface to the
// coefficients around the best whole-pixel displacement. The surface's peak is the box's sub-pixel
// displacement, and its curvature says how sharply each direction of it is known: a box on a
// straight band knows the motion across the band, not along it. Each point of the new field
// pools the boxes around it, each weighted by its curvature, together with the image-wide pool of
// all boxes, which decides what no box nearby can see; the field is interpolated bilinearly
// between the lattice points.
//
// Where no box is tracked (too little echo in the whole image) the field stays as given.
class MotionRefiner {
  public:
    explicit MotionRefiner(const MotionRefinerConf &conf = MotionRefinerConf());
    // The signal and correlation thresholds and the speed limit of a TREC configuration, so that
    // the refinement accepts what TREC would; the rest as MotionRefinerConf's defaults.
    explicit MotionRefiner(const TrecConf &trec);

    // Refines field_x and field_y in place. False, with the fields unchanged, when the four
    // grids differ in size, a component is missing (-999.0 or not a number) or no box can be
    // tracked.
    bool refine(const Grid<double> &earlier, const Grid<double> &later, Grid<double> &field_x,
                Grid<double> &field_y) const;

  private:
    MotionRefinerConf m_conf;
};

}  // namespace azm

#endif  // NOWCAST_MOTION_REFINER_H
