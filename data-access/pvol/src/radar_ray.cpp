// Rays: angles, time, position, and the bins of every moment in their native storage.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "pvol_check.h"
#include "pvol/radar_ray.h"
#include "radar_ray_internal.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr angle_interval kNoAngles{kNaN, kNaN, kNaN};

const radar_moment &moment_of(const radar_ray *ray, uint64_t slot) {
    return ray->config->moment[slot];
}

// Fills bins first to the end of buffer with the moment's "no data" code.
void fill_not_scanned(radar_ray_data *buffer, const native_data_desc &scale, uint64_t first) {
    switch (buffer->type) {
        case BITS_8:
            if (first < buffer->bins) {
                std::memset(static_cast<uint8_t *>(buffer->data) + first,
                            static_cast<uint8_t>(scale.not_scanned & 0xff), buffer->bins - first);
            }
            break;
        case BITS_16: {
            // Every ray of a volume passes here once per moment: the usual codes (0, 0xFFFF) have
            // two equal bytes and take memset's speed.
            auto *bins = static_cast<uint16_t *>(buffer->data);
            const uint16_t code = scale.not_scanned;
            if (first >= buffer->bins) {
                break;
            }
            if ((code & 0xff) == (code >> 8)) {
                std::memset(bins + first, code & 0xff, (buffer->bins - first) * sizeof *bins);
            } else {
                std::fill(bins + first, bins + buffer->bins, code);
            }
            break;
        }
        case BITS_32: {
            auto *bins = static_cast<float *>(buffer->data);
            for (uint64_t i = first; i < buffer->bins; ++i) {
                bins[i] = std::numeric_limits<float>::quiet_NaN();
            }
            break;
        }
        case BITS_64: {
            auto *bins = static_cast<double *>(buffer->data);
            for (uint64_t i = first; i < buffer->bins; ++i)
                bins[i] = kNaN;
            break;
        }
        default:
            break;
    }
}

// A bin buffer for the moment, filled with "no data" so that a moment never filled reads as
// such instead of as stale memory. Null when out of memory.
radar_ray_data *new_bins(const radar_moment &moment) {
    radar_ray_data *buffer = radar_ray_data_new();
    if (buffer == nullptr)
        return nullptr;
    if (radar_ray_data_resize(buffer, moment.scale.bin_format, moment.range_mask.count) ==
        nullptr) {
        radar_ray_data_delete(buffer);
        return nullptr;
    }
    fill_not_scanned(buffer, moment.scale, 0);
    return buffer;
}

void check_moment(const radar_ray *ray, uint64_t i) {
    PVOL_CHECK(ray->config->moment[i].type != RD_ANY);
    PVOL_CHECK(ray->config->moment[i].scale.bin_format != BITS_UNKNOWN);
}

// Gives the ray one slot per moment of its configuration (configurations may gain moments after
// the ray was made). False when out of memory, the ray then unchanged.
bool grow_slots(radar_ray *ray) {
    const uint64_t wanted = ray->config->moments_count;
    if (ray->count >= wanted)
        return true;
    auto *grown =
        static_cast<radar_ray_data **>(std::realloc(ray->data, wanted * sizeof(radar_ray_data *)));
    if (grown == nullptr)
        return false;
    ray->data = grown;
    for (uint64_t i = ray->count; i < wanted; ++i) {
        check_moment(ray, i);
        ray->data[i] = new_bins(moment_of(ray, i));
        if (ray->data[i] == nullptr) {
            for (uint64_t j = ray->count; j < i; ++j)
                radar_ray_data_delete(ray->data[j]);
            return false;
        }
    }
    ray->count = wanted;
    return true;
}

// The slot's bins, or null for a slot out of range or without bins.
radar_ray_data *slot_bins(const radar_ray *ray, int slot) {
    if (slot < 0 || static_cast<uint64_t>(slot) >= ray->count)
        return nullptr;
    return ray->data[slot];
}

// The bins of a slot about to be written, after the ray has gained the slots of moments added to
// its configuration since; null for a slot out of range or when out of memory.
radar_ray_data *writable_slot_bins(radar_ray *ray, int slot) {
    if (slot < 0 || !grow_slots(ray))
        return nullptr;
    return slot_bins(ray, slot);
}

// The code stored for physical value v on an 8- or 16-bit scale.
uint32_t code_of(double v, const native_data_desc &scale) {
    if (std::isnan(v))
        return scale.not_scanned;
    if (v == std::numeric_limits<double>::infinity())
        return scale.max_value;
    if (v == -std::numeric_limits<double>::infinity())
        return scale.under_threshold;
    const double steps = (v - scale.offset) / scale.step;
    // Beyond the int range the truncation is undefined: far above the scale counts as its top,
    // far below (or a degenerate step) as below threshold.
    if (steps >= 2147483648.0)
        return scale.max_value;
    if (!(steps > -2147483649.0))
        return scale.under_threshold;
    const int code = static_cast<int>(steps);
    if (code < static_cast<int>(scale.min_value))
        return scale.under_threshold;
    // No upper clamp: the code is stored in its width and wraps above the scale.
    return static_cast<uint32_t>(code);
}

