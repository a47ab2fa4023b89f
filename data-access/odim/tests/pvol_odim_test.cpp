// The ODIM writer on scans built in memory, read back through the HDF5 C library: ray order and
// absent rays, the value encodings, moment selection and the failures.
#include <gtest/gtest.h>

#include <hdf5.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "odim_test_scans.h"
#include "pvol_odim.h"
#include "temp_dir.h"

namespace {

using namespace odim_test;

// ---- reading back -------------------------------------------------------------------------

struct File {
    explicit File(const std::string &path) {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // a missing attribute is a finding here
        id = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    }
    ~File() {
        if (id >= 0)
            H5Fclose(id);
    }
    hid_t id = H5I_INVALID_HID;
};

template <typename T>
std::vector<T> attribute(const File &f, const std::string &group, const char *name,
                         hid_t memory_type) {
    std::vector<T> values;
    const hid_t a = H5Aopen_by_name(f.id, group.c_str(), name, H5P_DEFAULT, H5P_DEFAULT);
    if (a < 0)
        return values;
    const hid_t space = H5Aget_space(a);
    values.resize(static_cast<size_t>(H5Sget_simple_extent_npoints(space)));
    H5Aread(a, memory_type, values.data());
    H5Sclose(space);
    H5Aclose(a);
    return values;
}

double number(const File &f, const std::string &group, const char *name) {
    const auto v = attribute<double>(f, group, name, H5T_NATIVE_DOUBLE);
    return v.size() == 1 ? v[0] : NAN;
}

std::vector<double> numbers(const File &f, const std::string &group, const char *name) {
    return attribute<double>(f, group, name, H5T_NATIVE_DOUBLE);
}

std::string text(const File &f, const std::string &group, const char *name) {
    const hid_t a = H5Aopen_by_name(f.id, group.c_str(), name, H5P_DEFAULT, H5P_DEFAULT);
    if (a < 0)
        return "(none)";
    const hid_t type = H5Aget_type(a);
    std::string value(H5Tget_size(type), '\0');
    H5Aread(a, type, value.data());
    H5Tclose(type);
    H5Aclose(a);
    return value.c_str();
}

// The data set of path as doubles, row after row, and its class (integer or float).
struct Image {
    std::vector<double> values;
    hsize_t rows = 0, bins = 0;
    H5T_class_t type_class = H5T_NO_CLASS;
    size_t width = 0;
    double at(hsize_t row, hsize_t bin) const { return values.at(row * bins + bin); }
};

Image image(const File &f, const std::string &path) {
    Image result;
    const hid_t d = H5Dopen2(f.id, path.c_str(), H5P_DEFAULT);
    if (d < 0)
        return result;
    const hid_t space = H5Dget_space(d);
    hsize_t dims[2] = {0, 0};
    H5Sget_simple_extent_dims(space, dims, nullptr);
    result.rows = dims[0];
    result.bins = dims[1];
    const hid_t type = H5Dget_type(d);
    result.type_class = H5Tget_class(type);
    result.width = H5Tget_size(type);
    result.values.resize(dims[0] * dims[1]);
    H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, result.values.data());
    H5Tclose(type);
    H5Sclose(space);
    H5Dclose(d);
    return result;
}

// ---- scans --------------------------------------------------------------------------------

ScanHandle scan_of(const std::vector<SweepShape> &shapes, const std::vector<MomentSpec> &moments,
                   bool with_ingest_header = false) {
    ScanHandle scan = synthetic::new_scan("ODIMUNIT");
    const timeval volume_time{synthetic::kVolumeTime, 0};
    pvol_set_time_stamp(scan.get(), &volume_time);
    for (size_t i = 0; i < shapes.size(); ++i) {
        const SweepConfHandle sconf(make_conf(shapes[i], moments, "ODIMUNIT", with_ingest_header));
        // Later sweeps first in the scan: the file orders them by time.
        const time_t time = synthetic::kVolumeTime + 60 * static_cast<time_t>(shapes.size() - i);
        pvol_add_sweep(scan.get(), make_sweep(sconf.get(), shapes[i], time, static_cast<int>(i)));
    }
    return scan;
}

std::vector<std::string> messages;
void keep(const char *text) {
    messages.emplace_back(text);
}

int save(const radar_scan *scan, const std::string &path, const pvol_odim_options *options) {
    messages.clear();
    return pvol_save_odim(scan, path.c_str(), options, keep);
}

const std::vector<MomentSpec> kTwoMoments = {{RD_DBZ, BITS_16}, {RD_VEL, BITS_8}};

