// Ray configurations, moments, bin buffers and the moment type table.
#include <cstdlib>
#include <cstring>

#include "attribute_slot.h"
#include "config_set_internal.h"
#include "pvol_check.h"
#include "pvol/radar_ray.h"
#include "radar_ray_internal.h"

using namespace pvol_internal;

const raw_data_type_desc raw_data_types[RAW_DATA_TYPES_COUNT] = {
    {RD_XHDR, 0, 0, "Xhdr", "Xhdr", "Extended Header"},
    {RD_ANY, 34, 34, "Null", "Null", "Not Applicable"},
    {RD_DBT, 1, 8, "dBT", "dBT2", "Total Power"},
    {RD_DBTV, 61, 62, "dBTV", "dBTV2", "Total V Power"},
    {RD_DBTE, 71, 72, "dBTE", "dBTE2", "Total Power, HV Enhanced"},
    {RD_DBZ, 2, 9, "dBZ", "dBZ2", "Clutter Corrected Reflectivity"},
    {RD_DBZV, 63, 64, "dBZV", "dBZV2", "Clutter Corrected V Reflectivity"},
    {RD_DBZE, 73, 74, "dBZE", "dBZE2", "Clutter Corrected Reflectivity, HV Enhanced"},
    {RD_DBZC, 7, 21, "dBZc", "dBZc2", "Fully Corrected Reflectivity"},
    {RD_SNR, 65, 66, "SNR", "SNR2", "Signal to Noise Ratio"},
    {RD_VEL, 3, 10, "V", "V2", "Velocity"},
    {RD_VELC, 17, 22, "Vc", "Vc2", "Corrected Velocity"},
    {RD_WIDTH, 4, 11, "W", "W2", "Spectral Width"},
    {RD_SQI, 18, 23, "SQI", "SQI2", "Signal Quality Index"},
    {RD_ZDR, 5, 12, "ZDR", "ZDR2", "Differential Reflectivity"},
    {RD_ZDRC, 57, 58, "ZDRc", "ZDRc2", "Corrected Differential Reflectivity"},
    {RD_RHOHV, 19, 20, "RhoHV", "RhoHV2", "Correlation between HH and VV channels"},
    {RD_PHIDP, 16, 24, "PhiDP", "PhiDP2", "Differential Phase"},
    {RD_KDP, 14, 15, "Kdp", "Kdp2", "Specific Differential Phase"},
    {RD_LDRH, 25, 26, "LDRH", "LDRH2", "Linear Depolarization Ratio H to V"},
    {RD_LDRV, 27, 28, "LDRV", "LDRV2", "Linear Depolarization Ratio V to H"},
    {RD_RHOH, 46, 47, "RhoH", "RhoH2", "Correlation between HH and HV channels"},
    {RD_RHOV, 48, 49, "RhoV", "RhoV2", "Correlation between VV and VH channels"},
    {RD_PHIH, 50, 51, "PhiH", "PhiH2", "Phase difference between HH and HV channels"},
    {RD_PHIV, 52, 53, "PhiV", "PhiV2", "Phase difference between VV and VH channels"},
    {RD_HCLASS, 55, 56, "HClass", "HCl2", "Hydrological Classification"},
};

// ---------------------------------------------------------------------------------------------
// Bin buffers

uint64_t bin_format_width(int format) {
    switch (format) {
        case BITS_8:
            return 1;
        case BITS_16:
            return 2;
        case BITS_32:
            return 4;
        case BITS_64:
            return 8;
        default:
            return 0;
    }
}

radar_ray_data *radar_ray_data_new(void) {
    return static_cast<radar_ray_data *>(std::calloc(1, sizeof(radar_ray_data)));
}

void radar_ray_data_delete(radar_ray_data *buffer) {
    if (buffer == nullptr)
        return;
    std::free(buffer->data);
    std::free(buffer);
}

