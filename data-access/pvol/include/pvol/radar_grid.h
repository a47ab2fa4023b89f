/* Cartesian grids of a scan's measurements, as inputs of image-based processing (motion
 * tracking, nowcasting).
 *
 * A grid is size x size square pixels of pixel_metres on the azimuthal equidistant projection
 * centred on the radar (pvol_grid_projection), with the radar at the middle of the grid. Values
 * are stored row by row, row 0 northmost and column 0 westmost: pixel (column i, row j) has its
 * centre at map x = (i + 0.5 - size / 2) * pixel_metres east and y = (size / 2 - j - 0.5) *
 * pixel_metres north of the radar.
 *
 * A pixel takes the value of the bin that covers it in a PPI sweep: its map distance is the
 * ground distance from the radar, turned into slant range along the ray's elevation with the
 * 4/3-earth beam model (antenna height neglected against the earth's radius); the ray is the one
 * nearest in azimuth, provided its azimuth lies within one beam spacing of the pixel's (the
 * spacing is the sector step of the sweep configuration, or the median spacing of the rays when
 * the sector has none). A pixel reads
 * - NaN where no ray or bin covers it and where the bin holds the not_scanned code,
 * - no_echo where the bin holds the under_threshold code (echo weaker than the threshold),
 * - the bin's physical value otherwise.
 *
 * Ownership: nothing is taken; the scan is only read. `values` belongs to the caller and must
 * hold size * size doubles; it is left untouched when a function fails. */
#ifndef PVOL_RADAR_GRID_H
#define PVOL_RADAR_GRID_H

#include "orva_utils.h"
#include "pvol_export.h"
#include "radar_scan.h"

PVOL_BEGIN_DECLS

/* The projection of the grids of a scan: azimuthal equidistant on the sphere of 6371 km with the
 * radar as reference. 0 on success; 1 for a null argument or a scan whose position is not a
 * fixed site. */
PVOL_API int pvol_grid_projection(const radar_scan *scan, map_proj *proj);

/* Grids moment_type (a raw_data_type, RD_DBZ for reflectivity) of the sweep at sweep_index in the
 * scan's list (0 the first). 0 on success; 1 for a null scan or values, a size outside 1 to 32768,
 * a pixel size that is not a positive finite number, a sweep index out of range, a sweep that is
 * not a PPI, a sweep without the moment, a scan that is not at a fixed site, or when out of
 * memory. */
PVOL_API int pvol_grid_sweep(const radar_scan *scan, int sweep_index, int moment_type, int size,
                             double pixel_metres, double no_echo, double *values);

/* The column maximum of moment_type over every PPI sweep of the scan that holds it: each pixel
 * takes the greatest value any sweep gives it; no_echo where every sweep that covers the pixel
 * sees echo below the threshold; NaN where none covers it. Failures as pvol_grid_sweep, and 1
 * when no PPI sweep holds the moment. */
PVOL_API int pvol_grid_max(const radar_scan *scan, int moment_type, int size, double pixel_metres,
                           double no_echo, double *values);

/* Which pixels of a grid lie within the reach of the moment's bins: 1 where a bin of the PPI
 * sweep at sweep_index covers the pixel, or of any PPI sweep that holds the moment when
 * sweep_index is negative; 0 elsewhere. It tells no echo from no data where a file keeps one code
 * for both (RAW product files do): a NaN pixel within reach is no echo. reached must hold size *
 * size bytes, row by row as the values of the grids, and is left untouched when the function
 * fails. 0 on success; failures as pvol_grid_sweep (for a negative sweep_index, as
 * pvol_grid_max). */
PVOL_API int pvol_grid_reach(const radar_scan *scan, int sweep_index, int moment_type, int size,
                             double pixel_metres, unsigned char *reached);

PVOL_END_DECLS

#endif /* PVOL_RADAR_GRID_H */
