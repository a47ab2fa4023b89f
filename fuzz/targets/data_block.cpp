// Data blocks from the bytes of an ingest data file: the data header, then ray pointers and rays.
// An accepted block is read ray by ray, then widened to 16 bits and read again.
#include <cstring>

#include "fuzz_input.h"
#include "pvol_handles.h"

namespace {

uint64_t touch_rays(const dblock *block) {
    uint64_t sum = 0;
    radar_ray_data view;
    for (int p = 0; p < dblock_get_ray_count(block); ++p) {
        if (dblock_get_radar_ray_data(block, &view, p) == nullptr)
            continue;
        const auto *bytes = static_cast<const uint8_t *>(view.data);
        const uint64_t length = view.bins * (view.type == BITS_8 ? 1 : 2);
        for (uint64_t k = 0; k < length; ++k)
            sum += bytes[k];
    }
    return sum;
}

}  // namespace

int fuzz_one_input(const uint8_t *data, size_t size) {
    IDhdr header;
    if (size < sizeof header)
        return 0;
    std::memcpy(&header, data, sizeof header);
    BlockHandle block(dblock_new_from_ihdr(&header, data + sizeof header, size - sizeof header));
    if (block == nullptr)
        return 0;
    volatile uint64_t sum = touch_rays(block.get());
    ingest_header ih;
    std::memset(&ih, 0, sizeof ih);
    ih.tcf.dsp.iprf = 1000;
    ih.tcf.misc.iwavelength = 533;
    if (dblock_finalize(dblock_force_16_bit(block.get()), &ih) == 0)
        sum = sum + touch_rays(block.get());
    native_data_desc scale;
    dblock_get_scale(block.get(), &ih, &scale);
    (void)sum;
    return 1;
}
