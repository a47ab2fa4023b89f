/* Writing a scan as an ODIM_H5 2.4 polar volume (HDF5).
 *
 * One group /datasetN per sweep in time order, one /datasetN/dataM per moment. Moments whose codes
 * map linearly to physical values keep their 8- or 16-bit codes with the scale as gain and offset;
 * other moments are written as 32-bit floats of their physical values. Rows run clockwise from the
 * ray nearest north (an RHI's rows by rising elevation); where/a1gate is the row of the sweep's
 * first ray in time, and an absent ray is a row of nodata.
 *
 * This library links libpvol and the HDF5 C library; libpvol itself does not depend on HDF5. The
 * scan is only read. */
#ifndef ODIM_PVOL_ODIM_H
#define ODIM_PVOL_ODIM_H

#include "pvol/pvol_export.h"
#include "pvol/radar_scan.h"
#include "pvol/rawprod_io.h"

PVOL_BEGIN_DECLS

#if defined(ODIM_BUILDING)
#define ODIM_API __attribute__((visibility("default")))
#else
#define ODIM_API
#endif

/* What to write; pvol_odim_options_init gives the defaults. */
typedef struct pvol_odim_options {
    /* what/source of the file; null gives "PLC:" followed by the scan's site name. */
    const char *source;
    /* gzip level of the data sets, 0 (stored uncompressed) to 9. */
    int compression;
    /* Names of the moments to write (ODIM quantities such as "DBZH", or the toolkit's short
     * names such as "dBZ2"); null or a count of 0 writes every moment. A name that matches no
     * moment of the scan is a failure. The caller keeps the texts. */
    const char *const *moments;
    int moment_count;
} pvol_odim_options;

/* Fills options with the defaults: no source (the site name), compression 6, every moment. */
ODIM_API void pvol_odim_options_init(pvol_odim_options *options);

/* The ODIM quantity of a moment type (1 to 24), or the toolkit's own label of a type that has no
 * ODIM quantity; null for any other type. The text is static. */
ODIM_API const char *pvol_odim_quantity(int raw_type);

/* Writes scan to path as an ODIM_H5 2.4 file. The file is written under a temporary name in the
 * folder of path and renamed to path at the end, so that a failed call leaves no file that looks
 * complete (and an existing file at path untouched). options may be null (the defaults). Returns
 * 0 on success and 1 on failure: bad arguments, a scan without sweeps, a compression level outside
 * 0 to 9, an unknown moment name, a sweep whose moments lie on different range bins, or an error
 * of HDF5 or of the file system. Each failure passes one text, ending in a newline, to message
 * when it is given. */
ODIM_API int pvol_save_odim(const radar_scan *scan, const char *path,
                            const pvol_odim_options *options, pvol_message_callback message);

PVOL_END_DECLS

#endif /* ODIM_PVOL_ODIM_H */
