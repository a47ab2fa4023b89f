// Decompression of rays from records in memory: the first two bytes give the capacity of the
// ray buffer, the rest are records. Rays are unpacked until the stream is malformed or ends.
#include <vector>

#include "fuzz_input.h"
#include "pvol_handles.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    const uint64_t capacity = data[0] | (data[1] << 8);
    std::vector<uint16_t> records((size - 2) / 2);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = static_cast<uint16_t>(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
    StreamHandle stream(i16stream_new_bufrecord(records.data(), records.size(), 2));
    if (stream == nullptr)  // no words at all
        return 0;
    std::vector<uint16_t> ray(capacity);
    int rays = 0;
    for (;;) {
        const int64_t words = i16stream_unpack(stream.get(), ray.data(), capacity);
        if (words < 0)
            break;
        ++rays;
    }
    return rays > 0;
}
