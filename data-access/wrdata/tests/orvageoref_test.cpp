#include <string>
#include <vector>

#include <boost/property_tree/exceptions.hpp>
#include <gtest/gtest.h>

#include "wrdata/orvaproduct.h"

namespace azm::orva {
namespace {

constexpr std::size_t radius_at = 552;  // cm
constexpr std::size_t flattening_at = 556;

double number(const Properties &tree, const std::string &path) {
    return tree.get<double>(path, NumberTranslator());
}

bool has(const Properties &tree, const std::string &path) {
    return static_cast<bool>(tree.get_child_optional(path));
}

TEST(GeoReferenceTest, EllipsoidNamesAndFiguresBothWays) {
    struct Named {
        std::int32_t radius_cm, flattening;
        const char *name;
    };
    for (const Named &c : {Named{637813700, 298257224, "WGS84"},
                           {637813700, 298257222, "GRS80"},
                           {637739716, 299152813, "Bessel"},
                           {637838800, 297050000, "International"},
                           {637100000, 0, "Sphere"},
                           {637100000, 2000000000, "Sphere"},
                           {638000000, 300000000, "Custom"},
                           {650000000, 300000000, "WGS84"},
                           {638000000, 150000000, "Sphere"}}) {
        Header header;
        header.store<std::int32_t>(radius_at, c.radius_cm);
        header.store<std::int32_t>(flattening_at, c.flattening);
        Properties tree;
        header.getGeoReference(tree);  // an untyped product: no region
        const std::string name = c.name;
        EXPECT_EQ(tree.get<std::string>("gcs.name"), name) << c.radius_cm << " " << c.flattening;
        EXPECT_EQ(has(tree, "gcs.radius"), name == "Sphere" || name == "Custom") << name;
        EXPECT_EQ(has(tree, "gcs.invflat"), name == "Custom");
        if (has(tree, "gcs.radius")) {
            EXPECT_DOUBLE_EQ(number(tree, "gcs.radius"), c.radius_cm / 100.0);
        }
    }

    struct Keys {
        const char *name, *radius, *flattening;
        std::int32_t radius_cm, flattening_millionths;
    };
    for (const Keys &c : {Keys{nullptr, nullptr, nullptr, 637813700, 298257224},
                          {"Mars", nullptr, nullptr, 637813700, 298257224},
                          {"Bessel", nullptr, nullptr, 637739716, 299152813},
                          {"International", nullptr, nullptr, 637838800, 297000000},
                          {"Sphere", "6375000", nullptr, 637100000, 0},
                          {"Custom", "6380000.5", "301.5", 638000050, 301500000},
                          // Nearest, not truncated: 638000000.6 cm, 298257223.563 millionths.
                          {"Custom", "6380000.006", "298.257223563", 638000001, 298257224},
                          {"Custom", "6400000", nullptr, 637813700, 298257224},
                          {"Custom", "6380000", "1e12", 638000000, 2147483647}}) {
        Properties tree;
        if (c.name)
            tree.put("gcs.name", c.name);
        if (c.radius)
            tree.put("gcs.radius", c.radius);
        if (c.flattening)
            tree.put("gcs.invflat", c.flattening);
        Header header;
        header.setGeoReference(tree);
        EXPECT_EQ(header.load<std::int32_t>(radius_at), c.radius_cm) << (c.name ? c.name : "-");
        EXPECT_EQ(header.load<std::int32_t>(flattening_at), c.flattening_millionths);
    }
}

// A 300 x 300 product of 1 km pixels with its radar inside the region.
Properties geoKeys(const std::string &projection) {
    Properties tree;
    tree.put("projection.name", projection);
    for (const char *key : {"latitude_of_center", "latitude_of_origin"}) {
        tree.put(std::string("projection.") + key, 61.0);
    }
    for (const char *key : {"longitude_of_center", "central_meridian"}) {
        tree.put(std::string("projection.") + key, 25.0);
    }
    tree.put("projection.standard_parallel1", 58.0);
    tree.put("projection.standard_parallel2", 64.0);
    tree.put("data.x_size", 300);
    tree.put("data.y_size", 300);
    tree.put("bbox.resx", 1000);
    tree.put("bbox.resy", 1000);
    tree.put("bbox.centlat", 61.5);
    tree.put("bbox.centlon", 24.5);
    tree.put("radar.latitude", 61.2);
    tree.put("radar.longitude", 24.8);
    return tree;
}

Header ppiHeader() {
    Header header;
    header.setProductType("PPI");
    header.setOrvaType("Z", 8);
    header.setDim(300, 300, 1);
    header.store<std::int16_t>(448, 25);   // radar above the ground
    header.store<std::int16_t>(450, 140);  // ground above the sea
    return header;
}

TEST(GeoReferenceTest, EveryProjectionReadsBackWithItsRegionAndRadar) {
    for (const std::string projection :
         {"Azimuthal_Equidistant", "Mercator_1SP", "Polar_Stereographic", "Transverse_Mercator",
          "Equidistant_Cylindrical", "Gnomonic", "Lambert_Conformal_Conic_2SP"}) {
        SCOPED_TRACE(projection);
        Header header = ppiHeader();
        header.setGeoReference(geoKeys(projection));
        Properties tree;
        header.getGeoReference(tree);
        EXPECT_EQ(tree.get<std::string>("projection.name"), projection);
        const bool azimuthal = projection == "Azimuthal_Equidistant";
        EXPECT_NEAR(number(tree, azimuthal ? "projection.latitude_of_center"
                                           : "projection.latitude_of_origin"),
                    61.0, 1e-6);
        EXPECT_NEAR(number(tree, azimuthal ? "projection.longitude_of_center"
                                           : "projection.central_meridian"),
                    25.0, 1e-6);
        EXPECT_EQ(tree.get<int>("data.x_size"), 300);
        EXPECT_FALSE(has(tree, "data.z_size"));
        EXPECT_FALSE(has(tree, "bbox.maxxpix"));
        EXPECT_EQ(number(tree, "bbox.resx"), 1000.0);
        // Pixels are square on the map: the y scale on the earth follows the projection.
        EXPECT_NEAR(number(tree, "bbox.resy"), 1000.0, 25.0);
        EXPECT_NEAR(number(tree, "bbox.centlat"), 61.5, 1e-6);
        EXPECT_NEAR(number(tree, "bbox.centlon"), 24.5, 1e-6);
        // Corners about 150 km (1.35 degrees of latitude) off the centre.
        EXPECT_NEAR(number(tree, "bbox.minlat"), 61.5 - 1.35, 0.1);
        EXPECT_NEAR(number(tree, "bbox.maxlat"), 61.5 + 1.35, 0.1);
        EXPECT_LT(number(tree, "bbox.minlon"), 24.5 - 2.5);
        EXPECT_GT(number(tree, "bbox.maxlon"), 24.5 + 2.5);
        EXPECT_NEAR(number(tree, "radar.latitude"), 61.2, 1e-5);
        EXPECT_NEAR(number(tree, "radar.longitude"), 24.8, 1e-5);
        EXPECT_EQ(tree.get<int>("radar.altitude"), 165);
        EXPECT_EQ(tree.get<int>("radar.tower_height"), 140);
    }
}

TEST(GeoReferenceTest, ProjectionParametersOfTheirOwn) {
    Properties keys = geoKeys("Transverse_Mercator");
    for (double scale : {0.9996, 1.0}) {
        keys.put("projection.scale_factor", scale);
        Header header = ppiHeader();
        header.setGeoReference(keys);
        EXPECT_EQ(header.load<std::uint8_t>(158), scale == 1.0 ? 7 : 3);
        Properties tree;
        header.getGeoReference(tree);
        EXPECT_EQ(number(tree, "projection.scale_factor"), scale);
    }

    keys = geoKeys("Geostationary_Satellite");
    keys.put("bbox.centlat", 10.0);
    keys.put("radar.latitude", 10.5);
    Header satellite = ppiHeader();
    satellite.setGeoReference(keys);
    Properties tree;
    satellite.getGeoReference(tree);
    EXPECT_NEAR(number(tree, "projection.central_meridian"), 25.0, 1e-6);
    EXPECT_NEAR(number(tree, "projection.satellite_height"), 35784000.0, 1000.0);
    EXPECT_NEAR(number(tree, "bbox.centlat"), 10.0, 1e-6);
    EXPECT_NEAR(number(tree, "radar.latitude"), 10.5, 1e-5);
}

TEST(GeoReferenceTest, RegionFromCornersAndUnequalPixelCounts) {
    Properties keys = geoKeys("Azimuthal_Equidistant");
    keys.erase("radar");
    keys.put("data.y_size", 150);
    Header centred = ppiHeader();
    centred.setDim(300, 150, 1);
    centred.setGeoReference(keys);
    Properties first;
    centred.getGeoReference(first);
    // Each axis reads back over its own pixel count; without a radar the image centre.
    EXPECT_EQ(number(first, "bbox.resx"), 1000.0);
    EXPECT_NEAR(number(first, "bbox.resy"), 1000.0, 0.1);
    EXPECT_NEAR(number(first, "bbox.maxlat") - number(first, "bbox.minlat"), 150 / 111.2, 0.05);
    EXPECT_EQ(centred.load<std::int32_t>(124), 150000);
    EXPECT_EQ(centred.load<std::int32_t>(128), 75000);

    // The corners alone rebuild the same region.
    Properties corners = first;
    corners.get_child("bbox").erase("centlat");
    corners.get_child("bbox").erase("centlon");
    corners.put("bbox.resx", 1);  // required, but the corners decide
    Header cornered = ppiHeader();
    cornered.setDim(300, 150, 1);
    cornered.setGeoReference(corners);
    Properties second;
    cornered.getGeoReference(second);
    EXPECT_NEAR(number(second, "bbox.centlat"), 61.5, 1e-4);
    EXPECT_NEAR(number(second, "bbox.centlon"), 24.5, 1e-4);
    EXPECT_NEAR(number(second, "bbox.resy"), 1000.0, 1.0);
}

TEST(GeoReferenceTest, FailuresAreReportedAndLeaveTheirKeysOut) {
    // A header without scales has no region: ellipsoid, grid and heights only.
    Properties tree;
    testing::internal::CaptureStderr();
    ppiHeader().getGeoReference(tree);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message, "Error: phdr_pin_region() failed with status 27 !\n");
    EXPECT_FALSE(has(tree, "bbox") || has(tree, "projection") || has(tree, "radar.latitude"));
    EXPECT_EQ(tree.get<int>("radar.altitude"), 165);
    EXPECT_EQ(tree.get<int>("data.x_size"), 300);

