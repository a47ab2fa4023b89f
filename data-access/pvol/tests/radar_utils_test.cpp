// Value conversions of the ORVA file formats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "pvol/orva_records.h"
#include "pvol/radar_utils.h"

namespace {

TEST(FixedTextTest, ConvertsBetweenFieldsAndTexts) {
    char out[17];
    EXPECT_STREQ(fstr2cstr(out, "SITE            ", 16), "SITE");
    EXPECT_STREQ(fstr2cstr(out, "ABCDEFGHIJKLMNOP", 16), "ABCDEFGHIJKLMNOP");
    // Blanks before an embedded NUL are not trailing blanks of the field.
    fstr2cstr(out, "A \0x    ", 8);
    EXPECT_EQ(std::memcmp(out, "A \0", 3), 0);

    char field[8];
    std::memset(field, 'z', sizeof field);
    cstr2fstr(field, "AB", 6);
    EXPECT_EQ(std::memcmp(field, "AB    zz", 8), 0);
    cstr2fstr(field, "TOO LONG TEXT", 6);
    EXPECT_EQ(std::memcmp(field, "TOO LOzz", 8), 0);
}

class TimeZoneGuard {
  public:
    explicit TimeZoneGuard(const char *zone) {
        if (const char *old = std::getenv("TZ"))
            saved_ = old, had_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneGuard() {
        if (had_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::string saved_;
    bool had_ = false;
};

ymds_time summer_noon(uint16_t flags) {
    // 2021-07-04 12:34:56.789, a date inside daylight-saving time in both zones below
    return ymds_time{12 * 3600 + 34 * 60 + 56, static_cast<uint16_t>(789 | flags), 2021, 7, 4};
}

TEST(TimeTest, YmdsReadsAsUtcInEveryTimeZone) {
    const time_t expected = 1625402096;  // 2021-07-04T12:34:56Z
    for (const char *zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        TimeZoneGuard guard(zone);
        for (uint16_t dst : {0, YMDS_FLG_DST}) {
            const ymds_time utc_time = summer_noon(YMDS_FLG_UTC | dst), west = summer_noon(dst);
            struct timeval utc, local;
            ymds2timeval(&utc, &utc_time, 60);
            ymds2timeval(&local, &west, 60);
            EXPECT_EQ(utc.tv_sec, expected) << zone;
            EXPECT_EQ(utc.tv_usec, 789000);
            // Times not flagged UTC lie the given minutes west of UTC.
            EXPECT_EQ(local.tv_sec, expected + 3600) << zone;
        }
    }
}

TEST(TimeTest, TimevalToYmdsAndBack) {
    struct timeval epoch = {0, 999999};
    ymds_time out;
    timeval2ymds(&out, &epoch);
    EXPECT_EQ(out.year, 1970);
    EXPECT_EQ(out.month, 1);
    EXPECT_EQ(out.day, 1);
    EXPECT_EQ(out.seconds, 0);
    EXPECT_EQ(out.msecs_flags, 0x800 + 999);

    // Leap day and end of a leap year, in a zone far from UTC.
    TimeZoneGuard guard("NZST-12NZDT,M9.5.0,M4.1.0/3");
    for (time_t t : {time_t{951825599}, time_t{978307199}, time_t{4102444800}}) {
        struct timeval in = {t, 250000}, back;
        timeval2ymds(&out, &in);
        ymds2timeval(&back, &out, 300);
        EXPECT_EQ(back.tv_sec, t);
        EXPECT_EQ(back.tv_usec, 250000);
    }
}

TEST(ProcessorTest, NoisePowerByProcessorType) {
    unsigned char status[104] = {};
    const uint16_t raw_noise = 4 * 3600;  // (raw / 4 - 3584) = 16
    const int16_t slope = 16384;          // a quarter
    const int16_t channel0_offset = 150;
    const uint16_t power_code = 2 << 8;
    std::memcpy(status + 10, &raw_noise, 2);
    std::memcpy(status + 62, &slope, 2);
    std::memcpy(status + 98, &channel0_offset, 2);
    EXPECT_DOUBLE_EQ(tarn7_power_max(status), 4.5);
    std::memcpy(status + 102, &power_code, 2);
    EXPECT_DOUBLE_EQ(tarn7_power_max(status), 8.0);

    EXPECT_FLOAT_EQ(fdsptype_noise_power(8, 1, status), 8.0f + 4.0f);
    EXPECT_FLOAT_EQ(fdsptype_noise_power(8, 0, status), 8.0f + 4.0f - 1.5f);
    EXPECT_FLOAT_EQ(fdsptype_noise_power(6, 0, status), 4 * 3600 / 64.0f);
}

TEST(GasAttenuationTest, CodesAndBounds) {
    EXPECT_EQ(iCode16FromFGasAtten(0.05f), 5000);
    EXPECT_EQ(iCode16FromFGasAtten(0.1f), 10000);
    EXPECT_EQ(iCode16FromFGasAtten(10.0f), 65535);
    EXPECT_EQ(iCode16FromFGasAtten(-1.0f), 0);
    EXPECT_FLOAT_EQ(fGasAttenFromCode16(10000), 0.1f);
    EXPECT_FLOAT_EQ(fGasAttenFromCode16(12345), 0.3345f);
    for (uint16_t code : {0, 1, 9999, 10000, 10001, 40000, 65534})
        EXPECT_EQ(iCode16FromFGasAtten(fGasAttenFromCode16(code)), code);
}

TEST(DataMaskTest, CodeWordsAndExtendedHeaderWord) {
    dsp_data_mask mask;
    std::memset(&mask, 0xFF, sizeof mask);
    DspMaskClearAll(&mask);
    const dsp_data_mask cleared = {0, 0xFFFFFFFF, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&mask, &cleared, sizeof mask), 0);

    DspMaskSet(&mask, 65);
    EXPECT_EQ(mask.mask_word_2, 2u);  // bit 1 of the word at offset 12
    EXPECT_EQ(lDspMaskTest(&mask, 65), 1);
    EXPECT_EQ(lDspMaskTest(&mask, 64), 0);
    EXPECT_EQ(lDspMaskTest(&mask, 65 + 256), 1);  // types reduce to their low 8 bits
    DspMaskSet(&mask, 159);
    EXPECT_EQ(mask.mask_word_4, 0x80000000u);
    const dsp_data_mask before = mask;
    DspMaskSet(&mask, 200);
    EXPECT_EQ(std::memcmp(&before, &mask, sizeof mask), 0);
    EXPECT_EQ(lDspMaskTest(&mask, 200), 0);
    DspMaskClear(&mask, 65);
    EXPECT_EQ(lDspMaskTest(&mask, 65), 0);
}

TEST(BinaryAngleTest, DecodingAndEncoding) {
    EXPECT_DOUBLE_EQ(fRadianFromBin2(0x8000), -M_PI);
    EXPECT_DOUBLE_EQ(fRadianFromBin4(0xC0000000u), -M_PI / 2);
    EXPECT_DOUBLE_EQ(fPDegFromBin2(0xC000), 270.0);
    EXPECT_DOUBLE_EQ(fElDegFromBin2(0xC000), 270.0);
    EXPECT_LT(fElDegFromBin2(0xFFFF), 0.0);
    EXPECT_GT(fElDegFromBin2(0xFFFF), -0.01);

    EXPECT_EQ(iBin2FromFDeg(360.0), 65536);  // no wrap: callers keep the low 16 bits
    EXPECT_EQ(iBin2FromFDeg(-0.5 / 182.04444444444445), 0);  // half up, not away from zero
    EXPECT_EQ(iBin2FromRadian(-M_PI), -32768);
    EXPECT_EQ(iBin2FromFDeg(NAN), 0);
    EXPECT_EQ(iBin2FromFDeg(1e300), 2147483647);

    EXPECT_EQ(iBin4FromRadian(-M_PI / 2), 0xC0000000u);
    EXPECT_EQ(iBin4FromRadian(2 * M_PI), 0u);
    EXPECT_EQ(iBin4FromRadian(5 * M_PI / 2), 0x40000000u);
    EXPECT_EQ(iBin4FromRadian(INFINITY), 0u);
    for (double a : {0.1, 3.0, 6.0})
        EXPECT_NEAR(fRadianFromBin4(iBin4FromRadian(a)), a > M_PI ? a - 2 * M_PI : a, 1.5e-9);

    EXPECT_EQ(iBin2NarrowMidPt(0xFF00, 0x0100), 0x0000);  // across north
    EXPECT_EQ(iBin2NarrowMidPt(0x0100, 0xFF00), 0x0000);
    EXPECT_EQ(iBin2NarrowMidPt(0x3000, 0x1000), 0x2000);
}

TEST(NyquistTest, UnfoldingAndPolarization) {
    EXPECT_DOUBLE_EQ(fNyquistVelocity(1000, 1, 530, 0), 26.5);
    EXPECT_DOUBLE_EQ(fNyquistVelocity(1000, 2, 530, 2), 13.25 * 3 / 2);
    EXPECT_DOUBLE_EQ(fNyquistVelocity(1000, 7, 530, 0), 13.25);
    EXPECT_DOUBLE_EQ(fNyquistWidth(1000, 530, 2), 6.625);
    for (int unfold = 0; unfold <= 4; ++unfold)
        EXPECT_DOUBLE_EQ(
            fPrfFromNyquistVelocity(fNyquistVelocity(1200, unfold, 530, 2), unfold, 530, 2), 1200);
}

TEST(RainCodeTest, FloatingFormat) {
    // 0x7FFC000 to 0x7FFFFFF would fill the mantissa of the largest exponent up to 0xFFFF, the
    // code of no data; they code as the largest value.
    const uint32_t values[] = {0,         4095,      4096,      5000,      8193,
                               0x7FFBFFF, 0x7FFC000, 0x7FFFFFF, 0x8000000, 0xFFFFFFFF};
    constexpr int kCount = sizeof values / sizeof values[0];
    uint16_t codes[kCount];
    rain_long_to_file(values, kCount, codes);
    const uint16_t expected[] = {0,      4095,   0x1000, 0x1388, 0x2000,
                                 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFF};
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(codes[i], expected[i]) << std::hex << values[i];

    EXPECT_EQ(rain_file_to_long(0x1000), 4096u);
    EXPECT_EQ(rain_file_to_long(0x2000), 8192u);
    EXPECT_EQ(rain_file_to_long(0xFFFE), 0x7FF8000u);
    EXPECT_EQ(rain_file_to_long(0xFFFF), 0xFFFFFFFFu);
    // Every code below the top two decodes to a value that encodes back to it.
    for (uint32_t code = 0; code < 0xFFFE; ++code) {
        uint32_t value = rain_file_to_long(static_cast<uint16_t>(code));
        uint16_t again;
        rain_long_to_file(&value, 1, &again);
        ASSERT_EQ(again, code);
    }
}

}  // namespace