double value_of(uint32_t code, const native_data_desc &scale) {
    if (code == scale.not_scanned)
        return kNaN;
    if (code == scale.under_threshold)
        return -std::numeric_limits<double>::infinity();
    return code * scale.step + scale.offset;
}

}  // namespace

radar_ray *rray_new(radar_ray_conf *config, const angle_interval *azimuth,
                    const angle_interval *elevation, const struct timeval *time,
                    rposition *position, int position_index) {
    if (config == nullptr || config->moments_count == 0)
        return nullptr;
    auto *ray = static_cast<radar_ray *>(std::calloc(1, sizeof(radar_ray)));
    if (ray == nullptr)
        return nullptr;
    ray->index = -1;
    ray->azimuth = azimuth != nullptr ? *azimuth : kNoAngles;
    ray->elevation = elevation != nullptr ? *elevation : kNoAngles;
    if (time != nullptr)
        ray->time = *time;
    ray->position_index = -1;
    ray->config = rayconf_ref(config);
    if (!grow_slots(ray)) {
        rray_delete(ray);
        return nullptr;
    }
    if (position != nullptr) {
        ray->position = rposition_ref(position);
        ray->position_index = position_index;
    }
    return ray;
}

radar_ray *rray_new_copy(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    radar_ray *copy = rray_new(ray->config, &ray->azimuth, &ray->elevation, &ray->time,
                               ray->position, ray->position_index);
    if (copy == nullptr)
        return nullptr;
    const uint64_t slots = ray->count < copy->count ? ray->count : copy->count;
    for (uint64_t i = 0; i < slots; ++i) {
        const radar_ray_data *from = ray->data[i];
        radar_ray_data *to = copy->data[i];
        if (from == nullptr || to == nullptr)
            continue;
        const uint64_t bins = from->bins < to->bins ? from->bins : to->bins;
        if (bins > 0)
            std::memcpy(to->data, from->data, bins * bin_format_width(to->type));
    }
    return copy;
}

void rray_delete(radar_ray *ray) {
    if (ray == nullptr)
        return;
    for (uint64_t i = 0; i < ray->count; ++i)
        radar_ray_data_delete(ray->data[i]);
    std::free(ray->data);
    std::free(ray->exthdr);
    rposition_unref(ray->position);
    rayconf_unref(ray->config);
    std::free(ray);
}

radar_ray_conf *rray_get_config(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    return ray->config;
}

rposition *rray_get_position(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    return ray->position;
}

int rray_get_index(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    return ray->index;
}

int rray_set_index(radar_ray *ray, int index) {
    PVOL_CHECK(ray != nullptr);
    ray->index = index;
    return ray->index;
}

angle_interval rray_get_azimuth(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    return ray->azimuth;
}

angle_interval rray_get_elevation(const radar_ray *ray) {
    PVOL_CHECK(ray != nullptr);
    return ray->elevation;
}

struct timeval *rray_get_time(const radar_ray *ray, struct timeval *out) {
    PVOL_CHECK(ray != nullptr);
    *out = ray->time;
    return out;
}

int rray_set_time(radar_ray *ray, const struct timeval *time) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK(time != nullptr);
    ray->time = *time;
    return 0;
}

int rray_set_position(radar_ray *ray, rposition *position, int position_index) {
    PVOL_CHECK(ray != nullptr);
    // Take the new reference first: position may be the one held already.
    if (position != nullptr)
        rposition_ref(position);
    rposition_unref(ray->position);
    ray->position = position;
    ray->position_index = position != nullptr ? position_index : -1;
    return 0;
}

int rray_add_exthdr(radar_ray *ray, const void *bytes) {
    PVOL_CHECK(ray != nullptr);
    const uint64_t size = ray->config->exthdr_size;
    if (size == 0 || ray->exthdr != nullptr || bytes == nullptr)
        return 0;
    ray->exthdr = static_cast<unsigned char *>(std::malloc(size));
    if (ray->exthdr != nullptr)
        std::memcpy(ray->exthdr, bytes, size);
    return 0;
}

void *rray_get_exthdr(const radar_ray *ray, void *out) {
    PVOL_CHECK(ray != nullptr);
    const uint64_t size = ray->config->exthdr_size;
    if (size == 0 || ray->exthdr == nullptr || out == nullptr)
        return nullptr;
    std::memcpy(out, ray->exthdr, size);
    return out;
}

radar_ray_conf *rray_swap_config(radar_ray *ray, radar_ray_conf *new_conf,
                                 radar_ray_conf *old_conf) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK_TEXT(new_conf != nullptr, "new != ((void *)0)");
    PVOL_CHECK_TEXT(old_conf != nullptr, "old != ((void *)0)");
    PVOL_CHECK_TEXT(old_conf != new_conf, "old != new");
    if (ray->config != old_conf)
        return nullptr;
    ray->config = rayconf_ref(new_conf);
    rayconf_unref(old_conf);
    return new_conf;
}