    // Too few box values, an unpinnable region and an unknown name keep the header's geometry.
    Properties few = geoKeys("Azimuthal_Equidistant");
    few.get_child("bbox").erase("centlat");
    few.put("bbox.minlat", 60.0);
    few.put("bbox.minlon", 20.0);
    Properties hidden = geoKeys("Gnomonic");
    hidden.put("bbox.centlat", -40.0);  // beyond the horizon of the view
    Properties unknown = geoKeys("Conic_Of_Mystery");
    Header header = ppiHeader();
    header.store<std::int32_t>(radius_at, 637813700);  // the ellipsoid that the keys name
    header.store<std::int32_t>(flattening_at, 298257224);
    const std::vector<std::uint8_t> before = header.get();
    for (const Properties *keys : {&few, &hidden, &unknown}) {
        testing::internal::CaptureStderr();
        header.setGeoReference(*keys);
        message = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(message == "Bounding box not specified well enough!\n" ||
                    message.starts_with("Error: mpj_pin_region_xy() failed with status ") ||
                    message == "Unknown projection name Conic_Of_Mystery !\n")
            << message;
        EXPECT_EQ(header.get(), before);
    }
    few.get_child("bbox").erase("resx");
    EXPECT_THROW(header.setGeoReference(few), boost::property_tree::ptree_bad_path);

