#include <string>
#include <vector>

#include <boost/property_tree/exceptions.hpp>
#include <gtest/gtest.h>

#include "wrdata/orvaproduct.h"

namespace azm::orva {
namespace {

constexpr std::size_t radius_at = 552;
constexpr std::size_t flattening_at = 556;

double number(const Properties &tree, const std::string &path) {
    return tree.get<double>(path, NumberTranslator());
}

Header ellipsoidHeader(std::int32_t radius_cm, std::int32_t flattening_millionths) {
    Header header;
    header.setProductType("PPI");
    header.store<std::int32_t>(radius_at, radius_cm);
    header.store<std::int32_t>(flattening_at, flattening_millionths);
    return header;
}

TEST(GeoReferenceTest, EllipsoidIsNamedFromTheHeaderFigure) {
    struct Case {
        std::int32_t radius_cm;
        std::int32_t flattening;
        const char *name;
        bool has_radius;
        bool has_flattening;
    };
    const Case cases[] = {
        {637813700, 298257224, "WGS84", false, false},
        {637813700, 298257222, "GRS80", false, false},
        {637739716, 299152813, "Bessel", false, false},
        {637838800, 297050000, "International", false, false},
        {637100000, 0, "Sphere", true, false},
        {637100000, 2000000000, "Sphere", true, false},  // within the flattening tolerance
        {638000000, 300000000, "Custom", true, true},
        {650000000, 300000000, "WGS84", false, false},  // radius beyond any earth
        {638000000, 150000000, "Sphere", true, false},  // flattening beyond any ellipsoid
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.radius_cm);
        Properties tree;
        testing::internal::CaptureStderr();
        ellipsoidHeader(c.radius_cm, c.flattening).getGeoReference(tree);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(tree.get<std::string>("gcs.name"), c.name);
        EXPECT_EQ(static_cast<bool>(tree.get_child_optional("gcs.radius")), c.has_radius);
        EXPECT_EQ(static_cast<bool>(tree.get_child_optional("gcs.invflat")), c.has_flattening);
        if (c.has_radius) {
            EXPECT_DOUBLE_EQ(number(tree, "gcs.radius"), c.radius_cm / 100.0);
        }
    }
}

TEST(GeoReferenceTest, EllipsoidKeysSetTheHeaderFigure) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> keys;
        std::int32_t radius_cm;
        std::int32_t flattening;
    };
    const Case cases[] = {
        {{}, 637813700, 298257224},
        {{{"gcs.name", "Mars"}}, 637813700, 298257224},
        {{{"gcs.name", "Bessel"}}, 637739716, 299152813},
        {{{"gcs.name", "International"}}, 637838800, 297000000},
        {{{"gcs.name", "Sphere"}, {"gcs.radius", "6375000"}}, 637100000, 0},
        {{{"gcs.name", "Custom"}, {"gcs.radius", "6380000.5"}, {"gcs.invflat", "301.5"}},
         638000050,
         301500000},
        {{{"gcs.name", "Custom"}, {"gcs.radius", "6400000"}}, 637813700, 298257224},
    };
    for (const Case &c : cases) {
        Properties tree;
        for (const auto &[key, value] : c.keys) {
            tree.put(key, value);
        }
        Header header;
        header.setGeoReference(tree);
        EXPECT_EQ(header.load<std::int32_t>(radius_at), c.radius_cm) << c.keys.size();
        EXPECT_EQ(header.load<std::int32_t>(flattening_at), c.flattening) << c.keys.size();
    }
}

