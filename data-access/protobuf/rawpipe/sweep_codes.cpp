#include "sweep_codes.h"

#include <lz4.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace azm {

std::vector<std::uint16_t> codes_of(const pb::DataBuffer &buffer) {
    std::string bytes = buffer.data();
    if (buffer.compression() == pb::DataBuffer::LZ4) {
        if (buffer.uncompressed_size() < 0)
            throw std::runtime_error("negative uncompressed size");
        std::string out(static_cast<std::size_t>(buffer.uncompressed_size()), '\0');
        const int n = LZ4_decompress_safe(bytes.data(), out.data(), static_cast<int>(bytes.size()),
                                          static_cast<int>(out.size()));
        if (n != buffer.uncompressed_size())
            throw std::runtime_error("sweep data do not decompress to their size");
        bytes = std::move(out);
    }
    std::vector<std::uint16_t> codes;
    if (buffer.type() == pb::DataBuffer::UINT8) {
        for (const char c : bytes)
            codes.push_back(static_cast<unsigned char>(c));
    } else {
        for (std::size_t k = 0; k + 1 < bytes.size(); k += 2)
            codes.push_back(
                static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[k]) |
                                           static_cast<unsigned char>(bytes[k + 1]) << 8));
    }
    return codes;
}

}  // namespace azm