    // A region less than a pixel across has no resolution: its keys stay out, so that the keys
    // that were read write back and keep the header's region.
    Header empty = ppiHeader();
    empty.setGeoReference(geoKeys("Azimuthal_Equidistant"));
    empty.setDim(-3, -3, 1);  // negative counts of negative pixel sizes still span a region
    empty.store<std::int32_t>(100, -100000);
    empty.store<std::int32_t>(104, -100000);
    Properties unpixelled;
    testing::internal::CaptureStderr();
    empty.getGeoReference(unpixelled);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: the product's region is less than one pixel across !\n");
    EXPECT_FALSE(has(unpixelled, "bbox") || has(unpixelled, "projection"));
    const std::vector<std::uint8_t> unpixelled_bytes = empty.get();
    empty.setGeoReference(unpixelled);
    EXPECT_EQ(empty.get(), unpixelled_bytes);
}

TEST(GeoReferenceTest, ScalarProductPropertiesRoundTrip) {
    Header header = ppiHeader();
    header.setGeoReference(geoKeys("Lambert_Conformal_Conic_2SP"));
    Properties tree;
    orva_header2properties(tree, header);
    Header back;
    properties2orva_header(back, tree);
    Properties again;
    orva_header2properties(again, back);
    EXPECT_EQ(again.get<std::string>("projection.name"), "Lambert_Conformal_Conic_2SP");
    for (const char *key :
         {"projection.central_meridian", "projection.latitude_of_origin",
          "projection.standard_parallel1", "projection.standard_parallel2", "bbox.resx",
          "bbox.resy", "bbox.centlat", "bbox.centlon", "bbox.minlat", "bbox.minlon", "bbox.maxlat",
          "bbox.maxlon", "radar.latitude", "radar.longitude"}) {
        EXPECT_NEAR(number(again, key), number(tree, key), 1e-5) << key;
    }
    // The grid, region and radar fields of the header come back as they were.
    EXPECT_EQ(back.load<std::uint8_t>(158), header.load<std::uint8_t>(158));
    for (std::size_t offset :
         {100u, 104u, 112u, 116u, 124u, 128u, 440u, 444u, 544u, 548u, 552u, 556u, 572u, 576u}) {
        EXPECT_EQ(back.load<std::int32_t>(offset), header.load<std::int32_t>(offset)) << offset;
    }
}

}  // namespace
}  // namespace azm::orva
