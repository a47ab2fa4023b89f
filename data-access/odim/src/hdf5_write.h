// What every ODIM_H5 writer of the library shares: typed attributes, groups, 2-D data sets, UTC
// texts, and writing a file under a temporary name that becomes its own only when complete.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "hdf5_handle.h"

namespace odim {

void write_attribute(hid_t location, const char *name, hid_t file_type, hid_t memory_type,
                     const void *value, hsize_t count, bool scalar);
// A fixed-length, null-terminated ASCII string.
void write_string(hid_t location, const char *name, const std::string &value);
void write_double(hid_t location, const char *name, double value);
void write_int(hid_t location, const char *name, int64_t value);
void write_doubles(hid_t location, const char *name, const std::vector<double> &values);

Handle make_group(hid_t parent, const std::string &name);

// A data set "data" of rows x columns values in group, gzip-compressed at level compression (0
// stores it plainly) in chunks of whole rows, marked as an HDF5 image.
void write_image(hid_t group, const void *values, size_t rows, uint64_t columns, size_t width,
                 hid_t file_type, hid_t memory_type, int compression);

// seconds as UTC in a strftime format.
std::string utc_text(time_t seconds, const char *format);

// Writes path through write_contents on a new HDF5 file that takes the name only when complete (an
// azm::ReplacingFile: a temporary name in path's folder, renamed at the end; a device is written in
// place): a failure (WriteError, or any exception of write_contents) leaves no file that looks
// complete and an existing file at path untouched.
void write_file(const std::string &path, const std::function<void(hid_t file)> &write_contents);

}  // namespace odim
