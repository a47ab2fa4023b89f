#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "wrdata/orvaheader.h"

namespace azm::orva {
namespace {

TEST(HeaderTest, BlankHeaderHoldsTheDefaultsOfAnUntypedProduct) {
    Header header;
    ASSERT_EQ(header.size(), 640u);
    ASSERT_EQ(header.get().size(), 640u);
    EXPECT_EQ(header.load<std::int16_t>(0), 27);
    EXPECT_EQ(header.getTotalSize(), 640);
    EXPECT_EQ(header.load<std::int16_t>(12), 26);
    EXPECT_EQ(header.load<std::int32_t>(16), 320);
    EXPECT_EQ(header.getProductType(), "NONE");
    EXPECT_EQ(header.getProductConfigName(), "DEFAULT");
    EXPECT_EQ(header.getSiteName(), "Unknown");
    // Version texts are NUL-padded, the processor text blank-filled.
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&header.get()[348]), 8),
              std::string("8.13\0\0\0\0", 8));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&header.get()[466]), 12),
              std::string(12, ' '));
    EXPECT_EQ(header.getRadarParameters().prf, 500);
    EXPECT_EQ(header.getRadarParameters().wavelength, 500);
    EXPECT_EQ(header.getStorage().code, 0);  // the "Xhdr" row

    // Texts are cut to their field and blank-padded.
    header.setSiteName("A site name longer than 16");
    EXPECT_EQ(header.getSiteName(), "A site name long");
    header.setProductConfigName("CFG");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&header.get()[74]), 12), "CFG         ");
    EXPECT_EQ(header.getProductConfigName(), "CFG");
}

TEST(HeaderTest, SizeAndBufferFollowTheProductType) {
    Header header;
    header.setProductType("WARN");
    EXPECT_EQ(header.size(), 1664u);
    EXPECT_EQ(header.get().size(), 1664u);
    EXPECT_TRUE(header.isEvent());
    EXPECT_FALSE(header.isScalar());
    EXPECT_TRUE(header.isGeoReferenced());
    header.setProductType("RAW");
    EXPECT_EQ(header.size(), 12288u);
    EXPECT_TRUE(header.isRaw());
    header.setProductType("PPI");
    EXPECT_EQ(header.size(), 640u);
    EXPECT_EQ(header.get().size(), 640u);
    EXPECT_TRUE(header.isScalar());
    // A raw store of the type field resizes too, so that write gives the type's header whole.
    header.store<std::int16_t>(24, 12);
    EXPECT_EQ(header.getProductType(), "WARN");
    EXPECT_EQ(header.get().size(), 1664u);
    std::ostringstream written;
    header.write(written);
    EXPECT_EQ(written.str().size(), 1664u);
    header.store<std::uint8_t>(25, 1);  // the high byte belongs to the field: type 268, none
    EXPECT_EQ(header.get().size(), 640u);
    header.setProductType("no such product");
    EXPECT_EQ(header.load<std::int16_t>(24), 0);
    EXPECT_EQ(header.getProductType(), "NONE");
    EXPECT_EQ(Header::ProductType(99), "NONE");
}

TEST(HeaderTest, SetTakesTheTypesHeaderSizeOnlyWhenTheBufferHoldsIt) {
    Header warn;
    warn.setProductType("WARN");
    std::vector<std::uint8_t> bytes = warn.get();
    bytes[1000] = 7;

    Header header;
    header.set(bytes.data(), 639);  // too short: ignored
    EXPECT_EQ(header.getProductType(), "NONE");
    header.set(bytes.data(), 640);  // the extension is missing: zero
    EXPECT_EQ(header.getProductType(), "WARN");
    EXPECT_EQ(header.get().size(), 1664u);
    EXPECT_EQ(header.get()[1000], 0);
    header.set(bytes.data(), bytes.size());
    EXPECT_EQ(header.get(), bytes);
}

