// Builders of the product and ingest headers that the RAW and ingest writers store.
#ifndef PVOL_ORVA_HEADER_OPS_H
#define PVOL_ORVA_HEADER_OPS_H

#include "orva_records.h"

// Fills a complete RAW product header from an ingest header; site is the generating site's name
// (null leaves the field blank-free zeros). The generation time is the current time.
void __product_header(product_header *out, const ingest_header *in, const char *site);

// Sets the fixed identifiers and defaults of a new, zeroed ingest header.
void __ingest_header_set_defaults(ingest_header *ih);

#endif  // PVOL_ORVA_HEADER_OPS_H
