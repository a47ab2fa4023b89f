// Writing Cartesian images (a forecast, an analysis, motion fields) as an ODIM_H5 2.4 file of
// object IMAGE: one group /datasetN per image time, one /datasetN/dataM per quantity, values as
// 32-bit floats of their physical values.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace odim {

// One quantity on the grid, row 0 northmost, column 0 westmost; NaN is written as nodata.
struct ImageData {
    std::string quantity;  // ODIM quantity, such as DBZH or UWND
    std::vector<double> values;
};

struct ImageDataset {
    std::string product;  // what/product, such as PPI, MAX or COMP
    time_t start = 0;     // what/startdate, starttime
    time_t end = 0;       // what/enddate, endtime: the valid time of a forecast
    std::vector<ImageData> data;
};

struct ImageProduct {
    std::string source;  // what/source
    time_t nominal = 0;  // what/date, time
    std::string projdef;
    int xsize = 0;
    int ysize = 0;
    double xscale = 0.0;  // metres
    double yscale = 0.0;
    // Longitude and latitude (degrees) of the outer corners: lower left, upper left, upper right,
    // lower right.
    double corners[4][2] = {};
    std::vector<ImageDataset> datasets;
    int compression = 6;  // gzip level 0 to 9
};

// Float data values of the images: outside the range of every quantity.
constexpr double kImageNodata = -9999.0;
constexpr double kImageUndetect = -8888.0;

// Writes product to path, complete or not at all (see write_file). Throws WriteError for data
// sets whose values are not xsize * ysize, a compression level outside 0 to 9, and errors of HDF5
// or of the file system.
void save_image(const ImageProduct &product, const std::string &path);

}  // namespace odim
