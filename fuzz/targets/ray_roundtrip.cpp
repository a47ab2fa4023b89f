// Compression then decompression of a ray must give the ray back, word for word.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "pvol_handles.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    std::vector<uint16_t> ray(size / 2);
    for (size_t i = 0; i < ray.size(); ++i)
        ray[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    // Worst case: one count word per literal run of at most 32767 words, and the end code; the
    // records lose 6 header words each.
    const uint64_t packed = ray.size() + ray.size() / PKCODE_MAX_RUN + 2;
    const uint64_t records = packed / 3066 + 1;
    std::vector<uint16_t> buffer(records * 3072);
    StreamHandle writer(i16stream_new_bufrecord(buffer.data(), buffer.size(), 2));
    if (i16stream_pack(writer.get(), ray.data(), ray.size()) != ray.size())
        std::abort();
    writer.reset();

    StreamHandle reader(i16stream_new_bufrecord(buffer.data(), buffer.size(), 2));
    std::vector<uint16_t> back(ray.size() + 1);
    const int64_t words = i16stream_unpack(reader.get(), back.data(), back.size());
    reader.reset();
    if (words != static_cast<int64_t>(ray.size()) ||
        !std::equal(ray.begin(), ray.end(), back.begin()))
        std::abort();
    return 1;
}
