// Identifiers and times into their stream messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "pipe_conversions.h"

namespace {

boost::uuids::uuid counting_uuid() {
    boost::uuids::uuid id{};
    for (int i = 0; i < 16; ++i)
        id.data[i] = static_cast<std::uint8_t>(i);
    return id;
}

TEST(SetUuidTest, PacksEachHalfLittleEndian) {
    azm::pb::UUID out;
    azm::set_uuid(out, counting_uuid());
    EXPECT_EQ(out.least_significant_bits(), 0x0706050403020100);
    EXPECT_EQ(out.most_significant_bits(), 0x0F0E0D0C0B0A0908);
    EXPECT_TRUE(out.IsInitialized());
}

TEST(SetUuidTest, TopByteOfAHalfAtOrAbove0x80GivesANegativeHalf) {
    boost::uuids::uuid id = counting_uuid();
    id.data[7] = 0x80;
    azm::pb::UUID out;
    azm::set_uuid(out, id);
    EXPECT_EQ(out.least_significant_bits(), static_cast<std::int64_t>(0x8006050403020100u));
    EXPECT_LT(out.least_significant_bits(), 0);
    EXPECT_EQ(out.most_significant_bits(), 0x0F0E0D0C0B0A0908);

    id = counting_uuid();
    id.data[15] = 0xff;
    azm::set_uuid(out, id);
    EXPECT_EQ(out.least_significant_bits(), 0x0706050403020100);
    EXPECT_EQ(out.most_significant_bits(), static_cast<std::int64_t>(0xFF0E0D0C0B0A0908u));

    boost::uuids::uuid ones{};
    for (auto &b : ones.data)
        b = 0xff;
    azm::set_uuid(out, ones);
    EXPECT_EQ(out.least_significant_bits(), -1);
    EXPECT_EQ(out.most_significant_bits(), -1);

    // A negative half survives the wire.
    azm::pb::UUID back;
    ASSERT_TRUE(back.ParseFromString(out.SerializeAsString()));
    EXPECT_EQ(back.least_significant_bits(), -1);
}

TEST(SetTimevalTest, CopiesSecondsAndMicroseconds) {
    azm::pb::Time out;
    azm::set_timeval(out, timeval{1700000000, 999999});
    EXPECT_EQ(out.esec(), 1700000000);
    EXPECT_EQ(out.usec(), 999999u);
    azm::set_timeval(out, timeval{-86400, 0});  // before the epoch
    EXPECT_EQ(out.esec(), -86400);
    EXPECT_EQ(out.usec(), 0u);
    EXPECT_TRUE(out.IsInitialized());
}

TEST(Buf2StringTest, KeepsTheFieldLessTrailingWhiteSpace) {
    using namespace std::string_literals;
    const char field[] = "  ab c \t\n\r\f\v  ";
    EXPECT_EQ(azm::buf2string(field, sizeof field - 1), "  ab c");
    EXPECT_EQ(azm::buf2string(field, 3), "  a");  // never reads past the length
    EXPECT_EQ(azm::buf2string(" \t\r\n", 4), "");
    EXPECT_EQ(azm::buf2string("", 0), "");
    // NUL bytes are characters like any other: kept inside and at the end.
    EXPECT_EQ(azm::buf2string("a\0b\0 ", 5), "a\0b\0"s);
}

TEST(Rad2DegTest, ConvertsBothSigns) {
    EXPECT_DOUBLE_EQ(azm::rad2deg(M_PI), 180.0);
    EXPECT_DOUBLE_EQ(azm::rad2deg(-M_PI / 4), -45.0);
}

}  // namespace
