// Data scales and 8-to-16-bit widening of data blocks, shared with the readers and writers.
#ifndef PVOL_DATA_BLOCK_INTERNAL_H
#define PVOL_DATA_BLOCK_INTERNAL_H

#include "pvol/data_block.h"

// Fills desc with the scale of moment type data_type stored in bytes_per_bin bytes (1 or 2).
// Returns desc; null for a null desc or a type outside the moment type table.
native_data_desc *get_descriptor(native_data_desc *desc, int data_type, int bytes_per_bin,
                                 const data_convert *conv);

// Conversion parameters of the radar of an ingest header.
data_convert *ingest_data_convert(data_convert *conv, const ingest_header *ih);

// Widens 8-bit ingest data (header, pointers, rays; size bytes, pointers checked) to 16 bits,
// updating the data-type mask of ih. Returns the new data (the old is released and *size set), the
// same data when there is nothing to widen (16 bits already, the extended header, the null type or
// a code of no moment), or null when out of memory (data unchanged).
unsigned char *ingest_to_16bit(unsigned char *data, uint64_t *size, ingest_header *ih);

// Converts the 8-bit ray at position of narrow into wide, where its pointer is set already: every
// bin goes through its physical value, except 0 (no data), which stays 0.
void convert_8to16(unsigned char *wide, const unsigned char *narrow, int position,
                   const ingest_header *ih);

// Makes room for this many bytes of ingest data in all, so that the rays added up to that size
// move nothing. False when out of memory, the block then unchanged.
bool dblock_reserve(dblock *block, uint64_t bytes);

// Ray positions a sweep is written with: the ray count of its sector, or for a manual sweep
// (which has no sector) its own ray count.
uint64_t sweep_ray_positions(const radar_sweep *sweep);

#endif  // PVOL_DATA_BLOCK_INTERNAL_H
