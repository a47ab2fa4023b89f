// Conversions the publisher classes share: identifiers and times into their stream messages, texts
// out of fixed-width file fields, the clock and angles.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <string>

#include <boost/uuid/uuid.hpp>

#include "component_time.pb.h"
#include "component_uuid.pb.h"

namespace azm {

// Fills both halves of `out` from the 16 identifier bytes, packed little-endian: byte i (0 to 7)
// into bits 8i to 8i+7 of least_significant_bits, byte 8+j into bits 8j to 8j+7 of
// most_significant_bits. A half whose top byte is 0x80 or more reads as negative.
void set_uuid(pb::UUID &out, const boost::uuids::uuid &id);

// The same instant with the microseconds in 0..999999: a milliseconds field of 1000 to 1023 in an
// ORVA time record gives more than a second of microseconds, which carry into the seconds.
timeval normalized(const timeval &time);

// Fills `out` from a POSIX time: esec from the seconds, usec from the microseconds, normalised
// first, so that usec is always below one million.
void set_timeval(pb::Time &out, const timeval &time);

// Exactly `length` bytes from `bytes`, less trailing blanks, tabs, form feeds, vertical tabs,
// newlines and carriage returns. NUL bytes are ordinary characters and stay.
std::string buf2string(const char *bytes, std::size_t length);

// The wall-clock time now.
void get_current_time(timeval *out);

// Radians to degrees.
double rad2deg(double radians);

}  // namespace azm
