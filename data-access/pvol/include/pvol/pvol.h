/* Umbrella header of libpvol: includes every public header of the library.
 *
 * Start here: share/azm_radar/examples/read_raw.c of the installed tree (examples/read_raw.c in
 * the sources) reads a RAW volume with the default callbacks and prints its sweeps and rays. */
#ifndef PVOL_H
#define PVOL_H

#include "pvol_export.h"
#include "radar_utils.h"
#include "orva_records.h"
#include "i16stream.h"
#include "data_block.h"
#include "rawprod_io.h"

#include "config_set.h"
#include "nav_system.h"
#include "radar_ray.h"
#include "radar_sweep.h"
#include "radar_scan.h"
#include "pvol_prod_io.h"
#include "orva_utils.h"
#include "pvol_save.h"
#include "pvol_prod_header.h"
#include "radar_grid.h"

#endif /* PVOL_H */