radar_ray_data *rray_get_native(const radar_ray *ray, int slot, radar_ray_data *buffer) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK(buffer != nullptr);
    const radar_ray_data *bins = slot_bins(ray, slot);
    if (bins == nullptr)
        return nullptr;
    if (radar_ray_data_resize(buffer, bins->type, bins->bins) == nullptr)
        return nullptr;
    if (bins->type == BITS_32) {
        buffer->bins = 0;
        return buffer;
    }
    if (bins->bins > 0) {
        std::memcpy(buffer->data, bins->data, bins->bins * bin_format_width(bins->type));
    }
    return buffer;
}

int rray_set_from_native(radar_ray *ray, int slot, const radar_ray_data *dray) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK(dray != nullptr);
    radar_ray_data *bins = writable_slot_bins(ray, slot);
    if (bins == nullptr)
        return 1;
    const native_data_desc &scale = moment_of(ray, slot).scale;
    const int bin_type = scale.bin_format;
    const uint64_t ray_max_length = bins->bins;
    PVOL_CHECK(bin_type == dray->type);
    PVOL_CHECK(ray_max_length >= dray->bins);
    if (bin_type == BITS_32)
        return -1;
    if (dray->bins > 0)
        std::memcpy(bins->data, dray->data, dray->bins * bin_format_width(bin_type));
    fill_not_scanned(bins, scale, dray->bins);
    return 0;
}

radar_ray_data *rray_get_dat(const radar_ray *ray, int slot, radar_ray_data *buffer) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK(buffer != nullptr);
    const radar_ray_data *bins = slot_bins(ray, slot);
    if (bins == nullptr)
        return nullptr;
    if (radar_ray_data_resize(buffer, BITS_64, bins->bins) == nullptr)
        return nullptr;
    const native_data_desc &scale = moment_of(ray, slot).scale;
    auto *out = static_cast<double *>(buffer->data);
    switch (bins->type) {
        case BITS_8: {
            const auto *codes = static_cast<const uint8_t *>(bins->data);
            for (uint64_t i = 0; i < bins->bins; ++i)
                out[i] = value_of(codes[i], scale);
            break;
        }
        case BITS_16: {
            const auto *codes = static_cast<const uint16_t *>(bins->data);
            for (uint64_t i = 0; i < bins->bins; ++i)
                out[i] = value_of(codes[i], scale);
            break;
        }
        case BITS_32: {
            const auto *values = static_cast<const float *>(bins->data);
            for (uint64_t i = 0; i < bins->bins; ++i)
                out[i] = values[i];
            break;
        }
        case BITS_64:
            if (bins->bins > 0)
                std::memcpy(out, bins->data, bins->bins * sizeof(double));
            break;
        default:
            PVOL_CHECK_TEXT(false, "bin format of the ray's moment is valid");
    }
    return buffer;
}

int rray_set_dat(radar_ray *ray, int slot, const radar_ray_data *dray) {
    PVOL_CHECK(ray != nullptr);
    PVOL_CHECK(dray != nullptr);
    radar_ray_data *bins = writable_slot_bins(ray, slot);
    if (bins == nullptr)
        return 1;
    const uint64_t ray_length = bins->bins;
    PVOL_CHECK(dray->bins <= ray_length);
    // Physical values come as doubles; reading another format as doubles would overrun it.
    PVOL_CHECK(dray->bins == 0 || dray->type == BITS_64);
    const native_data_desc &scale = moment_of(ray, slot).scale;
    const auto *values = static_cast<const double *>(dray->data);
    auto value = [&](uint64_t i) { return i < dray->bins ? values[i] : kNaN; };
    switch (bins->type) {
        case BITS_8: {
            auto *codes = static_cast<uint8_t *>(bins->data);
            for (uint64_t i = 0; i < ray_length; ++i) {
                codes[i] = static_cast<uint8_t>(code_of(value(i), scale) & 0xffu);
            }
            break;
        }
        case BITS_16: {
            auto *codes = static_cast<uint16_t *>(bins->data);
            for (uint64_t i = 0; i < ray_length; ++i) {
                codes[i] = static_cast<uint16_t>(code_of(value(i), scale) & 0xffffu);
            }
            break;
        }
        case BITS_32: {
            auto *out = static_cast<float *>(bins->data);
            for (uint64_t i = 0; i < ray_length; ++i)
                out[i] = static_cast<float>(value(i));
            break;
        }
        case BITS_64: {
            auto *out = static_cast<double *>(bins->data);
            for (uint64_t i = 0; i < ray_length; ++i)
                out[i] = value(i);
            break;
        }
        default:
            PVOL_CHECK_TEXT(false, "bin format of the ray's moment is valid");
    }
    return 0;
}
