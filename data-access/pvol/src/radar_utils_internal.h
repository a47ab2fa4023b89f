// Helpers of the value conversions shared between their sources and the rest of the library.
#ifndef PVOL_RADAR_UTILS_INTERNAL_H
#define PVOL_RADAR_UTILS_INTERNAL_H

#include <cstdint>

#include "pvol/radar_utils.h"

namespace pvol_internal {

// floor(value + 0.5), saturated to the range of int; a NaN gives 0.
int round_half_up_to_int(double value);

// The 16-bit rain code of a value; values of 2^32 and above code like any value too large.
uint16_t rain_encode(uint64_t value);

// Copies a class table of DATA_CONVERT_CLASSES entries; returns the number of entries.
int enum_convert_copy(unsigned char dst[][4], const unsigned char src[][4]);

// FillDataConvert that takes the caller's class table when one is given and its first entry
// is set (byte 2 not 0); otherwise the default table.
void fill_data_convert_classes(data_convert *conv, double prf, int unfold, double wavelength,
                               int polarization, int flags, const unsigned char classes[][4]);

}  // namespace pvol_internal

#endif  // PVOL_RADAR_UTILS_INTERNAL_H