radar_ray_data *radar_ray_data_resize(radar_ray_data *buffer, int format, uint64_t bins) {
    PVOL_CHECK(buffer != nullptr);
    const uint64_t width = bin_format_width(format);
    if (width == 0)
        return nullptr;
    if (bins > UINT64_MAX / width)
        return nullptr;
    const uint64_t needed = bins * width;
    if (buffer->capacity < needed) {
        void *grown = std::realloc(buffer->data, needed);
        if (grown == nullptr)
            return nullptr;
        buffer->data = grown;
        buffer->capacity = needed;
    }
    buffer->type = format;
    buffer->bins = bins;
    return buffer;
}

// ---------------------------------------------------------------------------------------------
// Configurations and moments

namespace {

void free_moment_texts(radar_moment *moment) {
    std::free(moment->name);
    std::free(moment->units);
}

// Appends a moment; -1 when out of memory (configuration unchanged), else its index.
int append_moment(radar_ray_conf *rconf, const radar_moment &moment) {
    auto *grown = static_cast<radar_moment *>(
        std::realloc(rconf->moment, (rconf->moments_count + 1) * sizeof(radar_moment)));
    if (grown == nullptr)
        return -1;
    rconf->moment = grown;
    rconf->moment[rconf->moments_count] = moment;
    return static_cast<int>(rconf->moments_count++);
}

bool same_optional_text(const char *a, const char *b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    return std::strcmp(a, b) == 0;
}

template <typename T>
bool same_bits(const T &a, const T &b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool rmoment_compare(const radar_moment &a, const radar_moment &b) {
    return a.type == b.type && same_optional_text(a.name, b.name) &&
           same_optional_text(a.units, b.units) && same_bits(a.range_mask, b.range_mask) &&
           same_bits(a.scale, b.scale);
}

}  // namespace

radar_ray_conf *rayconf_new(double prf, double rf_freq, double nyquist_vel, double unamb_range,
                            double pulse_width, int pulses_per_ray, double radar_const,
                            double calib_const, double gas_atten, int tx_polarization) {
    auto *rconf = static_cast<radar_ray_conf *>(std::calloc(1, sizeof(radar_ray_conf)));
    if (rconf == nullptr)
        return nullptr;
    rconf->ref = 1;
    dllist_init_node(&rconf->node);
    rconf->prf = prf;
    rconf->rf_freq = rf_freq;
    rconf->nyquist_vel = nyquist_vel;
    rconf->unamb_range = unamb_range;
    rconf->pulse_width = pulse_width;
    rconf->pulses_per_ray = pulses_per_ray;
    rconf->radar_const = radar_const;
    rconf->calib_const = calib_const;
    rconf->gas_atten = gas_atten;
    rconf->tx_polarization = tx_polarization;
    for (int32_t &index : rconf->moment_index)
        index = -1;
    return rconf;
}

bool rayconf_equivalent(const radar_ray_conf *a, const radar_ray_conf *b) {
    return rayconf_compare(a, b) && rayconf_compare(b, a);
}

radar_ray_conf *rayconf_new_copy(const radar_ray_conf *rconf) {
    PVOL_CHECK(rconf != nullptr);
    auto *copy = static_cast<radar_ray_conf *>(std::malloc(sizeof(radar_ray_conf)));
    if (copy == nullptr)
        return nullptr;
    *copy = *rconf;
    copy->ref = 1;
    dllist_init_node(&copy->node);
    copy->moment = nullptr;
    copy->moments_count = 0;
    copy->attributes = nullptr;
    bool ok = true;
    if (rconf->attributes != nullptr) {
        copy->attributes = cfgset_new_copy(rconf->attributes);
        ok = copy->attributes != nullptr;
    }
    for (uint64_t i = 0; ok && i < rconf->moments_count; ++i) {
        radar_moment moment = rconf->moment[i];
        moment.name = moment.name != nullptr ? ::strdup(moment.name) : nullptr;
        moment.units = moment.units != nullptr ? ::strdup(moment.units) : nullptr;
        ok = (moment.name != nullptr) == (rconf->moment[i].name != nullptr) &&
             (moment.units != nullptr) == (rconf->moment[i].units != nullptr) &&
             append_moment(copy, moment) >= 0;
        if (!ok)
            free_moment_texts(&moment);
    }
    if (!ok) {
        rayconf_unref(copy);
        return nullptr;
    }
    return copy;
}

int rayconf_add_moment(radar_ray_conf *rconf, int type, const dscan *range_mask,
                       const native_data_desc *scale) {
    PVOL_CHECK(rconf != nullptr);
    if (type < RD_DBT || type > RD_HCLASS)
        return -1;
    PVOL_CHECK(range_mask != nullptr);
    PVOL_CHECK(scale != nullptr);
    radar_moment moment{};
    moment.type = type;
    moment.range_mask = *range_mask;
    moment.scale = *scale;
    const int index = append_moment(rconf, moment);
    if (index >= 0)
        rconf->moment_index[type] = index;
    return index;
}

int rayconf_add_custom_moment(radar_ray_conf *rconf, const char *name, const char *units,
                              const dscan *range_mask) {
    PVOL_CHECK(rconf != nullptr);
    if (name == nullptr || units == nullptr)
        return -1;
    PVOL_CHECK(range_mask != nullptr);
    radar_moment moment{};
    moment.type = RD_CUSTOM;
    moment.range_mask = *range_mask;
    moment.scale.bin_format = BITS_64;
    moment.name = ::strdup(name);
    moment.units = ::strdup(units);
    int index = -1;
    if (moment.name != nullptr && moment.units != nullptr)
        index = append_moment(rconf, moment);
    if (index < 0)
        free_moment_texts(&moment);
    return index;
}

uint64_t rayconf_get_moments_count(const radar_ray_conf *rconf) {
    PVOL_CHECK(rconf != nullptr);
    return rconf->moments_count;
}

const radar_moment *rayconf_get_moment(const radar_ray_conf *rconf, int index) {
    if (rconf == nullptr || index < 0 || static_cast<uint64_t>(index) >= rconf->moments_count) {
        return nullptr;
    }
    return &rconf->moment[index];
}

int rayconf_get_moment_index(const radar_ray_conf *rconf, int type) {
    PVOL_CHECK(rconf != nullptr);
    if (type < RD_DBT || type > RD_HCLASS)
        return -1;
    return rconf->moment_index[type];
}

const char *rmoment_get_name(const radar_moment *moment) {
    return moment != nullptr ? moment->name : nullptr;
}

const char *rmoment_get_units(const radar_moment *moment) {
    return moment != nullptr ? moment->units : nullptr;
}

int rmoment_get_raw_type(const radar_moment *moment) {
    return moment != nullptr ? moment->type : 0;
}

native_data_desc *rmoment_get_scale(const radar_moment *moment, native_data_desc *out) {
    if (moment == nullptr)
        return nullptr;
    *out = moment->scale;
    return out;
}

dscan *rmoment_get_range_mask(const radar_moment *moment, dscan *out) {
    if (moment == nullptr)
        return nullptr;
    *out = moment->range_mask;
    return out;
}

#define PVOL_RAYCONF_GETTER(type, field)                    \
    type rayconf_get_##field(const radar_ray_conf *rconf) { \
        PVOL_CHECK(rconf != nullptr);                       \
        return rconf->field;                                \
    }