TEST(OdimWriterTest, RowsRunClockwiseFromNorthWithAbsentRaysAsNodata) {
    TempDir dir;
    // Ten rays of 36 degrees from 180, clockwise; the ray over north (slot 5) and slot 8 are
    // absent. A second sweep runs counter-clockwise from 100 degrees.
    const ScanHandle scan =
        scan_of({{180.0, 36.0, 10, 0.5, false, {5, 8}}, {100.0, -36.0, 10, 1.5}}, kTwoMoments);
    const std::string path = dir.file("v.h5");
    ASSERT_EQ(save(scan.get(), path, nullptr), 0);
    File f(path);
    ASSERT_GE(f.id, 0);
    EXPECT_EQ(text(f, "/what", "object"), "PVOL");

    // The second sweep of the scan came first in time.
    const std::string cw = "/dataset2", ccw = "/dataset1";
    EXPECT_DOUBLE_EQ(number(f, cw + "/where", "elangle"), 0.5);
    EXPECT_EQ(number(f, cw + "/where", "nrays"), 10);
    // Slot 5 (180 + 5 x 36 = 0 degrees) is row 0; slot 0 (180 degrees) row 5 and first in time.
    EXPECT_EQ(number(f, cw + "/where", "a1gate"), 5);
    const std::vector<double> start = numbers(f, cw + "/how", "startazA");
    ASSERT_EQ(start.size(), 10u);
    EXPECT_TRUE(std::isnan(start[0]));
    EXPECT_TRUE(std::isnan(start[3]));  // slot 8
    EXPECT_NEAR(start[1], 36.0, 1e-9);
    EXPECT_NEAR(start[5], 180.0, 1e-9);
    const Image dbz = image(f, cw + "/data1/data");
    ASSERT_EQ(dbz.rows, 10u);
    ASSERT_EQ(dbz.bins, synthetic::kRange.count);
    EXPECT_EQ(dbz.type_class, H5T_INTEGER);
    EXPECT_EQ(dbz.width, 2u);
    const double nodata = number(f, cw + "/data1/what", "nodata");
    for (hsize_t b = 0; b < dbz.bins; ++b) {
        EXPECT_EQ(dbz.at(0, b), nodata);
        EXPECT_EQ(dbz.at(3, b), nodata);
        // Row 5 holds slot 0's codes, row 1 slot 6's.
        EXPECT_EQ(dbz.at(5, b), code_at(BITS_16, 0, static_cast<int>(b), 0));
        EXPECT_EQ(dbz.at(1, b), code_at(BITS_16, 6, static_cast<int>(b), 0));
    }

    // Counter-clockwise from 100 degrees: slot 2 (100 - 72 - 18 = 10, middle) is nearest north;
    // rows run clockwise, so slot 2 is row 0, slot 1 row 1, slot 0 (first in time) row 2.
    EXPECT_EQ(number(f, ccw + "/where", "a1gate"), 2);
    const Image vel = image(f, ccw + "/data2/data");
    EXPECT_EQ(vel.width, 1u);
    EXPECT_EQ(vel.at(0, 4), code_at(BITS_8, 2, 4, 1));
    EXPECT_EQ(vel.at(2, 4), code_at(BITS_8, 0, 4, 1));
    const std::vector<double> ccw_start = numbers(f, ccw + "/how", "startazA");
    for (size_t row = 1; row < ccw_start.size(); ++row)
        EXPECT_GT(std::fmod(ccw_start[row] - ccw_start[row - 1] + 360.0, 360.0), 0) << row;
}

TEST(OdimWriterTest, AnRhiRunsByRisingElevation) {
    TempDir dir;
    const ScanHandle scan = scan_of({{20.0, -0.5, 30, 45.0, true}}, kTwoMoments);
    const std::string path = dir.file("rhi.h5");
    ASSERT_EQ(save(scan.get(), path, nullptr), 0);
    File f(path);
    EXPECT_EQ(text(f, "/what", "object"), "SCAN");
    EXPECT_EQ(text(f, "/dataset1/what", "product"), "RHI");
    EXPECT_NEAR(number(f, "/dataset1/where", "az_angle"), 45.0, 1e-9);
    // Falling from 20 degrees: the first ray in time is the last row.
    EXPECT_EQ(number(f, "/dataset1/where", "a1gate"), 29);
    const std::vector<double> el = numbers(f, "/dataset1/how", "startelA");
    ASSERT_EQ(el.size(), 30u);
    EXPECT_LT(el.front(), el.back());
}

