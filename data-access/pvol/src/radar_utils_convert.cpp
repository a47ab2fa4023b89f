// Conversions between the stored codes and the physical values of every ORVA data type.
#include <cmath>
#include <cstring>

#include "pvol/radar_utils.h"
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

// How the codes of one family of data types read: encoding, decoding, and the step and start
// that describe the codes as a data scale. Some families take the step and start from the
// conversion record or differ in them by type; those give `scale_of`.
struct Scale {
    double step;
    double start;
};

struct CodeRule {
    uint16_t (*encode)(double x, const data_convert *conv);
    double (*decode)(uint16_t c, const data_convert *conv);
    Scale scale;
    Scale (*scale_of)(int type, const data_convert *conv) = nullptr;
};

// A wrapped angle that is not finite has no code.
uint16_t encode_angle(double x, double period, double top) {
    if (!std::isfinite(x))
        return 0;
    return code16(clamp_round(top * wrap(x, period) / period + 1.0, 1, top));
}

// Types without values, and every unknown type.
constexpr CodeRule kNoValue{[](double, const data_convert *) -> uint16_t { return 1; },
                            [](uint16_t, const data_convert *) { return 0.0; },
                            {1.0, 0.0}};

// Power and reflectivity in half decibels from -32 dB.
constexpr CodeRule kPower8{
    [](double x, const data_convert *) { return code16(clamp_round(2.0 * (x + 32.0), 0, 254)); },
    [](uint16_t c, const data_convert *) { return c / 2.0 - 32.0; },
    {0.5, -32.0}};

// Hundredths around 32768: 16-bit power, reflectivity, velocity, ZDR, SNR.
constexpr CodeRule kHundredthsAround32768{
    [](double x, const data_convert *) {
        return code16(clamp_round(100.0 * x + 32768.0, 0, 65534));
    },
    [](uint16_t c, const data_convert *) { return (c - 32768.0) / 100.0; },
    {0.01, -327.68}};

// Velocity in 127ths of the Nyquist velocity around 128.
constexpr CodeRule kVelocity8{
    [](double x, const data_convert *conv) -> uint16_t {
        if (conv == nullptr || conv->velocity == 0)
            return 128;
        return code16(clamp_round(127.0 * x / conv->velocity + 128.0, 1, 254));
    },
    [](uint16_t c, const data_convert *conv) {
        return conv == nullptr ? 0.0 : (c - 128.0) * conv->velocity / 127.0;
    },
    {},
    [](int, const data_convert *conv) {
        return conv == nullptr
                   ? Scale{1.0, 1.0}
                   : Scale{conv->velocity / 127.0, -1.0078740157480315 * conv->velocity};
    }};

// Spectral width in 256ths of the Nyquist width.
constexpr CodeRule kWidth8{[](double x, const data_convert *conv) -> uint16_t {
                               if (conv == nullptr || conv->width == 0)
                                   return 1;
                               return code16(clamp_round(256.0 * x / conv->width, 1, 254));
                           },
                           [](uint16_t c, const data_convert *conv) {
                               return conv == nullptr ? 0.0 : c * conv->width / 256.0;
                           },
                           {},
                           [](int, const data_convert *conv) {
                               return Scale{conv == nullptr ? 1.0 : conv->width / 256.0, 0.0};
                           }};

// Differential reflectivity in sixteenths of a decibel around 128.
constexpr CodeRule kZdr8{
    [](double x, const data_convert *) { return code16(clamp_round(16.0 * x + 128.0, 1, 254)); },
    [](uint16_t c, const data_convert *) { return (c - 128.0) / 16.0; },
    {0.0625, -8.0}};

constexpr CodeRule kWidth16{
    [](double x, const data_convert *) { return code16(clamp_round(100.0 * x, 1, 65534)); },
    [](uint16_t c, const data_convert *) { return c / 100.0; },
    {0.01, 0.0}};

// Rain in ten-thousandths of a millimetre (inches on request), rain-encoded, one above.
constexpr CodeRule kRainTenThousandths{
    [](double x, const data_convert *conv) {
        const double f = 10000.0 * (has_flag(conv, DATA_CONVERT_INCHES) ? x * kInch : x);
        const int64_t n = clamp_round(f, 0, 4294967295.0) + 1;
        return pvol_internal::rain_encode(static_cast<uint64_t>(n));
    },
    [](uint16_t c, const data_convert *conv) {
        const double value = (rain_file_to_long(c) - 1.0) / 10000.0;
        return has_flag(conv, DATA_CONVERT_INCHES) ? value / kInch : value;
    },
    {1.0 / 4096.0, -0.0001}};

constexpr CodeRule kKdp8{encode_kdp, decode_kdp, {}, [](int, const data_convert *conv) {
                             if (conv == nullptr || conv->wavelength_cm == 0)
                                 return Scale{0.072811999417504, -150.0};
                             return Scale{0.072811999417504, -150.0 / conv->wavelength_cm};
                         }};

// Phases on half a circle.
constexpr CodeRule kPhase8{
    [](double x, const data_convert *) { return encode_angle(x, 180.0, 254); },
    [](uint16_t c, const data_convert *) { return (c - 1.0) * 180.0 / 254.0; },
    {0.7086614173228346, -0.7086614173228346}};

