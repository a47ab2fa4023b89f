// Builders of the product and ingest headers that the RAW and ingest writers store.
#ifndef PVOL_ORVA_HEADER_OPS_H
#define PVOL_ORVA_HEADER_OPS_H

#include "pvol/orva_records.h"
#include "pvol/radar_ray.h"
#include "pvol/radar_sweep.h"

// Fills a complete RAW product header from an ingest header; site is the generating site's name
// (null leaves the field zero). The generation time is the current time.
void __product_header(product_header *out, const ingest_header *in, const char *site);

// Sets the fixed identifiers and defaults of a new, zeroed ingest header.
void __ingest_header_set_defaults(ingest_header *ih);

// Fills the task configuration and geometry of an ingest header from the first sweep of a run of
// sweeps that share rconf, for bins stored as bin_format (BITS_8 or BITS_16). The sweep's
// configuration must list exactly rconf. The range is the merged range mask of all moments.
void __ingest_header_set(ingest_header *ih, int bin_format, const radar_sweep *sweep,
                         const radar_ray_conf *rconf);

// Records the sweep at index within the run: its time opens the volume (index 0) and its fixed
// angle goes to the angle list. Returns 0, or 1 when the index is beyond the angle list (the
// angle is then not recorded).
int ingest_header_update(ingest_header *ih, const radar_sweep *sweep, int index);

// File polarization code of a transmit polarization; factor (may be null) receives the Nyquist
// factor of that polarization (2 for alternating transmission, else 1).
int16_t orva_polarization_code(int tx_polarization, double *factor);

#endif  // PVOL_ORVA_HEADER_OPS_H