PVOL_RAYCONF_GETTER(double, prf)
PVOL_RAYCONF_GETTER(double, rf_freq)
PVOL_RAYCONF_GETTER(double, nyquist_vel)
PVOL_RAYCONF_GETTER(double, unamb_range)
PVOL_RAYCONF_GETTER(double, pulse_width)
PVOL_RAYCONF_GETTER(double, radar_const)
PVOL_RAYCONF_GETTER(double, calib_const)
PVOL_RAYCONF_GETTER(double, gas_atten)
PVOL_RAYCONF_GETTER(int, pulses_per_ray)
PVOL_RAYCONF_GETTER(int, tx_polarization)
PVOL_RAYCONF_GETTER(uint64_t, exthdr_size)

#undef PVOL_RAYCONF_GETTER

int raycon_set_exthdr_size(radar_ray_conf *rconf, uint64_t size) {
    PVOL_CHECK(rconf != nullptr);
    if (rconf->exthdr_size != 0)
        return 1;
    rconf->exthdr_size = size;
    return 0;
}

int rayconf_add_int(radar_ray_conf *rconf, const char *key, int value) {
    PVOL_CHECK(rconf != nullptr);
    return add_attribute(&rconf->attributes, cfgset_add_int, key, value);
}

int rayconf_add_u64(radar_ray_conf *rconf, const char *key, uint64_t value) {
    PVOL_CHECK(rconf != nullptr);
    return add_attribute(&rconf->attributes, cfgset_add_uint64, key, value);
}

