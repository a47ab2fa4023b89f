#include "pipe_conversions.h"

#include <cstdint>

namespace azm {

namespace {

// The eight bytes starting at `bytes`, least significant first, as a two's-complement number.
std::int64_t little_endian_int64(const std::uint8_t *bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return static_cast<std::int64_t>(value);
}

}  // namespace

void set_uuid(pb::UUID &out, const boost::uuids::uuid &id) {
    out.set_least_significant_bits(little_endian_int64(id.data));
    out.set_most_significant_bits(little_endian_int64(id.data + 8));
}

timeval normalized(const timeval &time) {
    constexpr long kMicroseconds = 1000000;
    timeval out = time;
    out.tv_sec += time.tv_usec / kMicroseconds;
    out.tv_usec = time.tv_usec % kMicroseconds;
    if (out.tv_usec < 0) {
        out.tv_usec += kMicroseconds;
        --out.tv_sec;
    }
    return out;
}

void set_timeval(pb::Time &out, const timeval &time) {
    const timeval carried = normalized(time);
    out.set_esec(carried.tv_sec);
    out.set_usec(static_cast<std::uint64_t>(carried.tv_usec));
}

std::string buf2string(const char *bytes, std::size_t length) {
    std::string text(bytes, length);
    const std::size_t kept = text.find_last_not_of(" \t\f\v\n\r");
    text.erase(kept == std::string::npos ? 0 : kept + 1);
    return text;
}

void get_current_time(timeval *out) {
    gettimeofday(out, nullptr);
}

double rad2deg(double radians) {
    return 180.0 * radians / 3.141592653589793;
}

}  // namespace azm