// The keys of a 300 x 300 product of 1 km pixels, seen from a radar inside the region.
Properties geoKeys(const std::string &projection) {
    Properties tree;
    tree.put("gcs.name", "WGS84");
    tree.put("projection.name", projection);
    tree.put("projection.latitude_of_center", 61.0);
    tree.put("projection.longitude_of_center", 25.0);
    tree.put("projection.central_meridian", 25.0);
    tree.put("projection.latitude_of_origin", 61.0);
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
    const std::vector<std::string> projections = {
        "Azimuthal_Equidistant",      "Mercator_1SP",
        "Polar_Stereographic",        "Transverse_Mercator",
        "Equidistant_Cylindrical",    "Gnomonic",
        "Lambert_Conformal_Conic_2SP"};
    for (const std::string &projection : projections) {
        SCOPED_TRACE(projection);
        Header header = ppiHeader();
        header.setGeoReference(geoKeys(projection));
        Properties tree;
        header.getGeoReference(tree);
        EXPECT_EQ(tree.get<std::string>("gcs.name"), "WGS84");
        EXPECT_EQ(tree.get<std::string>("projection.name"), projection);
        if (projection == "Azimuthal_Equidistant") {
            EXPECT_NEAR(number(tree, "projection.latitude_of_center"), 61.0, 1e-6);
            EXPECT_NEAR(number(tree, "projection.longitude_of_center"), 25.0, 1e-6);
        } else {
            EXPECT_NEAR(number(tree, "projection.central_meridian"), 25.0, 1e-6);
            EXPECT_NEAR(number(tree, "projection.latitude_of_origin"), 61.0, 1e-6);
        }
        EXPECT_EQ(tree.get<int>("data.x_size"), 300);
        EXPECT_EQ(tree.get<int>("data.y_size"), 300);
        EXPECT_FALSE(tree.get_child_optional("data.z_size"));
        EXPECT_FALSE(tree.get_child_optional("bbox.maxxpix"));
        EXPECT_EQ(number(tree, "bbox.resx"), 1000.0);
        // Pixels are square on the map: the y scale on the earth follows the projection.
        EXPECT_NEAR(number(tree, "bbox.resy"), 1000.0, 25.0);
        EXPECT_NEAR(number(tree, "bbox.centlat"), 61.5, 1e-6);
        EXPECT_NEAR(number(tree, "bbox.centlon"), 24.5, 1e-6);
        // The corners enclose the centre, about 150 km (1.35 degrees of latitude) off.
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
    Header utm = ppiHeader();
    utm.setGeoReference(keys);
    keys.put("projection.scale_factor", 1);
    Header gauss = ppiHeader();
    gauss.setGeoReference(keys);
    EXPECT_EQ(utm.load<std::uint8_t>(158), 3);
    EXPECT_EQ(gauss.load<std::uint8_t>(158), 7);
    Properties tree;
    gauss.getGeoReference(tree);
    EXPECT_EQ(number(tree, "projection.scale_factor"), 1.0);
    tree.clear();
    utm.getGeoReference(tree);
    EXPECT_EQ(number(tree, "projection.scale_factor"), 0.9996);

    Header lambert = ppiHeader();
    lambert.setGeoReference(geoKeys("Lambert_Conformal_Conic_2SP"));
    tree.clear();
    lambert.getGeoReference(tree);
    EXPECT_NEAR(number(tree, "projection.standard_parallel1"), 58.0, 1e-6);
    EXPECT_NEAR(number(tree, "projection.standard_parallel2"), 64.0, 1e-6);

    // The satellite view: a central meridian over the equator at geostationary height.
    keys = geoKeys("Geostationary_Satellite");
    keys.put("bbox.centlat", 10.0);
    keys.put("radar.latitude", 10.5);
    Header satellite = ppiHeader();
    satellite.setGeoReference(keys);
    tree.clear();
    satellite.getGeoReference(tree);
    EXPECT_EQ(tree.get<std::string>("projection.name"), "Geostationary_Satellite");
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
    EXPECT_FALSE(first.get_child_optional("bbox.maxypix"));
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
    corners.put("bbox.resy", 1);
    Header cornered = ppiHeader();
    cornered.setDim(300, 150, 1);
    cornered.setGeoReference(corners);
    Properties second;
    cornered.getGeoReference(second);
    EXPECT_NEAR(number(second, "bbox.centlat"), 61.5, 1e-4);
    EXPECT_NEAR(number(second, "bbox.centlon"), 24.5, 1e-4);
    EXPECT_NEAR(number(second, "bbox.resx"), 1000.0, 1.0);
    EXPECT_NEAR(number(second, "bbox.resy"), 1000.0, 1.0);
}

TEST(GeoReferenceTest, FailuresAreReportedAndLeaveTheirKeysOut) {
    // A blank header has no region: only the ellipsoid, grid and heights.
    Header blank = ppiHeader();
    Properties tree;
    testing::internal::CaptureStderr();
    blank.getGeoReference(tree);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.rfind("Error: phdr_pin_region() failed with status ", 0), 0u) << message;
    EXPECT_NE(message.find(" !"), std::string::npos);
    EXPECT_FALSE(tree.get_child_optional("bbox"));
    EXPECT_FALSE(tree.get_child_optional("projection"));
    EXPECT_FALSE(tree.get_child_optional("radar.latitude"));
    EXPECT_EQ(tree.get<int>("radar.altitude"), 165);
    EXPECT_EQ(tree.get<int>("data.x_size"), 300);

    // Too few box values, an unpinnable region and an unknown name keep the header's geometry.
    Properties keys = geoKeys("Azimuthal_Equidistant");
    keys.get_child("bbox").erase("centlat");
    keys.put("bbox.minlat", 60.0);
    keys.put("bbox.minlon", 20.0);
    Header header = ppiHeader();
    const std::vector<std::uint8_t> before = header.get();
    testing::internal::CaptureStderr();
    header.setGeoReference(keys);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bounding box not specified well enough!\n");

    keys = geoKeys("Gnomonic");
    keys.put("bbox.centlat", -40.0);  // beyond the horizon of the view
    testing::internal::CaptureStderr();
    header.setGeoReference(keys);
    message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.rfind("Error: mpj_pin_region_xy() failed with status ", 0), 0u) << message;

    keys.put("projection.name", "Conic_Of_Mystery");
    testing::internal::CaptureStderr();
    header.setGeoReference(keys);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    std::vector<std::uint8_t> after = header.get();
    for (std::size_t i = radius_at; i < flattening_at + 4; ++i) {
        after[i] = before[i];  // the ellipsoid alone was written
    }
    EXPECT_EQ(after, before);

    keys = geoKeys("Gnomonic");
    keys.get_child("bbox").erase("resx");
    EXPECT_THROW(header.setGeoReference(keys), boost::property_tree::ptree_bad_path);
}

