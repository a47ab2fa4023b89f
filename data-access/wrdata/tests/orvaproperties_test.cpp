#include <sstream>

#include <gtest/gtest.h>

#include "wrdata/orvaproduct.h"

namespace azm::orva {
namespace {

std::vector<std::string> keysOf(const Properties &tree) {
    std::vector<std::string> keys;
    for (const auto &child : tree) {
        keys.push_back(child.first);
    }
    return keys;
}

TEST(PropertiesTest, NumbersCarrySixteenSignificantDigits) {
    Properties tree;
    putNumber(tree, "a", 0.1);
    putNumber(tree, "b", 45.0);
    putNumber(tree, "c", 1.0 / 3);
    putNumber(tree, "d", -30000.0);
    EXPECT_EQ(tree.get<std::string>("a"), "0.1");
    EXPECT_EQ(tree.get<std::string>("b"), "45");
    EXPECT_EQ(tree.get<std::string>("c"), "0.3333333333333333");
    EXPECT_EQ(tree.get<std::string>("d"), "-30000");
    EXPECT_EQ(tree.get<double>("c", NumberTranslator()), 0.3333333333333333);
    EXPECT_FALSE(NumberTranslator().get_value("12 apples"));
}

Header warnHeader() {
    Header header;
    header.setProductType("WARN");
    header.setProductConfigName("WARN_CFG");
    header.setIngestHardwareName("HW1");
    header.setSiteName("Hilltop");
    header.setIngestYMDHHMMSS({2024, 6, 1, 12, 30, 0});
    header.setAnalysisYMDHHMMSS({2024, 6, 1, 12, 31, 15});
    header.setText(200, 12, "Hail alert");
    header.store<std::uint8_t>(248, 1);  // input 0: a PPI product
    header.setText(212, 12, "PPI_Z");
    header.store<std::int32_t>(180, 4550);
    header.store<std::int16_t>(192, 300);
    header.store<std::uint8_t>(250, 5);  // input 2: a TOPS product; input 1 unused
    header.setText(236, 12, "TOPS_Z");
    header.store<std::int32_t>(188, -125);
    header.store<std::int16_t>(196, 60);
    header.setPspEventCount(2);
    return header;
}

TEST(PropertiesTest, WarnProductKeysInTheirOrder) {
    Properties tree;
    orva_header2properties(tree, warnHeader());
    EXPECT_EQ(keysOf(tree), (std::vector<std::string>{"product_type", "config_name", "radar",
                                                      "ingest_time", "analysis_time", "category",
                                                      "event_name", "input0", "input2", "data"}));
    EXPECT_EQ(tree.get<std::string>("product_type"), "WARN");
    EXPECT_EQ(tree.get<std::string>("config_name"), "WARN_CFG");
    EXPECT_EQ(keysOf(tree.get_child("radar")),
              (std::vector<std::string>{"hardware_name", "site_name"}));
    EXPECT_EQ(tree.get<std::string>("radar.site_name"), "Hilltop");
    EXPECT_EQ(keysOf(tree.get_child("analysis_time")),
              (std::vector<std::string>{"year", "mon", "day", "hour", "min", "sec"}));
    EXPECT_EQ(tree.get<int>("analysis_time.sec"), 15);
    EXPECT_EQ(tree.get<std::string>("category"), "Event");
    EXPECT_EQ(tree.get<std::string>("event_name"), "Hail alert");
    EXPECT_EQ(keysOf(tree.get_child("input0")),
              (std::vector<std::string>{"product_type", "product_name", "threshold", "time_sec"}));
    EXPECT_EQ(tree.get<std::string>("input0.product_type"), "PPI");
    EXPECT_EQ(tree.get<std::string>("input0.product_name"), "PPI_Z");
    EXPECT_EQ(tree.get<std::string>("input0.threshold"), "45.5");
    EXPECT_EQ(tree.get<int>("input0.time_sec"), 300);
    EXPECT_EQ(tree.get<std::string>("input2.product_type"), "TOPS");
    EXPECT_EQ(tree.get<std::string>("input2.threshold"), "-1.25");
    EXPECT_EQ(keysOf(tree.get_child("data")), std::vector<std::string>{"count"});
    EXPECT_EQ(tree.get<int>("data.count"), 2);
}

TEST(PropertiesTest, ScalarProductKeysAndTheirWayBack) {
    Header header;
    header.setProductType("PPI");
    header.setOrvaType("Z", 16);
    header.setDim(200, 100, 0);
    header.setPspPpiAngle(45.0);
    Product product;
    product.setOrvaHeader(header.get().data(), header.get().size());
    Properties &tree = product.getProperties(0);
    EXPECT_EQ(tree.get<std::string>("category"), "Scalar");
    EXPECT_EQ(tree.get<std::string>("data.storage"), "unit16_t");
    EXPECT_EQ(tree.get<int>("data.pack_bits"), 16);
    EXPECT_EQ(tree.get<int>("data.bits"), 16);
    EXPECT_EQ(tree.get<std::string>("data.type"), "Z");
    EXPECT_EQ(tree.get<std::string>("data.units"), "dBZ");
    EXPECT_EQ(tree.get<int>("data.orva_code"), 9);
    EXPECT_EQ(tree.get<int>("data.size"), 200 * 100 * 2);
    EXPECT_EQ(tree.get<std::string>("psp.ppi.constant_angle"), "45");
    EXPECT_FALSE(tree.get_child_optional("event_name"));

    // Edited properties reach the header; absent grid sizes keep the grid.
    tree.put("data.type", "V");
    tree.put("psp.ppi.constant_angle", 1.5);
    tree.put("radar.site_name", "Valley");
    Header back;
    const auto &raw = product.getOrvaHeader();
    back.set(raw.data(), raw.size());
    EXPECT_EQ(back.getStorage().code, 10);
    EXPECT_NEAR(back.getPspPpiAngle(), 1.5, 360.0 / 65536);
    EXPECT_EQ(back.getSiteName(), "Valley");
    EXPECT_EQ(back.getDim(), (std::array<int, 3>{200, 100, 0}));
}

TEST(PropertiesTest, AnalysisTimeDefaultsToACompleteIngestTime) {
    Header header;
    Properties tree;
    tree.put("ingest_time.year", 2021);
    tree.put("ingest_time.mon", 7);
    tree.put("ingest_time.day", 14);
    tree.put("ingest_time.hour", 3);
    tree.put("ingest_time.min", 4);
    tree.put("ingest_time.sec", 5);
    tree.put("analysis_time.year", 1999);  // incomplete: not used
    properties2orva_header(header, tree);
    EXPECT_EQ(header.getAnalysisYMDHHMMSS(), (YMDHHMMSS{2021, 7, 14, 3, 4, 5}));
    EXPECT_EQ(header.getIngestYMDHHMMSS(), header.getAnalysisYMDHHMMSS());

    tree.erase("ingest_time");
    tree.put("product_type", "RAIN1");
    tree.put("psp.time_span_minutes", 30);
    properties2orva_header(header, tree);
    EXPECT_EQ(header.getProductType(), "RAIN1");
    EXPECT_DOUBLE_EQ(header.getPspTimeSpanMinutes(), 30.0);
    EXPECT_EQ(header.getIngestYMDHHMMSS().year, 2021);
}

}  // namespace
}  // namespace azm::orva