// Phases on a whole circle.
constexpr CodeRule kPhase16{
    [](double x, const data_convert *) { return encode_angle(x, 360.0, 65534); },
    [](uint16_t c, const data_convert *) { return (c - 1.0) * 360.0 / 65534.0; },
    {0.005493331705679495, -0.005493331705679495}};

// Corrected velocity: 127 steps of 75/127 m/s either side of 128.
constexpr CodeRule kCorrectedVelocity8{
    [](double x, const data_convert *) {
        return code16(clamp_round(1.6933333333333334 * x + 128.0, 1, 254));
    },
    [](uint16_t c, const data_convert *) { return (c - 128.0) * 0.5905511811023622; },
    {0.5905511811023622, -75.59055118110236}};

// Correlations and signal quality: the square of the value in 253 steps.
constexpr CodeRule kCorrelation8{
    [](double x, const data_convert *) {
        return code16(static_cast<int64_t>(std::floor(std::fmin(253.0 * x * x, 253.0) + 0.5)) + 1);
    },
    [](uint16_t c, const data_convert *) { return c == 0 ? 0.0 : std::sqrt((c - 1.0) / 253.0); },
    {0.00278391, 0.0}};

constexpr CodeRule kCorrelation16{
    [](double x, const data_convert *) { return code16(clamp_round(65533.0 * x, 0, 65533) + 1); },
    [](uint16_t c, const data_convert *) { return c == 0 ? 0.0 : (c - 1.0) / 65533.0; },
    {1.0 / 65533.0, -1.0 / 65533.0}};

// Linear depolarization ratio in fifths of a decibel from -45.2 dB.
constexpr CodeRule kLdr8{
    [](double x, const data_convert *) { return code16(clamp_round(5.0 * (x + 45.2), 1, 254)); },
    [](uint16_t c, const data_convert *) { return c / 5.0 - 45.2; },
    {0.2, -45.2}};

// Counts and classes: the code is the value.
constexpr CodeRule kCount8{
    [](double x, const data_convert *) { return code16(clamp_round(x, 1, 254)); },
    [](uint16_t c, const data_convert *) { return static_cast<double>(c); },
    {1.0, 0.0}};

constexpr CodeRule kCount16{
    [](double x, const data_convert *) { return code16(clamp_round(x, 1, 65534)); },
    [](uint16_t c, const data_convert *) { return static_cast<double>(c); },
    {1.0, 0.0}};

// Rain-encoded whole units that read back in thousandths.
constexpr CodeRule kRainUnits{
    [](double x, const data_convert *) {
        const double f = std::floor(x + 0.5);
        return pvol_internal::rain_encode(static_cast<uint64_t>(clamp_round(f, 0, 4294967296.0)));
    },
    [](uint16_t c, const data_convert *) { return rain_file_to_long(c) / 1000.0; },
    {1.0 / 4096.0, 0.0}};

// Heights in tenths of a kilometre from -0.1 km; only the decoding honours feet.
constexpr CodeRule kHeightTenths8{
    [](double x, const data_convert *) { return code16(clamp_round(10.0 * (x + 0.1), 1, 253)); },
    [](uint16_t c, const data_convert *conv) {
        const double height = c / 10.0 - 0.1;
        return has_flag(conv, DATA_CONVERT_FEET) ? height / kFoot : height;
    },
    {0.1, -0.1}};

// Thousandths from -0.001; type 70 keeps the scale of the rain types.
constexpr CodeRule kThousandths16{
    [](double x, const data_convert *) {
        return code16(clamp_round(1000.0 * (x + 0.001), 1, 65534));
    },
    [](uint16_t c, const data_convert *) { return (c - 1.0) / 1000.0; },
    {},
    [](int type, const data_convert *) {
        return type == 70 ? Scale{1.0 / 4096.0, 0.0} : Scale{0.001, -0.001};
    }};

constexpr CodeRule kFifthsFrom25_6{
    [](double x, const data_convert *) { return code16(clamp_round(5.0 * (x + 25.6), 1, 254)); },
    [](uint16_t c, const data_convert *) { return c / 5.0 - 25.6; },
    {0.2, -25.6}};

// Signed thousandths; only type 36 starts its scale at -32.768.
constexpr CodeRule kSignedThousandths16{
    [](double x, const data_convert *) { return code16(clamp_round(1000.0 * x, -32767, 32767)); },
    [](uint16_t c, const data_convert *) { return static_cast<int16_t>(c) / 1000.0; },
    {},
    [](int type, const data_convert *) {
        return Scale{1.0 / 4096.0, type == 36 ? -32.768 : 0.0};
    }};

// Rain in thousandths of a millimetre (inches on request), rain-encoded.
constexpr CodeRule kRainThousandths{
    [](double x, const data_convert *conv) {
        const double f = 1000.0 * (has_flag(conv, DATA_CONVERT_INCHES) ? x * kInch : x);
        return pvol_internal::rain_encode(static_cast<uint64_t>(clamp_round(f, 0, 4294967296.0)));
    },
    [](uint16_t c, const data_convert *conv) {
        const double value = rain_file_to_long(c) / 1000.0;
        return has_flag(conv, DATA_CONVERT_INCHES) ? value / kInch : value;
    },
    {1.0, 0.0}};

