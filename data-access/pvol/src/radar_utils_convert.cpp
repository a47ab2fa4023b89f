// Conversions between the stored codes and the physical values of every ORVA data type.
#include <cmath>
#include <cstring>

#include "radar_utils.h"
#include "radar_utils_internal.h"

namespace {

// 126 / ln 600: the logarithmic scale of specific differential phase codes.
constexpr double kKdpScale = 19.696949441558708;
constexpr double kKdpThreshold = 0.2438;
constexpr double kInch = 25.4;
constexpr double kFoot = 0.3048;

bool has_flag(const data_convert *conv, int flag) {
    return conv != nullptr && (conv->flags & flag) != 0;
}

// Clamps f into [lo, hi] and rounds half up; the clamp comes first, so the bounds are the
// extreme codes. NaN never reaches here.
int64_t clamp_round(double f, double lo, double hi) {
    if (f > hi)
        f = hi;
    if (f < lo)
        f = lo;
    return static_cast<int64_t>(std::floor(f + 0.5));
}

uint16_t code16(int64_t code) {
    return static_cast<uint16_t>(code);
}

// Angle wrapped into [0, period).
double wrap(double value, double period) {
    double a = std::fmod(value, period);
    if (a < 0)
        a += period;
    return a;
}

uint16_t encode_kdp(double value, const data_convert *conv) {
    if (conv == nullptr)
        return 128;
    const double e = conv->wavelength_cm * value;
    if (e > kKdpThreshold)
        return code16(clamp_round(129.0 + kKdpScale * std::log(4.0 * e), 128, 254));
    if (e < -kKdpThreshold)
        return code16(clamp_round(127.0 - kKdpScale * std::log(-4.0 * e), 1, 128));
    return 128;
}

double decode_kdp(uint16_t code, const data_convert *conv) {
    if (conv == nullptr || conv->wavelength_cm == 0)
        return 0.0;
    const double lambda = conv->wavelength_cm;
    if (code < 128)
        return -0.25 * std::pow(600.0, (127.0 - code) / 126.0) / lambda;
    if (code > 128)
        return 0.25 * std::pow(600.0, (code - 129.0) / 126.0) / lambda;
    return 0.0;
}

}  // namespace

namespace pvol_internal {

int enum_convert_copy(unsigned char dst[][4], const unsigned char src[][4]) {
    std::memcpy(dst, src, DATA_CONVERT_CLASSES * 4);
    return DATA_CONVERT_CLASSES;
}

void fill_data_convert_classes(data_convert *conv, double prf, int unfold, double wavelength,
                               int polarization, int flags, const unsigned char classes[][4]) {
    std::memset(conv, 0, sizeof *conv);
    conv->velocity = fNyquistVelocity(prf, unfold, wavelength, polarization);
    conv->width = fNyquistWidth(prf, wavelength, polarization);
    conv->wavelength_cm = wavelength / 100.0;
    conv->flags = flags;
    if (classes != nullptr && classes[0][2] != 0) {
        enum_convert_copy(conv->classes, classes);
        return;
    }
    conv->classes[0][0] = 0;
    conv->classes[0][1] = 0;
    conv->classes[0][2] = 8;
    for (int i = 1; i < DATA_CONVERT_CLASSES; ++i)
        conv->classes[i][0] = 255;
}

}  // namespace pvol_internal

