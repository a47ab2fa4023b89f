// Shared HDF5 writing of the ODIM_H5 writers.
#include "hdf5_write.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "replacing_file.h"

namespace odim {

void write_attribute(hid_t location, const char *name, hid_t file_type, hid_t memory_type,
                     const void *value, hsize_t count, bool scalar) {
    Handle space =
        scalar ? Handle(H5Screate(H5S_SCALAR), H5Sclose, "make a data space")
               : Handle(H5Screate_simple(1, &count, nullptr), H5Sclose, "make a data space");
    Handle attribute(H5Acreate2(location, name, file_type, space.get(), H5P_DEFAULT, H5P_DEFAULT),
                     H5Aclose, std::string("create attribute ") + name);
    check(H5Awrite(attribute.get(), memory_type, value), std::string("write attribute ") + name);
}

// A fixed-length, null-terminated ASCII string.
void write_string(hid_t location, const char *name, const std::string &value) {
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose, "make a string type");
    check(H5Tset_size(type.get(), value.size() + 1), "size a string type");
    check(H5Tset_strpad(type.get(), H5T_STR_NULLTERM), "terminate a string type");
    check(H5Tset_cset(type.get(), H5T_CSET_ASCII), "set a string type to ASCII");
    write_attribute(location, name, type.get(), type.get(), value.c_str(), 1, true);
}

void write_double(hid_t location, const char *name, double value) {
    write_attribute(location, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &value, 1, true);
}

void write_int(hid_t location, const char *name, int64_t value) {
    write_attribute(location, name, H5T_STD_I64LE, H5T_NATIVE_INT64, &value, 1, true);
}

void write_doubles(hid_t location, const char *name, const std::vector<double> &values) {
    write_attribute(location, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, values.data(), values.size(),
                    false);
}

Handle make_group(hid_t parent, const std::string &name) {
    return Handle(H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose,
                  "create group " + name);
}

std::string utc_text(time_t seconds, const char *format) {
    tm broken{};
    char text[32] = "";
    if (gmtime_r(&seconds, &broken) == nullptr ||
        std::strftime(text, sizeof text, format, &broken) == 0)
        throw WriteError("a time cannot be written as a date: " + std::to_string(seconds));
    return text;
}

void write_image(hid_t group, const void *values, size_t rows, uint64_t bins, size_t width,
                 hid_t file_type, hid_t memory_type, int compression) {
    const hsize_t dims[2] = {rows, bins};
    Handle space(H5Screate_simple(2, dims, nullptr), H5Sclose, "make a data space");
    Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, "make data set properties");
    if (compression > 0 && rows > 0 && bins > 0) {
        // Chunks of whole rows (rays), about 64 KiB each.
        const hsize_t chunk_rows = std::clamp<hsize_t>(65536 / (bins * width), 1, rows);
        const hsize_t chunk[2] = {chunk_rows, bins};
        check(H5Pset_chunk(properties.get(), 2, chunk), "chunk a data set");
        if (width > 1)
            check(H5Pset_shuffle(properties.get()), "shuffle a data set");
        check(H5Pset_deflate(properties.get(), static_cast<unsigned>(compression)),
              "compress a data set");
    }
    Handle data(H5Dcreate2(group, "data", file_type, space.get(), H5P_DEFAULT, properties.get(),
                           H5P_DEFAULT),
                H5Dclose, "create a data set");
    if (rows > 0 && bins > 0)
        check(H5Dwrite(data.get(), memory_type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values),
              "write a data set");
    write_string(data.get(), "CLASS", "IMAGE");
    write_string(data.get(), "IMAGE_VERSION", "1.2");
}

void write_file(const std::string &path, const std::function<void(hid_t file)> &write_contents) {
    const QuietErrors quiet;
    try {
        azm::ReplacingFile output(path);
        // HDF5 opens the file by name.
        output.release_descriptor();
        Handle file(H5Fcreate(output.path().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT),
                    H5Fclose, "create " + output.path());
        write_contents(file.get());
        file.close("finish " + output.path());
        output.commit();
    } catch (const std::system_error &e) {
        throw WriteError(e.what());
    }
}

}  // namespace odim
