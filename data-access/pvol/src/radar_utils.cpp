// Value conversions of the ORVA file formats: texts, times, angles, codes, masks.
#include "pvol/radar_utils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "radar_utils_internal.h"

namespace {

constexpr double kBin2PerDegree = 182.04444444444445;  // 65536 / 360
constexpr double kBin2PerRadian = 10430.378350470453;  // 32768 / pi
constexpr double kBin4PerRadian = 683565275.5764316;   // 2^31 / pi
// 2^31 / (2 pi): half a bin4 unit per step, so the rounded value still fits a signed 32-bit int.
constexpr double kHalfBin4PerRadian = 341782637.7882158;
constexpr double kTwoPi = 6.283185307179586;

uint16_t read_u16(const void *block, size_t offset) {
    uint16_t value;
    std::memcpy(&value, static_cast<const unsigned char *>(block) + offset, sizeof value);
    return value;
}

int16_t read_i16(const void *block, size_t offset) {
    int16_t value;
    std::memcpy(&value, static_cast<const unsigned char *>(block) + offset, sizeof value);
    return value;
}

// Days since 1970-01-01 of a proleptic Gregorian date; month may lie outside 1..12.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
    int64_t month0 = month - 1;
    year += month0 >= 0 ? month0 / 12 : -((11 - month0) / 12);
    month0 -= (month0 >= 0 ? month0 / 12 : -((11 - month0) / 12)) * 12;
    const int64_t m = month0 + 1;
    year -= m <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

uint32_t mask_bit(int type) {
    return uint32_t{1} << ((type & 0xFF) % 32);
}

// The code word of a type, or null for the codes 160..255 outside the set.
uint32_t *mask_word(dsp_data_mask *mask, int type) {
    switch ((type & 0xFF) / 32) {
        case 0:
            return &mask->mask_word_0;
        case 1:
            return &mask->mask_word_1;
        case 2:
            return &mask->mask_word_2;
        case 3:
            return &mask->mask_word_3;
        case 4:
            return &mask->mask_word_4;
        default:
            return nullptr;
    }
}

}  // namespace