TEST(OdimWriterTest, CodesThatAreNotLinearBecomeFloats) {
    TempDir dir;
    const ScanHandle scan = scan_of({{0.0, 1.0, 4, 0.5}},
                                    {{RD_RHOHV, BITS_8}, {RD_ZDR, BITS_8}, {RD_VEL, BITS_8}}, true);
    const std::string path = dir.file("v.h5");
    ASSERT_EQ(save(scan.get(), path, nullptr), 0);
    File f(path);
    const Image rho = image(f, "/dataset1/data1/data");
    EXPECT_EQ(rho.type_class, H5T_FLOAT);
    EXPECT_EQ(rho.width, 4u);
    EXPECT_EQ(number(f, "/dataset1/data1/what", "gain"), 1.0);
    EXPECT_EQ(number(f, "/dataset1/data1/what", "offset"), 0.0);
    const double nodata = number(f, "/dataset1/data1/what", "nodata");
    for (int r = 0; r < 4; ++r) {
        for (int b = 0; b < static_cast<int>(rho.bins); ++b) {
            const uint16_t code = code_at(BITS_8, r, b, 0);
            // 8-bit correlation codes are the square root scale of the ORVA format.
            const double expected = code == 0 ? nodata : std::sqrt((code - 1) / 253.0);
            EXPECT_NEAR(rho.at(r, b), expected, 1e-6) << r << " " << b;
        }
    }
    // Linear 8-bit codes stay codes, with their scale.
    const Image zdr = image(f, "/dataset1/data2/data");
    EXPECT_EQ(zdr.type_class, H5T_INTEGER);
    EXPECT_EQ(number(f, "/dataset1/data2/what", "gain"), 0.0625);
    EXPECT_EQ(number(f, "/dataset1/data2/what", "offset"), -8.0);
    EXPECT_EQ(text(f, "/dataset1/data2/what", "quantity"), "ZDR");
    // 8-bit velocity is linear too, over the Nyquist interval of the ingest header.
    EXPECT_EQ(image(f, "/dataset1/data3/data").type_class, H5T_INTEGER);
    EXPECT_NEAR(number(f, "/dataset1/data3/what", "gain"), synthetic::kNyquist / 127, 1e-12);
}

TEST(OdimWriterTest, ACustomMomentIsFloatsUnderItsOwnName) {
    TempDir dir;
    const RayConfHandle rconf(synthetic::new_rayconf({}));
    ASSERT_EQ(rayconf_add_custom_moment(rconf.get(), "HAIL", "%", &synthetic::kRange), 0);
    const dscan sector{0.0, 90.0 * kDegree, 4};
    const SweepConfHandle sconf(sweepconf_new_ppi(&sector));
    sweepconf_add_rayconf(sconf.get(), rconf.get());
    SweepHandle sweep(rsweep_new(sconf.get()));
    const RayDataHandle values(radar_ray_data_new());
    radar_ray_data_resize(values.get(), BITS_64, 3);
    auto *v = static_cast<double *>(values->data);
    for (int r = 0; r < 4; ++r) {
        const angle_interval az{r * 90.0 * kDegree, (r + 0.5) * 90.0 * kDegree,
                                (r + 1) * 90.0 * kDegree};
        const angle_interval el{kDegree, kDegree, kDegree};
        const timeval t{synthetic::kVolumeTime + r, 0};
        RayHandle ray(rray_new(rconf.get(), &az, &el, &t, nullptr, -1));
        v[0] = 12.5 * r;
        v[1] = NAN;
        v[2] = -INFINITY;
        ASSERT_EQ(rray_set_dat(ray.get(), 0, values.get()), 0);  // bins 3 on read as NaN
        rsweep_add_ray(sweep.get(), ray.release());
    }
    ScanHandle scan = synthetic::new_scan();
    pvol_add_sweep(scan.get(), sweep.release());

    const std::string path = dir.file("v.h5");
    ASSERT_EQ(save(scan.get(), path, nullptr), 0) << messages.at(0);
    File f(path);
    EXPECT_EQ(text(f, "/dataset1/data1/what", "quantity"), "HAIL");
    const Image hail = image(f, "/dataset1/data1/data");
    EXPECT_EQ(hail.type_class, H5T_FLOAT);
    const double nodata = number(f, "/dataset1/data1/what", "nodata");
    const double undetect = number(f, "/dataset1/data1/what", "undetect");
    EXPECT_NE(nodata, undetect);
    for (hsize_t row = 0; row < 4; ++row) {
        EXPECT_EQ(hail.at(row, 0), 12.5 * static_cast<double>(row));
        EXPECT_EQ(hail.at(row, 1), nodata);
        EXPECT_EQ(hail.at(row, 2), undetect);
        EXPECT_EQ(hail.at(row, 3), nodata);
    }
}

