// The ODIM_H5 image writer: groups and attributes of object IMAGE on the shared HDF5 helpers.
#include "odim_image.h"

#include <cmath>

#include "hdf5_write.h"

namespace odim {
namespace {

void write_times(hid_t what, const ImageDataset &dataset) {
    write_string(what, "startdate", utc_text(dataset.start, "%Y%m%d"));
    write_string(what, "starttime", utc_text(dataset.start, "%H%M%S"));
    write_string(what, "enddate", utc_text(dataset.end, "%Y%m%d"));
    write_string(what, "endtime", utc_text(dataset.end, "%H%M%S"));
}

void write_data(hid_t parent, const std::string &name, const ImageData &data,
                const ImageProduct &product) {
    Handle group = make_group(parent, name);
    {
        Handle what = make_group(group.get(), "what");
        write_string(what.get(), "quantity", data.quantity);
        write_double(what.get(), "gain", 1.0);
        write_double(what.get(), "offset", 0.0);
        write_double(what.get(), "nodata", kImageNodata);
        write_double(what.get(), "undetect", kImageUndetect);
    }
    std::vector<float> values(data.values.size());
    for (size_t k = 0; k < values.size(); ++k)
        values[k] = static_cast<float>(std::isnan(data.values[k]) ? kImageNodata : data.values[k]);
    write_image(group.get(), values.data(), static_cast<size_t>(product.ysize),
                static_cast<uint64_t>(product.xsize), sizeof(float), H5T_IEEE_F32LE,
                H5T_NATIVE_FLOAT, product.compression);
}

void write_product(hid_t file, const ImageProduct &product) {
    write_string(file, "Conventions", "ODIM_H5/V2_4");
    {
        Handle what = make_group(file, "what");
        write_string(what.get(), "object", "IMAGE");
        write_string(what.get(), "version", "H5rad 2.4");
        write_string(what.get(), "date", utc_text(product.nominal, "%Y%m%d"));
        write_string(what.get(), "time", utc_text(product.nominal, "%H%M%S"));
        write_string(what.get(), "source", product.source);
    }
    {
        Handle where = make_group(file, "where");
        write_string(where.get(), "projdef", product.projdef);
        write_int(where.get(), "xsize", product.xsize);
        write_int(where.get(), "ysize", product.ysize);
        write_double(where.get(), "xscale", product.xscale);
        write_double(where.get(), "yscale", product.yscale);
        const char *const names[4] = {"LL", "UL", "UR", "LR"};
        for (int c = 0; c < 4; ++c) {
            write_double(where.get(), (std::string(names[c]) + "_lon").c_str(),
                         product.corners[c][0]);
            write_double(where.get(), (std::string(names[c]) + "_lat").c_str(),
                         product.corners[c][1]);
        }
    }
    {
        Handle how = make_group(file, "how");
        write_string(how.get(), "software", "azm_radar");
    }
    for (size_t d = 0; d < product.datasets.size(); ++d) {
        const ImageDataset &dataset = product.datasets[d];
        Handle group = make_group(file, "dataset" + std::to_string(d + 1));
        {
            Handle what = make_group(group.get(), "what");
            write_string(what.get(), "product", dataset.product);
            write_times(what.get(), dataset);
        }
        for (size_t m = 0; m < dataset.data.size(); ++m)
            write_data(group.get(), "data" + std::to_string(m + 1), dataset.data[m], product);
    }
}

}  // namespace

void save_image(const ImageProduct &product, const std::string &path) {
    if (product.compression < 0 || product.compression > 9)
        throw WriteError("compression level " + std::to_string(product.compression) +
                         " is outside 0 to 9");
    if (product.xsize < 1 || product.ysize < 1)
        throw WriteError("an image needs at least one pixel");
    const size_t pixels = static_cast<size_t>(product.xsize) * static_cast<size_t>(product.ysize);
    for (const ImageDataset &dataset : product.datasets)
        for (const ImageData &data : dataset.data)
            if (data.values.size() != pixels)
                throw WriteError(data.quantity + " holds " + std::to_string(data.values.size()) +
                                 " values, not " + std::to_string(pixels));
    write_file(path, [&](hid_t file) { write_product(file, product); });
}

}  // namespace odim
