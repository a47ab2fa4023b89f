/* Product headers that describe a scan: the scan-dependent fields of an ORVA product header that
 * a caller has prepared for a product derived from the scan. Every field not named here, the
 * product type among them, stays the caller's. */
#ifndef PVOL_PVOL_PROD_HEADER_H
#define PVOL_PVOL_PROD_HEADER_H

#include "orva_records.h"
#include "pvol_export.h"
#include "radar_scan.h"

PVOL_BEGIN_DECLS

/* Fills identity, site, radar and height fields of header from scan: structure header, task
 * name, generating site (site: 16 bytes copied as they are), format version, site name, heights
 * of a fixed position, radar settings of the scan's first ray configuration, and the radar's
 * altitude less height_offset metres. For a product whose Y axis is height (pcf.iptype 2) with a
 * non-zero pcf.iyscale, also the radar's Y pixel position. */
PVOL_API void pvol_fill_prod_header(product_header *header, const radar_scan *scan,
                                    const char *site, int height_offset);

/* Sets the radar position of a fixed scan position, clears the radar pixel position and all map
 * projection fields: the header then describes a product without map projection. Returns
 * header. */
PVOL_API product_header *pvol_fill_prod_radpos(product_header *header, const radar_scan *scan);

PVOL_END_DECLS

#endif /* PVOL_PVOL_PROD_HEADER_H */
