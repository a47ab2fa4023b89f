// Range mask arithmetic and data scale comparison for the RAW writer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "pvol_check.h"
#include "pvol_save_internal.h"
#include "radar_utils_internal.h"

static_assert(sizeof(native_data_desc) == 32, "data scales compare as 32 bytes");

namespace {

double mask_end(const dscan &mask) {
    return static_cast<double>(mask.count) * mask.step + mask.start;
}

// Nearest whole count, half up; NaN and negative values give 0.
uint64_t round_count(double value) {
    const double rounded = std::floor(value + 0.5);
    if (!(rounded > 0))
        return 0;
    if (rounded >= 18446744073709551616.0)
        return UINT64_MAX;
    return static_cast<uint64_t>(rounded);
}

}  // namespace

dscan *rayconf_merged_range_mask(const radar_ray_conf *rconf, dscan *out) {
    *out = dscan{NAN, NAN, 0};
    const uint64_t moments = rayconf_get_moments_count(rconf);
    for (uint64_t i = 0; i < moments; ++i) {
        dscan mask;
        rmoment_get_range_mask(rayconf_get_moment(rconf, static_cast<int>(i)), &mask);
        if (i == 0)
            *out = mask;
        else
            dscan_merge(out, &mask);
    }
    return out;
}

extern "C" {

double dscan_get_val(const dscan *mask, int index) {
    PVOL_CHECK(mask != nullptr);
    return mask->start + index * mask->step;
}

int dscan_get_pos(const dscan *mask, double value) {
    PVOL_CHECK(mask != nullptr);
    return pvol_internal::round_half_up_to_int((value - mask->start) / mask->step);
}

int dscan_compare(const dscan *a, const dscan *b) {
    PVOL_CHECK(a != nullptr && b != nullptr);
    return a->start == b->start && a->step == b->step && a->count == b->count ? 0 : 1;
}

dscan *dscan_merge(dscan *a, const dscan *b) {
    PVOL_CHECK(a != nullptr && b != nullptr);
    if (dscan_compare(a, b) == 0)
        return a;
    const double end = std::max(mask_end(*a), mask_end(*b));
    a->start = std::min(a->start, b->start);
    a->step = std::min(a->step, b->step);
    a->count = round_count((end - a->start) / a->step);
    return a;
}

int native_data_desc_compare(const native_data_desc *a, const native_data_desc *b) {
    PVOL_CHECK(a != nullptr && b != nullptr);
    return std::memcmp(a, b, sizeof *a) == 0 ? 0 : 1;
}

}  // extern "C"