TEST(GeoReferenceTest, ProductsOffTheMapKeepGridButNoRegion) {
    Header rhi;
    rhi.setProductType("RHI");
    rhi.setDim(400, 80, 3);
    Properties tree;
    rhi.getGeoReference(tree);
    EXPECT_EQ(tree.get<int>("data.x_size"), 400);
    EXPECT_EQ(tree.get<int>("data.z_size"), 3);
    EXPECT_FALSE(tree.get_child_optional("bbox"));
    EXPECT_FALSE(tree.get_child_optional("radar"));
}

TEST(GeoReferenceTest, ScalarProductPropertiesRoundTrip) {
    Header header = ppiHeader();
    header.setGeoReference(geoKeys("Lambert_Conformal_Conic_2SP"));
    Properties tree;
    orva_header2properties(tree, header);
    EXPECT_EQ(tree.get<std::string>("projection.name"), "Lambert_Conformal_Conic_2SP");

    Header back;
    properties2orva_header(back, tree);
    EXPECT_EQ(back.getDim()[0], 300);
    EXPECT_EQ(back.getDim()[1], 300);
    Properties again;
    orva_header2properties(again, back);
    for (const char *key :
         {"gcs.name", "projection.name", "bbox.resx", "data.x_size", "data.y_size"}) {
        EXPECT_EQ(again.get<std::string>(key), tree.get<std::string>(key)) << key;
    }
    for (const char *key :
         {"projection.central_meridian", "projection.latitude_of_origin",
          "projection.standard_parallel1", "projection.standard_parallel2", "bbox.resy",
          "bbox.centlat", "bbox.centlon", "bbox.minlat", "bbox.minlon", "bbox.maxlat",
          "bbox.maxlon", "radar.latitude", "radar.longitude"}) {
        EXPECT_NEAR(number(again, key), number(tree, key), 1e-5) << key;
    }
    // The region and radar fields of the header come back as they were.
    EXPECT_EQ(back.load<std::uint8_t>(158), header.load<std::uint8_t>(158));
    for (std::size_t offset :
         {100u, 104u, 112u, 116u, 124u, 128u, 440u, 444u, 544u, 548u, 552u, 556u, 572u, 576u}) {
        EXPECT_EQ(back.load<std::int32_t>(offset), header.load<std::int32_t>(offset)) << offset;
    }
}

}  // namespace
}  // namespace azm::orva
