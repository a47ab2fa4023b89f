// Reading the sweep data of a published stream back: one decoding for rawpipe-summary and the
// publisher's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "wr_raw_data.pb.h"

namespace azm {

// The codes of a sweep data buffer, decompressed when LZ4-compressed, 8-bit codes widened to 16
// bits. Throws std::runtime_error when the buffer does not decompress to its stated size.
std::vector<std::uint16_t> codes_of(const pb::DataBuffer &buffer);

}  // namespace azm
