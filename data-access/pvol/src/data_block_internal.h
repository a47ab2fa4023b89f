// Data scales and 8-to-16-bit widening of data blocks, shared with the readers and writers.
#ifndef PVOL_DATA_BLOCK_INTERNAL_H
#define PVOL_DATA_BLOCK_INTERNAL_H

#include "data_block.h"

// Fills desc with the scale of moment type data_type stored in bytes_per_bin bytes (1 or 2).
// Returns desc; null for a null desc or a type outside the moment type table.
native_data_desc *get_descriptor(native_data_desc *desc, int data_type, int bytes_per_bin,
                                 const data_convert *conv);

// Conversion parameters of the radar of an ingest header.
data_convert *ingest_data_convert(data_convert *conv, const ingest_header *ih);

#endif  // PVOL_DATA_BLOCK_INTERNAL_H
