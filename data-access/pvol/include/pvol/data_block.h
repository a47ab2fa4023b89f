/* Data blocks: the ingest data of one sweep for one data type, laid out exactly as an ingest data
 * file: the ingest data header, one int32 ray pointer per ray position (0 = no ray, otherwise 1
 * plus the ray's byte offset in the ray area) and the ray area.
 *
 * A ray is a run of 16-bit words: 6 header words (ingest_ray_header) and the bins, 8 or 16 bits
 * each, their count rounded up to even.
 *
 * Ownership: a block belongs to whoever created it and is released with dblock_delete. Rays and
 * headers handed out point into the block and live as long as it does, unchanged until the next
 * dblock_add_ingest_ray or dblock_finalize. */
#ifndef PVOL_DATA_BLOCK_H
#define PVOL_DATA_BLOCK_H

#include <stdint.h>

#include "orva_records.h"
#include "pvol_export.h"
#include "radar_ray.h"
#include "radar_sweep.h"

PVOL_BEGIN_DECLS

typedef struct dblock dblock;

/* Results of dblock_add_ingest_ray. */
#define DBLOCK_ADDED 0
#define DBLOCK_FULL 1 /* all ray positions are filled already */
#define DBLOCK_NO_MEMORY 2
#define DBLOCK_BAD_RAY 3 /* the ray is shorter than its header and bins */

/* A block from an ingest data header and, optionally, the bytes that follow it in an ingest data
 * file (ray pointers and ray area, size bytes). Null when the header's data type code is not one
 * of the moment types, its bits per bin are not 8 or 16, hdr.ibytes is not 76 + size, or a ray
 * pointer or a ray's bin count reaches beyond the bytes given (or a ray starts at an odd offset).
 * The block's data is a copy. */
PVOL_API dblock *dblock_new_from_ihdr(const IDhdr *header, const void *data, uint64_t size);

/* An empty block for writing the moment of a sweep as bin_format (BITS_8 or BITS_16): the data
 * header describes the sweep (time, schedule index, sector, fixed angle) and the moment's ORVA
 * code. Its ray positions are those of the sector, for a manual sweep (no sector) its rays. Null
 * when the sweep's configuration does not hold exactly one ray configuration, the moment is not a
 * standard moment, there are more ray positions than a header counts, or out of memory. */
PVOL_API dblock *dblock_new_from_sweep(const radar_sweep *sweep, const radar_moment *moment,
                                       int bin_format);

/* Adds the ray of the next ray position. ray holds words 16-bit words; a null ray or one of 0
 * bins is an absent ray. Returns DBLOCK_ADDED, DBLOCK_FULL (nothing changed), DBLOCK_NO_MEMORY
 * (nothing changed) or DBLOCK_BAD_RAY (nothing changed). */
PVOL_API int dblock_add_ingest_ray(dblock *block, const uint16_t *ray, uint64_t words);

/* Marks an 8-bit block to be widened to 16 bits when it is finalized. Returns block. */
PVOL_API dblock *dblock_force_16_bit(dblock *block);

/* Completes the block once all rays are in: widens it when marked (updating the data-type mask of
 * ih), decides the half scale of differential phase, and flags the data header complete. A block
 * whose code has no 16-bit form stays at 8 bits. Returns 0, or 1 when out of memory while
 * widening (the block then stays at 8 bits and is not flagged complete). */
PVOL_API int dblock_finalize(dblock *block, ingest_header *ih);

/* irtotl, the number of ray positions. */
PVOL_API int dblock_get_ray_count(const dblock *block);

/* The ray words stored at a ray position, or null for an absent ray or a position not filled. */
PVOL_API const uint16_t *dblock_get_ingest_ray(const dblock *block, int position);

/* Fills view with the bins of the ray at position (BITS_8 or BITS_16, bins from ray word 4) and
 * returns it; null for an absent ray. The view's data points into the block and capacity is 0:
 * the view owns nothing, never release or resize it. */
PVOL_API radar_ray_data *dblock_get_radar_ray_data(const dblock *block, radar_ray_data *view,
                                                   int position);

/* Fills desc with the data scale of the block's data, with the conversion parameters of ih, and
 * returns it. */
PVOL_API native_data_desc *dblock_get_scale(const dblock *block, const ingest_header *ih,
                                            native_data_desc *desc);

/* Releases the block. Returns 0, or 1 for a null block. */
PVOL_API int dblock_delete(dblock *block);

/* Moment type (raw_data_type) of the block's data. */
PVOL_API int dblock_get_data_type(const dblock *block);
/* isweep - 1 of the data header. */
PVOL_API int dblock_get_schedule_index(const dblock *block);
/* The data header inside the block. */
PVOL_API const IDhdr *dblock_get_ihdr(const dblock *block);
/* The whole ingest data (header, pointers, rays) as stored in an ingest data file; *size gets its
 * length in bytes. */
PVOL_API const void *dblock_get_ingest_data(const dblock *block, uint64_t *size);

PVOL_END_DECLS

#endif /* PVOL_DATA_BLOCK_H */