TEST(OdimWriterTest, MomentsAreChosenByQuantityOrToolkitName) {
    TempDir dir;
    const ScanHandle scan = scan_of({{0.0, 1.0, 4, 0.5}}, kTwoMoments);
    const char *names[] = {"V"};  // the 8-bit velocity's own name
    pvol_odim_options options;
    pvol_odim_options_init(&options);
    options.moments = names;
    options.moment_count = 1;
    options.source = "NOD:xyz,PLC:Here";
    const std::string path = dir.file("v.h5");
    ASSERT_EQ(save(scan.get(), path, &options), 0);
    File f(path);
    EXPECT_EQ(text(f, "/dataset1/data1/what", "quantity"), "VRADH");
    EXPECT_EQ(text(f, "/dataset1/data2/what", "quantity"), "(none)");
    EXPECT_EQ(text(f, "/what", "source"), "NOD:xyz,PLC:Here");
    EXPECT_NEAR(number(f, "/dataset1/how", "NI"), synthetic::kNyquist, 1e-12);

    names[0] = "DBZH";
    ASSERT_EQ(save(scan.get(), path, &options), 0);
    File g(path);
    EXPECT_EQ(text(g, "/dataset1/data1/what", "quantity"), "DBZH");

    ASSERT_EQ(save(scan.get(), dir.file("d.h5"), nullptr), 0);
    File d(dir.file("d.h5"));
    EXPECT_EQ(text(d, "/what", "source"), "PLC:TESTSITE");
}

TEST(OdimWriterTest, FailuresLeaveNoFileAndKeepAnOldOne) {
    TempDir dir;
    const ScanHandle scan = scan_of({{0.0, 1.0, 4, 0.5}}, kTwoMoments);
    const std::string path = dir.write("old.h5", {'o', 'l', 'd'});
    pvol_odim_options options;
    pvol_odim_options_init(&options);
    const char *names[] = {"KDP"};
    options.moments = names;
    options.moment_count = 1;
    EXPECT_EQ(save(scan.get(), path, &options), 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], path + ": the volume has no moment KDP\n");

    pvol_odim_options_init(&options);
    options.compression = 10;
    EXPECT_EQ(save(scan.get(), path, &options), 1);
    EXPECT_EQ(messages.at(0), path + ": compression level 10 is outside 0 to 9\n");
    EXPECT_EQ(TempDir::read_text(path), "old");
    // Nothing but the old file: no temporary left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")),
                            std::filesystem::directory_iterator()),
              1);

    const std::string missing = dir.file("no/such/folder/v.h5");
    EXPECT_EQ(save(scan.get(), missing, nullptr), 1);
    EXPECT_EQ(messages.at(0).rfind(
                  missing + ": cannot create a file in " + dir.file("no/such/folder"), 0),
              0u)
        << messages.at(0);

    const ScanHandle empty = synthetic::new_scan();
    EXPECT_EQ(save(empty.get(), dir.file("e.h5"), nullptr), 1);
    EXPECT_FALSE(TempDir::exists(dir.file("e.h5")));
    EXPECT_EQ(pvol_save_odim(nullptr, path.c_str(), nullptr, nullptr), 1);
}

TEST(OdimWriterTest, MomentsOnDifferentBinsAreRefused) {
    TempDir dir;
    const dscan other{125.0, 250.0, 12};
    const ScanHandle scan =
        scan_of({{0.0, 1.0, 4, 0.5}}, {{RD_DBZ, BITS_16}, {RD_VEL, BITS_16, other}});
    EXPECT_EQ(save(scan.get(), dir.file("v.h5"), nullptr), 1);
    EXPECT_EQ(messages.at(0),
              dir.file("v.h5") + ": the moments of sweep 1 lie on different range bins\n");
    // Either moment alone can be written.
    const char *names[] = {"VRADH"};
    pvol_odim_options options;
    pvol_odim_options_init(&options);
    options.moments = names;
    options.moment_count = 1;
    ASSERT_EQ(save(scan.get(), dir.file("v.h5"), &options), 0);
    File f(dir.file("v.h5"));
    EXPECT_DOUBLE_EQ(number(f, "/dataset1/where", "rstart"), 0.0);
    EXPECT_DOUBLE_EQ(number(f, "/dataset1/where", "rscale"), 250.0);
}

TEST(OdimWriterTest, QuantityTable) {
    EXPECT_STREQ(pvol_odim_quantity(RD_DBT), "TH");
    EXPECT_STREQ(pvol_odim_quantity(RD_DBZ), "DBZH");
    EXPECT_STREQ(pvol_odim_quantity(RD_VELC), "VRADDH");
    EXPECT_STREQ(pvol_odim_quantity(RD_SQI), "SQIH");
    EXPECT_STREQ(pvol_odim_quantity(RD_LDRH), "LDR");
    EXPECT_STREQ(pvol_odim_quantity(RD_HCLASS), "CLASS");
    EXPECT_STREQ(pvol_odim_quantity(RD_DBTE), "dBTE");
    EXPECT_EQ(pvol_odim_quantity(RD_ANY), nullptr);
    EXPECT_EQ(pvol_odim_quantity(RD_CUSTOM), nullptr);
}

}  // namespace
