// "%.16g" without printf: the 16 digits come from exact 128-bit integer arithmetic on the binary
// value, so they are correctly rounded as printf rounds them (ties to even). Values outside the
// range done so (below 1e-7, from 2^52 up, subnormal, infinite, NaN) go to std::to_chars, which
// gives the same text more slowly.
#include "number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace azm {

namespace {

using u128 = unsigned __int128;

constexpr int significant = 16;
constexpr std::uint64_t lowest_digits = 1'000'000'000'000'000;  // 10^15
constexpr std::uint64_t digits_end = 10 * lowest_digits;        // 10^16
constexpr int most_scale = 22;                                  // 2^53 * 10^22 still fits 127 bits

constexpr std::array<u128, most_scale + 1> powers_of_ten = [] {
    std::array<u128, most_scale + 1> powers{};
    powers[0] = 1;
    for (int i = 1; i <= most_scale; ++i) {
        powers[i] = powers[i - 1] * 10;
    }
    return powers;
}();

// The 16 significant digits of a positive finite value, rounded, as an integer from 10^15 to
// below 10^16, and the decimal exponent of the first; false outside the range done here.
bool roundedDigits(double value, std::uint64_t &digits, int &exponent) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0 || biased == 0x7ff) {
        return false;
    }
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
    const int shift = 1075 - biased;  // value = mantissa / 2^shift
    if (shift <= 0 || shift > 127) {
        return false;
    }
    // The estimate may be one off near powers of ten; the range check below corrects it.
    int guess = static_cast<int>(std::floor(std::log10(value)));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int scale = significant - 1 - guess;
        if (scale < 0 || scale > most_scale) {
            return false;
        }
        const u128 scaled = static_cast<u128>(mantissa) * powers_of_ten[scale];
        const u128 whole = scaled >> shift;
        if (whole < lowest_digits) {
            --guess;
            continue;
        }
        if (whole >= digits_end) {
            ++guess;
            continue;
        }
        const u128 rest = scaled - (whole << shift);
        const u128 half = static_cast<u128>(1) << (shift - 1);
        auto rounded = static_cast<std::uint64_t>(whole);
        if (rest > half || (rest == half && (rounded & 1) != 0)) {
            ++rounded;
        }
        if (rounded == digits_end) {
            rounded = lowest_digits;
            ++guess;
        }
        digits = rounded;
        exponent = guess;
        return true;
    }
    return false;
}

// %g's layout of the digits: fixed for exponents from -4 to 15, else d.ddde±XX; trailing zeros
// and a bare point dropped.
char *layOut(char *to, std::uint64_t digits, int exponent) {
    char text[significant];
    for (int i = significant - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int kept = significant;
    while (kept > 1 && text[kept - 1] == '0') {
        --kept;
    }
    if (exponent < -4 || exponent >= significant) {
        *to++ = text[0];
        if (kept > 1) {
            *to++ = '.';
            std::memcpy(to, text + 1, kept - 1);
            to += kept - 1;
        }
        *to++ = 'e';
        *to++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude < 10) {
            *to++ = '0';
        }
        return std::to_chars(to, to + 4, magnitude).ptr;
    }
    if (exponent >= 0) {
        const int whole = exponent + 1;
        std::memcpy(to, text, whole);
        to += whole;
        if (kept > whole) {
            *to++ = '.';
            std::memcpy(to, text + whole, kept - whole);
            to += kept - whole;
        }
        return to;
    }
    *to++ = '0';
    *to++ = '.';
    for (int i = 0; i < -exponent - 1; ++i) {
        *to++ = '0';
    }
    std::memcpy(to, text, kept);
    return to + kept;
}

}  // namespace

char *number16Text(char *to, double value) {
    std::uint64_t digits;
    int exponent;
    if (value != 0.0 && roundedDigits(std::fabs(value), digits, exponent)) {
        if (std::signbit(value)) {
            *to++ = '-';
        }
        return layOut(to, digits, exponent);
    }
    return std::to_chars(to, to + number16_text_room, value, std::chars_format::general,
                         significant)
        .ptr;
}

}  // namespace azm
