#include <cmath>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "pvol/radar_utils.h"
#include "wrdata/orvaproduct.h"

namespace azm::orva {
namespace {

std::string bytesOf(Product &product) {
    std::stringstream out;
    product.write(out);
    return out.str();
}

// A WARN product with section 0 data and one appended section of 16-bit values.
Product twoSectionProduct() {
    Product product;
    product.getProperties(0).put("product_type", "WARN");
    product.resizeSection(0, 7);
    std::memcpy(product.getData(0), "abcdefg", 7);
    const std::size_t extra = product.addSection(6);
    EXPECT_EQ(extra, 1u);
    std::memcpy(product.getData(1), "\x01\x02\x03\x04\x05\x06", 6);
    Properties &properties = product.getProperties(1);
    properties.put("name", "echo tops");
    properties.put("data.bits", 16);
    properties.put("data.unit", "km");
    return product;
}

TEST(ProductTest, TwoSectionsSurviveAWriteAndRead) {
    Product product = twoSectionProduct();
    const std::string bytes = bytesOf(product);

    Header header;
    header.set(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    EXPECT_EQ(header.getTotalSize(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(header.getExtendedHeaderOffset(), 1664u + 7);
    // Properties as INI text, a NUL, padding, the marker, then data at an even position.
    const std::size_t text_end = bytes.find('\0', 1664 + 7);
    const std::string ini = bytes.substr(1664 + 7, text_end - 1664 - 7);
    EXPECT_NE(ini.find("name=echo tops"), std::string::npos);
    EXPECT_NE(ini.find("[data]"), std::string::npos);
    EXPECT_NE(ini.find("size=6"), std::string::npos);
    const std::size_t data_start = bytes.size() - 6;
    EXPECT_EQ(data_start % 2, 0u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[data_start - 1]), 0xFF);

    std::istringstream in(bytes);
    Product copy(in);
    ASSERT_EQ(copy.getSectionCount(), 2u);
    EXPECT_EQ(copy.getProperties(0).get<std::string>("category"), "Event");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(copy.getData(0)), copy.getDataSize(0)),
              "abcdefg");
    EXPECT_EQ(copy.getProperties(1), product.getProperties(1));
    EXPECT_EQ(copy.getProperties(1).get<std::size_t>("data.size"), 6u);
    EXPECT_EQ(std::memcmp(copy.getData(1), "\x01\x02\x03\x04\x05\x06", 6), 0);
    EXPECT_EQ(bytesOf(copy), bytes);
}

TEST(ProductTest, ASingleSectionProductHasNoExtendedHeader) {
    Product product;
    product.getProperties(0).put("product_type", "WARN");
    product.resizeSection(0, 300);
    const std::string bytes = bytesOf(product);
    ASSERT_EQ(bytes.size(), 1664u + 300);
    std::uint32_t extended;
    std::memcpy(&extended, bytes.data() + 632, 4);
    EXPECT_EQ(extended, 0u);
    std::istringstream in(bytes);
    Product copy(in);
    EXPECT_EQ(copy.getSectionCount(), 1u);
    EXPECT_EQ(copy.getDataSize(0), 300u);
}

TEST(ProductTest, InconsistentFilesAreRejected) {
    Product product = twoSectionProduct();
    const std::string bytes = bytesOf(product);
    auto read = [](const std::string &file) {
        std::istringstream in(file);
        Product copy;
        copy.read(in);
        return copy.getSectionCount();
    };
    // Cut inside the header, inside section 0, inside the appended section's text and data.
    for (std::size_t length : {std::size_t{0}, std::size_t{700}, std::size_t{1664 + 3},
                               std::size_t{1664 + 7 + 4}, bytes.size() - 1}) {
        EXPECT_THROW(read(bytes.substr(0, length)), std::domain_error) << "length " << length;
    }
    // A file size below the header size.
    std::string small = bytes;
    const std::int32_t tiny = 100;
    std::memcpy(small.data() + 4, &tiny, 4);
    EXPECT_THROW(read(small), std::domain_error);
    // A section that claims more data than the file holds.
    std::string greedy = bytes;
    greedy.replace(greedy.find("size=6"), 6, "size=9");
    EXPECT_THROW(read(greedy), std::domain_error);
    // Without its marker the appended section is not a section: reading stops before it.
    std::string unmarked = bytes;
    unmarked[bytes.size() - 7] = 0x7F;
    EXPECT_EQ(read(unmarked), 1u);
}

// A stream that cannot seek, as a pipe.
class PipeBuffer : public std::stringbuf {
  public:
    using std::stringbuf::stringbuf;