int rayconf_add_double(radar_ray_conf *rconf, const char *key, double value) {
    PVOL_CHECK(rconf != nullptr);
    return add_attribute(&rconf->attributes, cfgset_add_double, key, value);
}

int rayconf_add_string(radar_ray_conf *rconf, const char *key, const char *text) {
    PVOL_CHECK(rconf != nullptr);
    return add_attribute(&rconf->attributes, cfgset_add_string, key, text);
}

int rayconf_is_defined(const radar_ray_conf *rconf, const char *key) {
    PVOL_CHECK(rconf != nullptr);
    return attribute_defined(rconf->attributes, key);
}

int rayconf_get_int(const radar_ray_conf *rconf, const char *key) {
    PVOL_CHECK(rconf != nullptr);
    return attribute_int(rconf->attributes, key);
}

uint64_t rayconf_get_u64(const radar_ray_conf *rconf, const char *key) {
    PVOL_CHECK(rconf != nullptr);
    return attribute_u64(rconf->attributes, key);
}

double rayconf_get_double(const radar_ray_conf *rconf, const char *key) {
    PVOL_CHECK(rconf != nullptr);
    return attribute_double(rconf->attributes, key);
}

char *rayconf_get_string(const radar_ray_conf *rconf, const char *key, char *buffer,
                         uint64_t length) {
    PVOL_CHECK(rconf != nullptr);
    return attribute_string(rconf->attributes, key, buffer, length);
}

int rayconf_compare(const radar_ray_conf *a, const radar_ray_conf *b) {
    if (a == nullptr || b == nullptr)
        return 0;
    const bool same_properties =
        same_bits(a->prf, b->prf) && same_bits(a->rf_freq, b->rf_freq) &&
        same_bits(a->nyquist_vel, b->nyquist_vel) && same_bits(a->unamb_range, b->unamb_range) &&
        same_bits(a->pulse_width, b->pulse_width) && a->pulses_per_ray == b->pulses_per_ray &&
        same_bits(a->radar_const, b->radar_const) && same_bits(a->calib_const, b->calib_const) &&
        same_bits(a->gas_atten, b->gas_atten) && a->tx_polarization == b->tx_polarization &&
        same_bits(a->moment_index, b->moment_index) && a->moments_count == b->moments_count;
    if (!same_properties)
        return 0;
    for (uint64_t i = 0; i < a->moments_count; ++i) {
        if (!rmoment_compare(a->moment[i], b->moment[i]))
            return 0;
    }
    return cfgset_compare(a->attributes, b->attributes);
}

radar_ray_conf *rayconf_ref(radar_ray_conf *rconf) {
    PVOL_CHECK(rconf != nullptr);
    PVOL_CHECK(rconf->ref > 0);
    ++rconf->ref;
    return rconf;
}

void rayconf_unref(radar_ray_conf *rconf) {
    PVOL_CHECK(rconf != nullptr);
    PVOL_CHECK(rconf->ref > 0);
    if (--rconf->ref > 0)
        return;
    PVOL_CHECK_TEXT(rconf->node.next == nullptr, "rconf->node.next == (((void *)0))");
    PVOL_CHECK_TEXT(rconf->node.prev == nullptr, "rconf->node.prev == (((void *)0))");
    for (uint64_t i = 0; i < rconf->moments_count; ++i)
        free_moment_texts(&rconf->moment[i]);
    std::free(rconf->moment);
    cfgset_delete(rconf->attributes);
    std::free(rconf);
}

dllist *rayconf_get_node(radar_ray_conf *rconf) {
    PVOL_CHECK(rconf != nullptr);
    return &rconf->node;
}

radar_ray_conf *rayconf_from_node(dllist *node) {
    PVOL_CHECK(node != nullptr);
    return PVOL_DLLIST_ENTRY(node, radar_ray_conf, node);
}