extern "C" {

void FillDataConvert(data_convert *conv, double prf, int unfold, double wavelength,
                     int polarization, int flags) {
    pvol_internal::fill_data_convert_classes(conv, prf, unfold, wavelength, polarization, flags,
                                             nullptr);
}

uint16_t iuser_to_data(double x, int type, const data_convert *conv) {
    // NaN passes every clamp, so it gets a code of its own: 0, which ORVA keeps for "no data".
    if (std::isnan(x))
        return 0;
    switch (type) {
        case 0:
        case 6:
        case 34:
            return 1;
        case 1:
        case 2:
        case 7:
        case 61:
        case 63:
        case 65:
        case 71:
        case 73:
            return code16(clamp_round(2.0 * (x + 32.0), 0, 254));
        case 3:
            if (conv == nullptr || conv->velocity == 0)
                return 128;
            return code16(clamp_round(127.0 * x / conv->velocity + 128.0, 1, 254));
        case 4:
            if (conv == nullptr || conv->width == 0)
                return 1;
            return code16(clamp_round(256.0 * x / conv->width, 1, 254));
        case 5:
        case 57:
            return code16(clamp_round(16.0 * x + 128.0, 1, 254));
        case 8:
        case 9:
        case 10:
        case 12:
        case 15:
        case 21:
        case 22:
        case 26:
        case 28:
        case 58:
        case 59:
        case 62:
        case 64:
        case 66:
        case 72:
        case 74:
            return code16(clamp_round(100.0 * x + 32768.0, 0, 65534));
        case 11:
            return code16(clamp_round(100.0 * x, 1, 65534));
        case 13: {
            const double f = 10000.0 * (has_flag(conv, DATA_CONVERT_INCHES) ? x * kInch : x);
            const int64_t n = clamp_round(f, 0, 4294967295.0) + 1;
            return pvol_internal::rain_encode(static_cast<uint64_t>(n));
        }
        case 14:
            return encode_kdp(x, conv);
        case 16:
        case 50:
        case 52:
            if (!std::isfinite(x))
                return 0;
            return code16(clamp_round(254.0 * wrap(x, 180.0) / 180.0 + 1.0, 1, 254));
        case 17:
            return code16(clamp_round(1.6933333333333334 * x + 128.0, 1, 254));
        case 18:
        case 19:
        case 46:
        case 48:
            return code16(static_cast<int64_t>(std::floor(std::fmin(253.0 * x * x, 253.0) + 0.5)) +
                          1);
        case 20:
        case 23:
        case 47:
        case 49:
            return code16(clamp_round(65533.0 * x, 0, 65533) + 1);
        case 24:
        case 51:
        case 53:
            if (!std::isfinite(x))
                return 0;
            return code16(clamp_round(65534.0 * wrap(x, 360.0) / 360.0 + 1.0, 1, 65534));
        case 25:
        case 27:
            return code16(clamp_round(5.0 * (x + 45.2), 1, 254));
        case 29:
        case 38:
        case 39:
        case 55:
            return code16(clamp_round(x, 1, 254));
        case 30:
        case 54:
        case 56:
            return code16(clamp_round(x, 1, 65534));
        case 31: {
            const double f = std::floor(x + 0.5);
            return pvol_internal::rain_encode(
                static_cast<uint64_t>(clamp_round(f, 0, 4294967296.0)));
        }
        case 32:
            return code16(clamp_round(10.0 * (x + 0.1), 1, 253));
        case 33:
        case 69:
        case 70:
            return code16(clamp_round(1000.0 * (x + 0.001), 1, 65534));
        case 35:
            return code16(clamp_round(5.0 * (x + 25.6), 1, 254));
        case 36:
        case 40:
            return code16(clamp_round(1000.0 * x, -32767, 32767));
        case 37: {
            const double f = 1000.0 * (has_flag(conv, DATA_CONVERT_INCHES) ? x * kInch : x);
            return pvol_internal::rain_encode(
                static_cast<uint64_t>(clamp_round(f, 0, 4294967296.0)));
        }
        case 41:
        case 42:
            return code16(clamp_round(100.0 * x, -32767, 32767));
        case 43:
        case 44: {
            const int64_t code = clamp_round(10.0 * x, 0, 3600);
            return code16(code == 3600 ? 0 : code);
        }
        case 45:
            return code16(clamp_round(60.0 * x + 32768.0, 1, 65534));
        case 60: {
            const double height = has_flag(conv, DATA_CONVERT_FEET) ? kFoot * x : x;
            return code16(clamp_round(100.0 * height + 32768.0, 0, 65534));
        }
        case 67:
            return code16(clamp_round(2.53 * x + 1.0, 1, 254));
        case 68:
            return code16(clamp_round(655.33 * x + 1.0, 1, 65534));
        default:
            return 1;
    }
}

double fdata_to_user(uint16_t c, int type, const data_convert *conv) {
    const auto s = static_cast<int16_t>(c);
    switch (type) {
        case 0:
        case 6:
        case 34:
            return 0.0;
        case 1:
        case 2:
        case 7:
        case 61:
        case 63:
        case 65:
        case 71:
        case 73:
            return c / 2.0 - 32.0;
        case 3:
            if (conv == nullptr)
                return 0.0;
            return (c - 128.0) * conv->velocity / 127.0;
        case 4:
            if (conv == nullptr)
                return 0.0;
            return c * conv->width / 256.0;
        case 5:
        case 57:
            return (c - 128.0) / 16.0;
        case 8:
        case 9:
        case 10:
        case 12:
        case 15:
        case 21:
        case 22:
        case 26:
        case 28:
        case 58:
        case 59:
        case 62:
        case 64:
        case 66:
        case 72:
        case 74:
            return (c - 32768.0) / 100.0;
        case 11:
            return c / 100.0;
        case 13: {
            const double value = (rain_file_to_long(c) - 1.0) / 10000.0;
            return has_flag(conv, DATA_CONVERT_INCHES) ? value / kInch : value;
        }
        case 14:
            return decode_kdp(c, conv);
        case 16:
        case 50:
        case 52:
            return (c - 1.0) * 180.0 / 254.0;
        case 17:
            return (c - 128.0) * 0.5905511811023622;
        case 18:
        case 19:
        case 46:
        case 48:
            return c == 0 ? 0.0 : std::sqrt((c - 1.0) / 253.0);
        case 20:
        case 23:
        case 47:
        case 49:
            return c == 0 ? 0.0 : (c - 1.0) / 65533.0;
        case 24:
        case 51:
        case 53:
            return (c - 1.0) * 360.0 / 65534.0;
        case 25:
        case 27:
            return c / 5.0 - 45.2;
        case 29:
        case 38:
        case 39:
        case 55:
        case 30:
        case 54:
        case 56:
            return c;
        case 31:
            return rain_file_to_long(c) / 1000.0;
        case 32: {
            const double height = c / 10.0 - 0.1;
            return has_flag(conv, DATA_CONVERT_FEET) ? height / kFoot : height;
        }
        case 33:
        case 69:
        case 70:
            return (c - 1.0) / 1000.0;
        case 35:
            return c / 5.0 - 25.6;
        case 36:
        case 40:
            return s / 1000.0;
        case 37: {
            const double value = rain_file_to_long(c) / 1000.0;
            return has_flag(conv, DATA_CONVERT_INCHES) ? value / kInch : value;
        }
        case 41:
        case 42:
            return s / 100.0;
        case 43:
        case 44:
            return c / 10.0;
        case 45:
            return (c - 32768.0) / 60.0;
        case 60: {
            const double height = (c - 32768.0) / 100.0;
            return has_flag(conv, DATA_CONVERT_FEET) ? height * kFoot : height;
        }
        case 67:
            return c == 0 ? 0.0 : (c - 1.0) * 100.0 / 253.0;
        case 68:
            return c == 0 ? 0.0 : (c - 1.0) * 100.0 / 65533.0;
        default:
            return 0.0;
    }
}

double fDataScalePerBit(int type, const data_convert *conv) {
    switch (type) {
        case 1:
        case 2:
        case 7:
        case 61:
        case 63:
        case 65:
        case 71:
        case 73:
            return 0.5;
        case 3:
            return conv == nullptr ? 1.0 : conv->velocity / 127.0;
        case 4:
            return conv == nullptr ? 1.0 : conv->width / 256.0;
        case 5:
        case 57:
            return 0.0625;
        case 8:
        case 9:
        case 10:
        case 12:
        case 15:
        case 21:
        case 22:
        case 26:
        case 28:
        case 58:
        case 59:
        case 62:
        case 64:
        case 66:
        case 72:
        case 74:
        case 11:
        case 41:
        case 42:
            return 0.01;
        case 13:
        case 31:
        case 36:
        case 40:
        case 70:
            return 1.0 / 4096.0;
        case 14:
            return 0.072811999417504;
        case 16:
        case 50:
        case 52:
            return 0.7086614173228346;
        case 17:
            return 0.5905511811023622;
        case 18:
        case 19:
        case 46:
        case 48:
            return 0.00278391;
        case 20:
        case 23:
        case 47:
        case 49:
            return 1.0 / 65533.0;
        case 24:
        case 51:
        case 53:
            return 0.005493331705679495;
        case 25:
        case 27:
        case 35:
            return 0.2;
        case 32:
        case 43:
        case 44:
            return 0.1;
        case 33:
        case 69:
            return 0.001;
        case 45:
            return 1.0 / 60.0;
        case 60:
            return has_flag(conv, DATA_CONVERT_FEET) ? 0.003048 : 0.01;
        case 67:
            return 0.3952569169960474;
        case 68:
            return 0.0015259487586406848;
        default:  // 0, 6, 34, the counts 29, 30, 37, 38, 39, 54, 55, 56, and 75 and above
            return 1.0;
    }
}

double fDataStartValue(int type, const data_convert *conv) {
    switch (type) {
        case 1:
        case 2:
        case 7:
        case 61:
        case 63:
        case 65:
        case 71:
        case 73:
            return -32.0;
        case 3:
            return conv == nullptr ? 1.0 : -1.0078740157480315 * conv->velocity;
        case 5:
        case 57:
            return -8.0;
        case 8:
        case 9:
        case 10:
        case 12:
        case 15:
        case 21:
        case 22:
        case 26:
        case 28:
        case 58:
        case 59:
        case 62:
        case 64:
        case 66:
        case 72:
        case 74:
        case 41:
        case 42:
            return -327.68;
        case 36:
            return -32.768;
        case 13:
            return -0.0001;
        case 14:
            if (conv == nullptr || conv->wavelength_cm == 0)
                return -150.0;
            return -150.0 / conv->wavelength_cm;
        case 16:
        case 50:
        case 52:
            return -0.7086614173228346;
        case 17:
            return -75.59055118110236;
        case 20:
        case 23:
        case 47:
        case 49:
            return -1.0 / 65533.0;
        case 24:
        case 51:
        case 53:
            return -0.005493331705679495;
        case 25:
        case 27:
            return -45.2;
        case 32:
            return -0.1;
        case 33:
        case 69:
            return -0.001;
        case 35:
            return -25.6;
        case 45:
            return -546.1333333333333;
        case 60:
            return has_flag(conv, DATA_CONVERT_FEET) ? -99.876864 : -327.68;
        case 67:
            return -0.3952569169960474;
        case 68:
            return -0.0015259487586406848;
        default:  // types 0, 4, 6, 11, 18, 19, 29 to 31, 34, 37 to 40, 43, 44, 46, 48, 54 to 56,
                  // 70, and 75 and above
            return 0.0;
    }
}

}  // extern "C"