namespace pvol_internal {

int round_half_up_to_int(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::floor(value + 0.5);
    if (rounded >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(rounded);
}

uint16_t rain_encode(uint64_t value) {
    if (value == 0xFFFFFFFFu)
        return 0xFFFF;
    if (value >= (uint64_t{1} << 27))
        return 0xFFFE;
    if (value < 4096)
        return static_cast<uint16_t>(value);
    int exponent = 1;
    while (value >= (uint64_t{1} << (12 + exponent)))
        ++exponent;
    const uint64_t mantissa = (value >> (exponent - 1)) & 0xFFF;
    // From 0x7FFC000 on the largest exponent with a full mantissa would give 0xFFFF, the code of
    // no data: those values take the largest value code, as larger ones do.
    return static_cast<uint16_t>(std::min<uint64_t>(exponent * 4096 + mantissa, 0xFFFE));
}

}  // namespace pvol_internal

extern "C" {

char *fstr2cstr(char *dst, const char *src, size_t len) {
    if (dst == nullptr || src == nullptr)
        return dst;
    std::strncpy(dst, src, len);
    dst[len] = '\0';
    for (size_t i = len; i > 0 && dst[i - 1] == ' '; --i)
        dst[i - 1] = '\0';
    return dst;
}

char *cstr2fstr(char *dst, const char *src, size_t len) {
    if (dst == nullptr || src == nullptr)
        return dst;
    const size_t text = strnlen(src, len);
    std::memcpy(dst, src, text);
    std::memset(dst + text, ' ', len - text);
    return dst;
}

int ymds2timeval(struct timeval *out, const ymds_time *in, int minutes) {
    // Plain calendar arithmetic rather than a trip through local time: the process's time zone
    // cannot leak into the result, and the daylight-saving flag never changes a UTC reading.
    const int32_t seconds = in->seconds;
    const int64_t second = seconds % 60;
    const int64_t minute = (seconds / 60) % 60;
    const int64_t hour = (seconds / 3600) % 24;
    int64_t epoch =
        days_from_civil(in->year, in->month, in->day) * 86400 + hour * 3600 + minute * 60 + second;
    if ((in->msecs_flags & YMDS_FLG_UTC) == 0)
        epoch += int64_t{minutes} * 60;
    out->tv_sec = static_cast<time_t>(epoch);
    out->tv_usec = static_cast<suseconds_t>((in->msecs_flags & YMDS_MSECS_MASK) * 1000);
    return 0;
}

int timeval2ymds(ymds_time *out, const struct timeval *in) {
    const time_t seconds = in->tv_sec;
    struct tm broken_down {};
    gmtime_r(&seconds, &broken_down);
    out->seconds = broken_down.tm_hour * 3600 + broken_down.tm_min * 60 + broken_down.tm_sec;
    out->msecs_flags =
        static_cast<uint16_t>(((in->tv_usec / 1000) & YMDS_MSECS_MASK) | YMDS_FLG_UTC);
    out->year = static_cast<int16_t>(broken_down.tm_year + 1900);
    out->month = static_cast<int16_t>(broken_down.tm_mon + 1);
    out->day = static_cast<int16_t>(broken_down.tm_mday);
    return 0;
}

double tarn7_power_max(const void *status) {
    switch ((read_u16(status, 102) >> 8) & 0xF) {
        case 1:
            return 6.0;
        case 2:
            return 8.0;
        default:
            return 4.5;
    }
}

float fdsptype_noise_power(int dsp_type, int channel, const void *status) {
    const double raw_noise = read_u16(status, 10);
    if (dsp_type < 7 || dsp_type > 9)
        return static_cast<float>(raw_noise / 64.0);
    double power =
        tarn7_power_max(status) + read_i16(status, 62) / 65536.0 * (raw_noise / 4.0 - 3584.0);
    if (channel == 0)
        power -= read_i16(status, 98) / 100.0;
    return static_cast<float>(power);
}

float fGasAttenFromCode16(uint16_t code) {
    if (code < 10000)
        return static_cast<float>(code * 0.00001);
    return static_cast<float>((code - 10000) * 0.0001 + 0.1);
}

uint16_t iCode16FromFGasAtten(float value) {
    if (value < 0)
        return 0;
    if (value < 0.1)
        return static_cast<uint16_t>(std::floor(value * 100000.0 + 0.5));
    if (value < 5.6535)
        return static_cast<uint16_t>(std::floor((value - 0.1) * 10000.0 + 0.5) + 10000);
    return 65535;
}

dsp_data_mask *DspMaskClearAll(dsp_data_mask *mask) {
    mask->mask_word_0 = 0;
    mask->mask_word_1 = 0;
    mask->mask_word_2 = 0;
    mask->mask_word_3 = 0;
    mask->mask_word_4 = 0;
    return mask;
}

void DspMaskSet(dsp_data_mask *mask, int type) {
    if (uint32_t *word = mask_word(mask, type))
        *word |= mask_bit(type);
}

void DspMaskClear(dsp_data_mask *mask, int type) {
    if (uint32_t *word = mask_word(mask, type))
        *word &= ~mask_bit(type);
}

int lDspMaskTest(const dsp_data_mask *mask, int type) {
    const uint32_t *word = mask_word(const_cast<dsp_data_mask *>(mask), type);
    return word != nullptr && (*word & mask_bit(type)) != 0;
}

double fRadianFromBin2(uint16_t code) {
    return static_cast<int16_t>(code) / kBin2PerRadian;
}

double fRadianFromBin4(uint32_t code) {
    return static_cast<int32_t>(code) / kBin4PerRadian;
}

double fPDegFromBin2(uint16_t code) {
    return code / kBin2PerDegree;
}

double fElDegFromBin2(uint16_t code) {
    const double degrees = fPDegFromBin2(code);
    return degrees > 270.0 ? degrees - 360.0 : degrees;
}

int iBin2FromFDeg(double degrees) {
    return pvol_internal::round_half_up_to_int(degrees * kBin2PerDegree);
}

int iBin2FromRadian(double radians) {
    return pvol_internal::round_half_up_to_int(radians * kBin2PerRadian);
}

uint32_t iBin4FromRadian(double radians) {
    if (!std::isfinite(radians))
        return 0;
    double angle = std::fmod(radians, kTwoPi);
    if (angle < 0)
        angle += kTwoPi;
    // A value just below 2 pi rounds to 2^31 half units; doubling then wraps it to 0.
    const auto half_units = static_cast<int64_t>(std::floor(angle * kHalfBin4PerRadian + 0.5));
    return static_cast<uint32_t>(2 * half_units);
}

uint16_t iBin2NarrowMidPt(uint16_t a, uint16_t b) {
    const int half_difference = static_cast<int16_t>(static_cast<uint16_t>(b - a)) >> 1;
    return static_cast<uint16_t>(a + half_difference);
}

double fNyquistVelocity(double prf, int unfold, double wavelength, int polarization) {
    double velocity = prf * wavelength / 40000.0;
    switch (unfold) {
        case 1:
            velocity *= 2.0;
            break;
        case 2:
            velocity *= 3.0;
            break;
        case 3:
            velocity *= 4.0;
            break;
        default:
            break;
    }
    if (polarization == 2)
        velocity /= 2.0;
    return velocity;
}

double fNyquistWidth(double prf, double wavelength, int polarization) {
    const double width = prf * wavelength / 40000.0;
    return polarization == 2 ? width / 2.0 : width;
}

double fPrfFromNyquistVelocity(double velocity, int unfold, double wavelength, int polarization) {
    double prf = 40000.0 * velocity / wavelength;
    switch (unfold) {
        case 1:
            prf /= 2.0;
            break;
        case 2:
            prf /= 3.0;
            break;
        case 3:
            prf /= 4.0;
            break;
        default:
            break;
    }
    if (polarization == 2)
        prf *= 2.0;
    return prf;
}

void rain_long_to_file(const uint32_t *src, size_t n, uint16_t *dst) {
    for (size_t i = 0; i < n; ++i)
        dst[i] = pvol_internal::rain_encode(src[i]);
}

uint32_t rain_file_to_long(uint16_t code) {
    if (code == 0xFFFF)
        return 0xFFFFFFFFu;
    if (code < 4096)
        return code;
    const int exponent = code >> 12;
    return ((uint32_t{code} & 0xFFF) | 0x1000) << (exponent - 1);
}

}  // extern "C"
