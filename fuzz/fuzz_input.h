// Helpers shared by the fuzz targets: several files in one input, files over memory, and a walk
// over everything a reader built so that every byte it kept is touched.
#ifndef AZM_FUZZ_FUZZ_INPUT_H
#define AZM_FUZZ_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "pvol/pvol.h"
#include "pvol_handles.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Files of one input are joined by this marker (also in the dictionaries).
constexpr std::string_view kFileSeparator = "--next-file--";

inline std::vector<Bytes> split_files(const uint8_t *data, size_t size) {
    std::vector<Bytes> files;
    const auto *end = data + size;
    const auto *start = data;
    for (;;) {
        const auto *hit = std::search(start, end, kFileSeparator.begin(), kFileSeparator.end());
        files.emplace_back(start, hit);
        if (hit == end)
            break;
        start = hit + kFileSeparator.size();
    }
    return files;
}

inline Bytes join_files(const std::vector<Bytes> &files) {
    Bytes out;
    for (size_t i = 0; i < files.size(); ++i) {
        if (i > 0)
            out.insert(out.end(), kFileSeparator.begin(), kFileSeparator.end());
        out.insert(out.end(), files[i].begin(), files[i].end());
    }
    return out;
}

// Hands out the files one by one, opened over memory; null after the last one. The readers
// close every file they get.
struct MemoryFiles {
    std::vector<Bytes> files;
    size_t next = 0;

    FILE *open_next() {
        if (next >= files.size())
            return nullptr;
        Bytes &bytes = files[next++];
        // fmemopen refuses an empty buffer: an empty file is a file holding nothing to read.
        if (bytes.empty())
            return std::tmpfile();
        return fmemopen(bytes.data(), bytes.size(), "rb");
    }
    static FILE *next_file(void *arg) { return static_cast<MemoryFiles *>(arg)->open_next(); }
    static FILE *next_ingest_file(void *arg, int, int, int, int) { return next_file(arg); }
};

inline void ignore_message(const char *) {}

// Reads every bin of every moment of every ray, so that the sanitizers check what a reader kept.
// Returns a checksum that the caller hands on, so nothing is optimised away.
inline uint64_t touch_scan(const radar_scan *scan) {
    uint64_t sum = 0;
    RayDataHandle buffer(radar_ray_data_new());
    for (const radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        for (uint64_t r = 0; r < rsweep_get_ray_count(sweep); ++r) {
            const radar_ray *ray = rsweep_get_ray(sweep, static_cast<int>(r));
            if (ray == nullptr)
                continue;
            const uint64_t moments = rayconf_get_moments_count(rray_get_config(ray));
            for (uint64_t m = 0; m < moments; ++m) {
                if (rray_get_native(ray, static_cast<int>(m), buffer.get()) == nullptr)
                    continue;
                const auto *bytes = static_cast<const uint8_t *>(buffer->data);
                const uint64_t length = buffer->bins * (buffer->type == BITS_8 ? 1 : 2);
                for (uint64_t k = 0; k < length; ++k)
                    sum += bytes[k];
            }
        }
    }
    return sum;
}

// The result of a reader target: 0 for a refused input (no scan); else 1, after every value of
// the scan was read.
inline int accepted(const ScanHandle &scan) {
    if (scan == nullptr)
        return 0;
    volatile uint64_t sum = touch_scan(scan.get());
    (void)sum;
    return 1;
}

}  // namespace fuzz

// Each target defines this: runs one input, returns 1 when the reader accepted it and 0 when it
// refused it cleanly.
int fuzz_one_input(const uint8_t *data, size_t size);

#endif  // AZM_FUZZ_FUZZ_INPUT_H