constexpr CodeRule kSignedHundredths16{
    [](double x, const data_convert *) { return code16(clamp_round(100.0 * x, -32767, 32767)); },
    [](uint16_t c, const data_convert *) { return static_cast<int16_t>(c) / 100.0; },
    {0.01, -327.68}};

// Directions in tenths of a degree; a full circle is 0.
constexpr CodeRule kDirectionTenths16{[](double x, const data_convert *) {
                                          const int64_t code = clamp_round(10.0 * x, 0, 3600);
                                          return code16(code == 3600 ? 0 : code);
                                      },
                                      [](uint16_t c, const data_convert *) { return c / 10.0; },
                                      {0.1, 0.0}};

constexpr CodeRule kSixtieths16{
    [](double x, const data_convert *) {
        return code16(clamp_round(60.0 * x + 32768.0, 1, 65534));
    },
    [](uint16_t c, const data_convert *) { return (c - 32768.0) / 60.0; },
    {1.0 / 60.0, -546.1333333333333}};

// Heights in hundredths around 32768; feet on request in both directions.
constexpr CodeRule kHeightHundredths16{
    [](double x, const data_convert *conv) {
        const double height = has_flag(conv, DATA_CONVERT_FEET) ? kFoot * x : x;
        return code16(clamp_round(100.0 * height + 32768.0, 0, 65534));
    },
    [](uint16_t c, const data_convert *conv) {
        const double height = (c - 32768.0) / 100.0;
        return has_flag(conv, DATA_CONVERT_FEET) ? height * kFoot : height;
    },
    {},
    [](int, const data_convert *conv) {
        return has_flag(conv, DATA_CONVERT_FEET) ? Scale{0.003048, -99.876864}
                                                 : Scale{0.01, -327.68};
    }};

constexpr CodeRule kPercent8{
    [](double x, const data_convert *) { return code16(clamp_round(2.53 * x + 1.0, 1, 254)); },
    [](uint16_t c, const data_convert *) { return c == 0 ? 0.0 : (c - 1.0) * 100.0 / 253.0; },
    {0.3952569169960474, -0.3952569169960474}};

constexpr CodeRule kPercent16{
    [](double x, const data_convert *) { return code16(clamp_round(655.33 * x + 1.0, 1, 65534)); },
    [](uint16_t c, const data_convert *) { return c == 0 ? 0.0 : (c - 1.0) * 100.0 / 65533.0; },
    {0.0015259487586406848, -0.0015259487586406848}};

// The one list of which data type codes share a rule.
const CodeRule &rule_of(int type) {
    switch (type) {
        case 1:
        case 2:
        case 7:
        case 61:
        case 63:
        case 65:
        case 71:
        case 73:
            return kPower8;
        case 3:
            return kVelocity8;
        case 4:
            return kWidth8;
        case 5:
        case 57:
            return kZdr8;
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
            return kHundredthsAround32768;
        case 11:
            return kWidth16;
        case 13:
            return kRainTenThousandths;
        case 14:
            return kKdp8;
        case 16:
        case 50:
        case 52:
            return kPhase8;
        case 17:
            return kCorrectedVelocity8;
        case 18:
        case 19:
        case 46:
        case 48:
            return kCorrelation8;
        case 20:
        case 23:
        case 47:
        case 49:
            return kCorrelation16;
        case 24:
        case 51:
        case 53:
            return kPhase16;
        case 25:
        case 27:
            return kLdr8;
        case 29:
        case 38:
        case 39:
        case 55:
            return kCount8;
        case 30:
        case 54:
        case 56:
            return kCount16;
        case 31:
            return kRainUnits;
        case 32:
            return kHeightTenths8;
        case 33:
        case 69:
        case 70:
            return kThousandths16;
        case 35:
            return kFifthsFrom25_6;
        case 36:
        case 40:
            return kSignedThousandths16;
        case 37:
            return kRainThousandths;
        case 41:
        case 42:
            return kSignedHundredths16;
        case 43:
        case 44:
            return kDirectionTenths16;
        case 45:
            return kSixtieths16;
        case 60:
            return kHeightHundredths16;
        case 67:
            return kPercent8;
        case 68:
            return kPercent16;
        default:  // 0, 6, 34, and 75 and above
            return kNoValue;
    }
}

Scale scale_of(int type, const data_convert *conv) {
    const CodeRule &rule = rule_of(type);
    return rule.scale_of != nullptr ? rule.scale_of(type, conv) : rule.scale;
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
    return rule_of(type).encode(x, conv);
}

double fdata_to_user(uint16_t c, int type, const data_convert *conv) {
    return rule_of(type).decode(c, conv);
}

double fDataScalePerBit(int type, const data_convert *conv) {
    return scale_of(type, conv).step;
}

double fDataStartValue(int type, const data_convert *conv) {
    return scale_of(type, conv).start;
}

}  // extern "C"