TEST(HeaderTest, DataTypeLookups) {
    Header header;
    header.setOrvaType("T", 16);
    EXPECT_EQ(header.getStorage(), (Storage{"unit16_t", 16, 8}));
    header.setOrvaType("T", 8);
    EXPECT_EQ(header.getStorage().code, 1);
    header.setOrvaType("T", 12);  // no such width: the last row of the name
    EXPECT_EQ(header.getStorage().code, 8);
    header.setOrvaType("Height", 8);
    EXPECT_EQ(header.getStorage(), (Storage{"uint8_t", 8, 32}));
    header.setOrvaType("Temp", 16);
    EXPECT_EQ(header.getDataType(), std::make_pair(std::string("Temp"), std::string("C\xC2\xB0")));
    header.setOrvaType("Nothing", 8);
    EXPECT_EQ(header.getStorage(), (Storage{"none", 0, 34}));
    header.store<std::uint16_t>(142, 99);  // a code the table lacks reads as "Null"
    EXPECT_EQ(header.getDataType().first, "Null");
}

TEST(HeaderTest, ProductSpecificParametersOnlyForTheirTypes) {
    Header header;
    header.setProductType("PPI");
    header.setPspPpiAngle(0.5);
    EXPECT_NEAR(header.getPspPpiAngle(), 0.5, 360.0 / 65536);
    header.setPspPpiAngle(-1.0);
    EXPECT_NEAR(header.getPspPpiAngle(), -1.0, 360.0 / 65536);
    EXPECT_TRUE(std::isnan(header.getPspTimeSpanMinutes()));
    header.setPspEventCount(4);
    EXPECT_EQ(header.getPspEventCount(), 0);
    EXPECT_EQ(header.load<std::int16_t>(618), 0);

    header.setProductType("RAIN1");
    EXPECT_TRUE(std::isnan(header.getPspPpiAngle()));
    EXPECT_DOUBLE_EQ(header.getPspTimeSpanMinutes(), 60.0);  // 0 seconds mean an hour
    header.setPspTimeSpanMinutes(90);
    EXPECT_EQ(header.load<std::uint16_t>(182), 3600);
    header.setPspTimeSpanMinutes(-5);
    EXPECT_EQ(header.load<std::uint16_t>(182), 0);

    header.setProductType("RAINN");
    header.setPspTimeSpanMinutes(150.5);
    EXPECT_EQ(header.load<std::int16_t>(186), 2);
    EXPECT_EQ(header.load<std::uint16_t>(182), 1830);
    EXPECT_DOUBLE_EQ(header.getPspTimeSpanMinutes(), 150.5);

    header.setProductType("CATCH");
    header.setPspTimeSpanMinutes(24 * 60 + 1);
    EXPECT_EQ(header.load<std::int32_t>(180), 24);
    EXPECT_EQ(header.load<std::int32_t>(220), 60);

    header.setProductType("SWS");
    header.setPspUncompressedSize(123456);
    EXPECT_EQ(header.getPspUncompressedSize(), 123456u);

    header.setProductType("WARN");
    header.setPspEventCount(4);
    EXPECT_EQ(header.getPspEventCount(), 4);
    EXPECT_EQ(header.getPspUncompressedSize(), 0u);
}

TEST(HeaderTest, TimesSplitTheSecondsOfTheDay) {
    Header header;
    header.setIngestYMDHHMMSS({2024, 3, 5, 13, 7, 9});
    EXPECT_EQ(header.load<std::int32_t>(44), 13 * 3600 + 7 * 60 + 9);
    EXPECT_EQ(header.load<std::int16_t>(50), 2024);
    EXPECT_EQ(header.getIngestYMDHHMMSS(), (YMDHHMMSS{2024, 3, 5, 13, 7, 9}));
    header.setAnalysisYMDHHMMSS({2023, 12, 31, 23, 59, 59});
    EXPECT_EQ(header.load<std::int32_t>(32), 86399);
    EXPECT_EQ(header.getAnalysisYMDHHMMSS(), (YMDHHMMSS{2023, 12, 31, 23, 59, 59}));
    EXPECT_EQ(header.getIngestYMDHHMMSS().day, 5);
}

TEST(HeaderTest, AdjustPrfInvertsTheNyquistVelocity) {
    Header header;
    header.store<std::int32_t>(480, 530);  // wavelength 5.3 cm
    header.adjustPRF(13.25);
    EXPECT_EQ(header.getRadarParameters().prf, 1000);
    header.store<std::int16_t>(462, 1);  // dual PRF doubles the interval
    header.adjustPRF(26.5);
    EXPECT_EQ(header.getRadarParameters().prf, 1000);
    header.store<std::int32_t>(480, 0);  // no wavelength: nothing to derive the PRF from
    header.adjustPRF(10.0);
    EXPECT_EQ(header.getRadarParameters().prf, 1000);
}

}  // namespace
}  // namespace azm::orva
