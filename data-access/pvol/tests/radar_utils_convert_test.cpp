// Conversions between stored codes and physical values of the ORVA data types.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pvol/radar_utils.h"
#include "radar_utils_internal.h"

namespace {

struct LinearFamily {
    std::vector<int> types;
    int lowest_code;     // first code that round-trips (special codes below it excluded)
    int highest_code;    // last code that round-trips
    bool wraps = false;  // angles: out-of-range values wrap instead of clamping
};

// Types whose codes map linearly onto values with the nominal step and start.
const std::vector<LinearFamily> kLinearFamilies = {
    {{1, 2, 7, 61, 63, 65, 71, 73}, 0, 254},
    {{5, 57}, 1, 254},
    {{8, 9, 10, 12, 15, 21, 22, 26, 28, 58, 59, 62, 64, 66, 72, 74}, 0, 65534},
    {{11}, 1, 65534},
    {{16, 50, 52}, 1, 254, true},
    {{17}, 1, 254},
    {{20, 23, 47, 49}, 1, 65534},
    {{24, 51, 53}, 1, 65534, true},
    {{25, 27}, 1, 254},
    {{29, 38, 39, 55}, 1, 254},
    {{30, 54, 56}, 1, 65534},
    {{32}, 1, 253},
    {{33, 69}, 1, 65534},
    {{35}, 1, 254},
    {{45}, 1, 65534},
    {{60}, 0, 65534},
    {{67}, 1, 254},
    {{68}, 1, 65534},
};

TEST(DataConvertTest, LinearFamiliesRoundTripOverTheirWholeCodeRange) {
    for (const LinearFamily &family : kLinearFamilies) {
        for (int type : family.types) {
            const double step = fDataScalePerBit(type, nullptr);
            const double start = fDataStartValue(type, nullptr);
            for (int code = family.lowest_code; code <= family.highest_code; ++code) {
                const double value = fdata_to_user(static_cast<uint16_t>(code), type, nullptr);
                ASSERT_NEAR(value, code * step + start, 1e-9 * (1 + std::fabs(value)))
                    << "type " << type << " code " << code;
                ASSERT_EQ(iuser_to_data(value, type, nullptr), code)
                    << "type " << type << " code " << code;
            }
            // Values beyond either end clamp to the extreme codes.
            if (family.wraps)
                continue;
            EXPECT_EQ(iuser_to_data(1e9, type, nullptr), family.highest_code) << type;
            EXPECT_EQ(iuser_to_data(-1e9, type, nullptr), family.lowest_code) << type;
        }
    }
}

TEST(DataConvertTest, EdgesOfReflectivityCorrelationAndAngles) {
    EXPECT_EQ(iuser_to_data(95.5, 2, nullptr), 254);
    EXPECT_EQ(iuser_to_data(10.2, 2, nullptr), 84);
    EXPECT_EQ(iuser_to_data(-31.75, 2, nullptr), 1);  // half up, also below zero
    EXPECT_EQ(iuser_to_data(10, 9, nullptr), 33768);
    EXPECT_EQ(iuser_to_data(1.0, 19, nullptr), 254);
    EXPECT_EQ(iuser_to_data(0.0, 19, nullptr), 1);
    EXPECT_DOUBLE_EQ(fdata_to_user(0, 19, nullptr), 0.0);
    EXPECT_DOUBLE_EQ(fdata_to_user(254, 19, nullptr), 1.0);
    EXPECT_DOUBLE_EQ(fdata_to_user(0, 20, nullptr), 0.0);
    EXPECT_EQ(iuser_to_data(-90, 16, nullptr), 128);
    EXPECT_EQ(iuser_to_data(-90, 24, nullptr), iuser_to_data(270, 24, nullptr));
    EXPECT_EQ(iuser_to_data(359.96, 43, nullptr), 0);  // 3600 is 0 degrees
    EXPECT_EQ(iuser_to_data(359.94, 43, nullptr), 3599);
}

TEST(DataConvertTest, VelocityAndWidthNeedTheNyquistInterval) {
    EXPECT_EQ(iuser_to_data(8, 3, nullptr), 128);
    EXPECT_DOUBLE_EQ(fdata_to_user(200, 3, nullptr), 0.0);
    EXPECT_DOUBLE_EQ(fDataStartValue(3, nullptr), 1.0);
    EXPECT_EQ(iuser_to_data(5, 4, nullptr), 1);

    data_convert conv;
    FillDataConvert(&conv, 1000, 0, 640, 0, 0);  // Nyquist velocity and width 16 m/s
    EXPECT_DOUBLE_EQ(conv.wavelength_cm, 6.4);
    EXPECT_EQ(iuser_to_data(8, 3, &conv), 192);  // 191.5 rounds up
    EXPECT_EQ(iuser_to_data(-100, 3, &conv), 1);
    EXPECT_EQ(iuser_to_data(8, 4, &conv), 128);
    for (int code = 1; code <= 254; ++code) {
        const auto c = static_cast<uint16_t>(code);
        ASSERT_EQ(iuser_to_data(fdata_to_user(c, 3, &conv), 3, &conv), code);
        ASSERT_EQ(iuser_to_data(fdata_to_user(c, 4, &conv), 4, &conv), code);
        ASSERT_EQ(iuser_to_data(fdata_to_user(c, 18, nullptr), 18, nullptr), code);
        ASSERT_NEAR(fdata_to_user(c, 3, &conv),
                    code * fDataScalePerBit(3, &conv) + fDataStartValue(3, &conv), 1e-12);
    }
}

TEST(DataConvertTest, SpecificDifferentialPhaseIsLogarithmic) {
    data_convert conv;
    FillDataConvert(&conv, 1000, 0, 530, 0, 0);
    const double lambda = conv.wavelength_cm;
    EXPECT_EQ(iuser_to_data(0.2438 / lambda, 14, &conv), 128);
    EXPECT_EQ(iuser_to_data(-0.2438 / lambda, 14, &conv), 128);
    EXPECT_EQ(iuser_to_data(5, 14, nullptr), 128);
    EXPECT_DOUBLE_EQ(fdata_to_user(128, 14, &conv), 0.0);
    EXPECT_DOUBLE_EQ(fdata_to_user(200, 14, nullptr), 0.0);
    EXPECT_DOUBLE_EQ(fdata_to_user(129, 14, &conv), 0.25 / lambda);
    EXPECT_DOUBLE_EQ(fdata_to_user(127, 14, &conv), -0.25 / lambda);
    EXPECT_DOUBLE_EQ(fDataStartValue(14, &conv), -150.0 / lambda);
    EXPECT_DOUBLE_EQ(fDataStartValue(14, nullptr), -150.0);
    EXPECT_EQ(iuser_to_data(1e6, 14, &conv), 254);
    EXPECT_EQ(iuser_to_data(-1e6, 14, &conv), 1);
    for (int code = 1; code <= 254; ++code) {
        if (code == 128)
            continue;
        ASSERT_EQ(iuser_to_data(fdata_to_user(static_cast<uint16_t>(code), 14, &conv), 14, &conv),
                  code);
    }
}

TEST(DataConvertTest, RainAndCountTypes) {
    EXPECT_EQ(iuser_to_data(0, 13, nullptr), 1);
    EXPECT_DOUBLE_EQ(fdata_to_user(1, 13, nullptr), 0.0);
    EXPECT_DOUBLE_EQ(fdata_to_user(0x1000, 13, nullptr), 0.4095);
    EXPECT_EQ(iuser_to_data(0.4095, 13, nullptr), 0x1000);
    EXPECT_EQ(iuser_to_data(1e12, 13, nullptr), 0xFFFE);  // too large, not wrapped to 0
    EXPECT_EQ(iuser_to_data(1e12, 31, nullptr), 0xFFFE);
    EXPECT_EQ(iuser_to_data(1e12, 37, nullptr), 0xFFFE);
    EXPECT_EQ(iuser_to_data(-3, 37, nullptr), 0);
    EXPECT_EQ(iuser_to_data(5000, 31, nullptr), 0x1388);  // encodes x, decodes x / 1000
    EXPECT_DOUBLE_EQ(fdata_to_user(0x1388, 31, nullptr), 5.0);
    EXPECT_EQ(iuser_to_data(-12.5, 36, nullptr), static_cast<uint16_t>(-12500));
    EXPECT_DOUBLE_EQ(fdata_to_user(static_cast<uint16_t>(-12500), 36, nullptr), -12.5);
    EXPECT_EQ(iuser_to_data(-1e9, 41, nullptr), static_cast<uint16_t>(-32767));
    EXPECT_DOUBLE_EQ(fdata_to_user(static_cast<uint16_t>(-150), 42, nullptr), -1.5);
    EXPECT_DOUBLE_EQ(fDataStartValue(36, nullptr), -32.768);
    EXPECT_DOUBLE_EQ(fDataScalePerBit(70, nullptr), 1.0 / 4096);
}

TEST(DataConvertTest, UnitFlagsApplyPerDirection) {
    data_convert metric, imperial;
    FillDataConvert(&metric, 1000, 0, 530, 0, 0);
    FillDataConvert(&imperial, 1000, 0, 530, 0, DATA_CONVERT_INCHES | DATA_CONVERT_FEET);
    // Rainfall in inches: encoding multiplies, decoding divides.
    EXPECT_EQ(iuser_to_data(0.5, 37, &imperial), iuser_to_data(12.7, 37, &metric));
    EXPECT_NEAR(fdata_to_user(iuser_to_data(0.5, 37, &imperial), 37, &imperial), 0.5, 1e-3);
    EXPECT_NEAR(fdata_to_user(iuser_to_data(0.01, 13, &imperial), 13, &imperial), 0.01, 1e-4);
    // Heights of type 32 encode the same, but decode to feet.
    EXPECT_EQ(iuser_to_data(3.0, 32, &imperial), iuser_to_data(3.0, 32, &metric));
    EXPECT_DOUBLE_EQ(fdata_to_user(31, 32, &imperial), 3.0 / 0.3048);
    // Type 60 scales by 0.3048 in both directions, and its scale follows.
    EXPECT_EQ(iuser_to_data(100, 60, &imperial), 32768 + 3048);
    EXPECT_DOUBLE_EQ(fdata_to_user(32768 + 10000, 60, &imperial), 30.48);
    EXPECT_DOUBLE_EQ(fDataScalePerBit(60, &imperial), 0.003048);
    EXPECT_DOUBLE_EQ(fDataStartValue(60, &imperial), -99.876864);
    EXPECT_DOUBLE_EQ(fDataScalePerBit(60, &metric), 0.01);
}

TEST(DataConvertTest, TypesWithoutValues) {
    for (int type : {0, 6, 34, 75, 200, -1}) {
        EXPECT_EQ(iuser_to_data(42, type, nullptr), 1) << type;
        EXPECT_DOUBLE_EQ(fdata_to_user(42, type, nullptr), 0.0) << type;
        EXPECT_DOUBLE_EQ(fDataScalePerBit(type, nullptr), 1.0) << type;
        EXPECT_DOUBLE_EQ(fDataStartValue(type, nullptr), 0.0) << type;
    }
}

// NaN slips through every clamp, so it needs a code of its own; infinities clamp like any
// value out of range, except for angles, which have no direction to clamp to.
TEST(DataConvertTest, NonFiniteValuesEncodeSafely) {
    data_convert conv;
    FillDataConvert(&conv, 1000, 0, 530, 0, DATA_CONVERT_INCHES | DATA_CONVERT_FEET);
    const std::vector<int> angles = {16, 24, 50, 51, 52, 53};
    for (int type = -1; type <= 80; ++type) {
        EXPECT_EQ(iuser_to_data(NAN, type, &conv), 0) << type;
        EXPECT_EQ(iuser_to_data(NAN, type, nullptr), 0) << type;
        if (std::find(angles.begin(), angles.end(), type) != angles.end()) {
            EXPECT_EQ(iuser_to_data(INFINITY, type, &conv), 0) << type;
            EXPECT_EQ(iuser_to_data(-INFINITY, type, &conv), 0) << type;
        } else {
            EXPECT_EQ(iuser_to_data(INFINITY, type, &conv), iuser_to_data(1e300, type, &conv));
            EXPECT_EQ(iuser_to_data(-INFINITY, type, &conv), iuser_to_data(-1e300, type, &conv));
        }
    }
}

TEST(DataConvertTest, ClassTables) {
    data_convert conv;
    FillDataConvert(&conv, 1000, 1, 530, 2, 0x1000);
    EXPECT_DOUBLE_EQ(conv.velocity, fNyquistVelocity(1000, 1, 530, 2));
    EXPECT_DOUBLE_EQ(conv.width, 6.625);
    EXPECT_EQ(conv.flags, 0x1000);
    const unsigned char defaults[6][4] = {{0, 0, 8, 0}, {255}, {255}, {255}, {255}, {255}};
    EXPECT_EQ(std::memcmp(conv.classes, defaults, sizeof defaults), 0);

    const unsigned char given[6][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    pvol_internal::fill_data_convert_classes(&conv, 1000, 0, 530, 0, 0, given);
    EXPECT_EQ(std::memcmp(conv.classes, given, sizeof given), 0);
    const unsigned char unset[6][4] = {{1, 2, 0, 4}, {5, 6, 7, 8}};
    pvol_internal::fill_data_convert_classes(&conv, 1000, 0, 530, 0, 0, unset);
    EXPECT_EQ(std::memcmp(conv.classes, defaults, sizeof defaults), 0);
    unsigned char copy[6][4];
    EXPECT_EQ(pvol_internal::enum_convert_copy(copy, given), 6);
}

}  // namespace