  protected:
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override {
        return pos_type(off_type(-1));
    }
    pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(off_type(-1)); }
};

TEST(ProductTest, LargeDataReadsAlikeFromFilesAndPipes) {
    Product product = twoSectionProduct();
    product.resizeSection(0, 3'000'001);
    for (std::size_t i = 0; i < product.getDataSize(0); ++i) {
        product.getData(0)[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    }
    const std::string bytes = bytesOf(product);
    for (const bool seekable : {true, false}) {
        for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{2'000'000}}) {
            const std::string file = bytes.substr(0, bytes.size() - cut);
            std::istringstream seekable_stream(file);
            PipeBuffer pipe(file);
            std::istream pipe_stream(&pipe);
            std::istream &in = seekable ? seekable_stream : pipe_stream;
            Product copy;
            if (cut > 0) {
                EXPECT_THROW(copy.read(in), std::domain_error) << seekable << " " << cut;
                continue;
            }
            copy.read(in);
            ASSERT_EQ(copy.getSectionCount(), 2u) << seekable;
            ASSERT_EQ(copy.getDataSize(0), product.getDataSize(0)) << seekable;
            EXPECT_EQ(std::memcmp(copy.getData(0), product.getData(0), copy.getDataSize(0)), 0);
            EXPECT_EQ(std::memcmp(copy.getData(1), "\x01\x02\x03\x04\x05\x06", 6), 0);
        }
    }
}

TEST(ProductTest, BadSectionIndicesGiveEmptyResults) {
    Product product;
    EXPECT_EQ(product.getSectionCount(), 1u);
    EXPECT_EQ(product.getData(3), nullptr);
    EXPECT_EQ(product.getDataSize(3), 0u);
    product.getProperties(3).put("x", 1);
    EXPECT_TRUE(product.getProperties(3).empty());
    product.resizeSection(3, 10);
    product.unpackData(3);
    EXPECT_EQ(product.getSectionCount(), 1u);
}

// A PPI product of 8-bit reflectivity, 3 x 1 pixels.
Product ppiProduct(int bits) {
    Header header;
    header.setProductType("PPI");
    header.setOrvaType("Z", bits);
    header.setDim(3, 1, 0);
    Product product;
    product.setOrvaHeader(header.get().data(), header.get().size());
    product.resizeSection(0, 3 * bits / 8);
    return product;
}

TEST(ProductTest, UnpackAndPackKeepTheSpecialValues) {
    Product product = ppiProduct(8);
    EXPECT_EQ(product.getProperties(0).get<int>("data.bits"), 8);
    EXPECT_EQ(product.getProperties(0).get<int>("data.size"), 3);
    const std::uint8_t codes[] = {0, 255, 100};
    std::memcpy(product.getData(0), codes, 3);
    product.unpackData(0);  // no unpack width asked for: nothing happens
    EXPECT_EQ(product.getDataSize(0), 3u);

    product.getProperties(0).put("data.unpack_bits", 32);
    product.unpackData(0);
    ASSERT_EQ(product.getDataSize(0), 12u);
    EXPECT_EQ(product.getProperties(0).get<int>("data.bits"), 32);
    float values[3];
    std::memcpy(values, product.getData(0), sizeof values);
    EXPECT_EQ(values[0], -1000000.0f);
    EXPECT_EQ(values[1], -1001000.0f);
    EXPECT_FLOAT_EQ(values[2], fdata_to_user(100, 2, nullptr));
    EXPECT_FLOAT_EQ(values[2], 18.0f);

    product.packData(0);
    ASSERT_EQ(product.getDataSize(0), 3u);
    EXPECT_EQ(product.getProperties(0).get<int>("data.bits"), 8);
    EXPECT_EQ(std::memcmp(product.getData(0), codes, 3), 0);
}

TEST(ProductTest, SixteenBitCodesUnpackToDoublesWithNanSpecialValues) {
    Product product = ppiProduct(16);
    product.set_data_noscan(std::nan(""));
    EXPECT_TRUE(product.is_data_noscan(std::nan("")));
    EXPECT_FALSE(product.is_data_threshold(std::nan("")));
    const std::uint16_t codes[] = {0xFFFF, 33768, 0};
    std::memcpy(product.getData(0), codes, sizeof codes);
    product.getProperties(0).put("data.unpack_bits", 64);
    product.unpackData(0);
    ASSERT_EQ(product.getDataSize(0), 24u);
    double values[3];
    std::memcpy(values, product.getData(0), sizeof values);
    EXPECT_TRUE(std::isnan(values[0]));
    EXPECT_DOUBLE_EQ(values[1], 10.0);
    EXPECT_EQ(values[2], product.data_threshold());

    product.packData(0);
    ASSERT_EQ(product.getDataSize(0), 6u);
    EXPECT_EQ(std::memcmp(product.getData(0), codes, sizeof codes), 0);
}

}  // namespace
}  // namespace azm::orva
