// Sweep configurations and sweeps.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "attribute_slot.h"
#include "config_set_internal.h"
#include "pvol_check.h"
#include "pvol/radar_ray.h"
#include "radar_ray_internal.h"
#include "pvol/radar_scan.h"
#include "pvol/radar_sweep.h"
#include "radar_sweep_internal.h"

using namespace pvol_internal;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

radar_sweep_conf *new_sweepconf(int32_t type, const dscan *sector) {
    auto *sconf = static_cast<radar_sweep_conf *>(std::calloc(1, sizeof(radar_sweep_conf)));
    if (sconf == nullptr)
        return nullptr;
    sconf->ref = 1;
    dllist_init_node(&sconf->node);
    sconf->type = type;
    sconf->sector = sector != nullptr ? *sector : dscan{kNaN, kNaN, 0};
    return sconf;
}

// Index of rconf in the list, or -1.
int64_t listed_at(const radar_sweep_conf *sconf, const radar_ray_conf *rconf) {
    for (uint64_t i = 0; i < sconf->rayconf_count; ++i) {
        if (sconf->rayconf[i] == rconf)
            return static_cast<int64_t>(i);
    }
    return -1;
}

// Appends rconf with a reference of its own; false when out of memory.
bool append_rayconf(radar_sweep_conf *sconf, radar_ray_conf *rconf) {
    auto *grown = static_cast<radar_ray_conf **>(
        std::realloc(sconf->rayconf, (sconf->rayconf_count + 1) * sizeof(radar_ray_conf *)));
    if (grown == nullptr)
        return false;
    sconf->rayconf = grown;
    sconf->rayconf[sconf->rayconf_count++] = rayconf_ref(rconf);
    return true;
}

bool same_sector(const dscan &a, const dscan &b) {
    return std::memcmp(&a.start, &b.start, sizeof a.start) == 0 &&
           std::memcmp(&a.step, &b.step, sizeof a.step) == 0 && a.count == b.count;
}

// The first ray configuration of sconf equivalent to rconf in both directions, or null.
radar_ray_conf *equivalent_in(const radar_sweep_conf *sconf, const radar_ray_conf *rconf) {
    for (uint64_t i = 0; i < sconf->rayconf_count; ++i) {
        if (rayconf_equivalent(sconf->rayconf[i], rconf))
            return sconf->rayconf[i];
    }
    return nullptr;
}

bool time_before(const timeval &a, const timeval &b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sweep configurations

radar_sweep_conf *sweepconf_new_ppi(const dscan *sector) {
    return new_sweepconf(SWEEP_PPI, sector);
}

radar_sweep_conf *sweepconf_new_rhi(const dscan *sector) {
    return new_sweepconf(SWEEP_RHI, sector);
}

radar_sweep_conf *sweepconf_new_manual(void) {
    return new_sweepconf(SWEEP_MANUAL, nullptr);
}

radar_sweep_conf *sweepconf_new_copy(const radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    radar_sweep_conf *copy = new_sweepconf(sconf->type, &sconf->sector);
    if (copy == nullptr)
        return nullptr;
    bool ok = true;
    if (sconf->attributes != nullptr) {
        copy->attributes = cfgset_new_copy(sconf->attributes);
        ok = copy->attributes != nullptr;
    }
    for (uint64_t i = 0; ok && i < sconf->rayconf_count; ++i) {
        ok = append_rayconf(copy, sconf->rayconf[i]);
    }
    if (!ok) {
        sweepconf_unref(copy);
        return nullptr;
    }
    return copy;
}

radar_ray_conf *sweepconf_add_rayconf(radar_sweep_conf *sconf, radar_ray_conf *rconf) {
    PVOL_CHECK(sconf != nullptr);
    PVOL_CHECK(rconf != nullptr);
    if (listed_at(sconf, rconf) >= 0)
        return rconf;
    for (uint64_t i = 0; i < sconf->rayconf_count; ++i) {
        radar_ray_conf *listed = sconf->rayconf[i];
        if (rayconf_compare(rconf, listed) && rayconf_compare(listed, rconf))
            return listed;
    }
    return append_rayconf(sconf, rconf) ? rconf : nullptr;
}

radar_ray_conf *sweepconf_get_next_rayconf(const radar_sweep_conf *sconf,
                                           const radar_ray_conf *rconf) {
    PVOL_CHECK(sconf != nullptr);
    if (sconf->rayconf_count == 0)
        return nullptr;
    if (rconf == nullptr)
        return sconf->rayconf[0];
    const int64_t at = listed_at(sconf, rconf);
    if (at < 0 || static_cast<uint64_t>(at) + 1 >= sconf->rayconf_count)
        return nullptr;
    return sconf->rayconf[at + 1];
}

radar_ray_conf *sweepconf_replace_rayconf(radar_sweep_conf *sconf, radar_ray_conf *new_rconf,
                                          radar_ray_conf *old_rconf) {
    const int64_t at = listed_at(sconf, old_rconf);
    if (at < 0)
        return nullptr;
    sconf->rayconf[at] = rayconf_ref(new_rconf);
    rayconf_unref(old_rconf);
    return new_rconf;
}

uint64_t sweepconf_get_rayconf_count(const radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    return sconf->rayconf_count;
}

int sweepconf_get_type(const radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    return sconf->type;
}

dscan *sweepconf_get_sector(const radar_sweep_conf *sconf, dscan *out) {
    if (sconf != nullptr && out != nullptr)
        *out = sconf->sector;
    return out;
}

int sweepconf_add_int(radar_sweep_conf *sconf, const char *key, int value) {
    PVOL_CHECK(sconf != nullptr);
    return add_attribute(&sconf->attributes, cfgset_add_int, key, value);
}

int sweepconf_add_u64(radar_sweep_conf *sconf, const char *key, uint64_t value) {
    PVOL_CHECK(sconf != nullptr);
    return add_attribute(&sconf->attributes, cfgset_add_uint64, key, value);
}

int sweepconf_add_double(radar_sweep_conf *sconf, const char *key, double value) {
    PVOL_CHECK(sconf != nullptr);
    return add_attribute(&sconf->attributes, cfgset_add_double, key, value);
}

int sweepconf_add_string(radar_sweep_conf *sconf, const char *key, const char *text) {
    PVOL_CHECK(sconf != nullptr);
    return add_attribute(&sconf->attributes, cfgset_add_string, key, text);
}

int sweepconf_add_buf(radar_sweep_conf *sconf, const char *key, const void *bytes,
                      uint64_t length) {
    PVOL_CHECK(sconf != nullptr);
    return add_attribute(&sconf->attributes, cfgset_add_buf, key, bytes, length);
}

int sweepconf_is_defined(const radar_sweep_conf *sconf, const char *key) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_defined(sconf->attributes, key);
}

int sweepconf_get_int(const radar_sweep_conf *sconf, const char *key) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_int(sconf->attributes, key);
}

uint64_t sweepconf_get_u64(const radar_sweep_conf *sconf, const char *key) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_u64(sconf->attributes, key);
}

double sweepconf_get_double(const radar_sweep_conf *sconf, const char *key) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_double(sconf->attributes, key);
}

char *sweepconf_get_string(const radar_sweep_conf *sconf, const char *key, char *buffer,
                           uint64_t length) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_string(sconf->attributes, key, buffer, length);
}

void *sweepconf_get_buf(const radar_sweep_conf *sconf, const char *key, void *buffer,
                        uint64_t *length) {
    PVOL_CHECK(sconf != nullptr);
    return attribute_buf(sconf->attributes, key, buffer, length);
}

int sweepconf_compare(const radar_sweep_conf *a, const radar_sweep_conf *b) {
    if (a == b)
        return 1;
    if (a == nullptr || b == nullptr)
        return 0;
    if (a->type != b->type)
        return 0;
    // Manual sweeps follow no fixed sector.
    if ((a->type == SWEEP_PPI || a->type == SWEEP_RHI) && !same_sector(a->sector, b->sector)) {
        return 0;
    }
    for (uint64_t i = 0; i < a->rayconf_count; ++i) {
        bool found = false;
        for (uint64_t j = 0; j < b->rayconf_count && !found; ++j) {
            found = rayconf_compare(a->rayconf[i], b->rayconf[j]) != 0;
        }
        if (!found)
            return 0;
    }
    return cfgset_compare(a->attributes, b->attributes);
}

radar_sweep_conf *sweepconf_ref(radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    PVOL_CHECK(sconf->ref > 0);
    ++sconf->ref;
    return sconf;
}

void sweepconf_unref(radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    PVOL_CHECK(sconf->ref > 0);
    if (--sconf->ref > 0)
        return;
    // Released while still registered, the scan's list would point into freed memory.
    PVOL_CHECK_TEXT(sconf->node.next == nullptr, "sconf->node.next == (((void *)0))");
    cfgset_delete(sconf->attributes);
    for (uint64_t i = 0; i < sconf->rayconf_count; ++i)
        rayconf_unref(sconf->rayconf[i]);
    std::free(sconf->rayconf);
    std::free(sconf);
}

dllist *sweepconf_get_node(radar_sweep_conf *sconf) {
    PVOL_CHECK(sconf != nullptr);
    return &sconf->node;
}

radar_sweep_conf *sweepconf_from_node(dllist *node) {
    PVOL_CHECK(node != nullptr);
    return PVOL_DLLIST_ENTRY(node, radar_sweep_conf, node);
}

// ---------------------------------------------------------------------------------------------
// Sweeps

radar_sweep *rsweep_new(radar_sweep_conf *sconf) {
    PVOL_CHECK_TEXT(sconf != nullptr, "sconf != ((void *)0)");
    auto *sweep = static_cast<radar_sweep *>(std::calloc(1, sizeof(radar_sweep)));
    if (sweep == nullptr)
        return nullptr;
    sweep->earliest_ray = -1;
    sweep->start_time = timeval{-1, 0};
    sweep->stop_time = timeval{-1, 0};
    dllist_init_node(&sweep->node);
    sweep->config = sweepconf_ref(sconf);
    return sweep;
}

radar_sweep *rsweep_new_copy(const radar_sweep *sweep) {
    PVOL_CHECK_TEXT(sweep != nullptr, "sweep != ((void *)0)");
    radar_sweep *copy = rsweep_new(sweep->config);
    if (copy == nullptr)
        return nullptr;
    copy->schedule_index = sweep->schedule_index;
    copy->fixed_angle = sweep->fixed_angle;
    copy->earliest_ray = sweep->earliest_ray;
    copy->time = sweep->time;
    copy->start_time = sweep->start_time;
    copy->stop_time = sweep->stop_time;
    copy->my_scan = sweep->my_scan;
    if (sweep->ray_count > 0) {
        copy->rays = static_cast<radar_ray **>(std::calloc(sweep->ray_count, sizeof(radar_ray *)));
        if (copy->rays == nullptr) {
            rsweep_delete(copy);
            return nullptr;
        }
        copy->ray_count = sweep->ray_count;
    }
    for (uint64_t i = 0; i < sweep->ray_count; ++i) {
        if (sweep->rays[i] == nullptr)
            continue;
        copy->rays[i] = rray_new_copy(sweep->rays[i]);
        if (copy->rays[i] == nullptr) {
            rsweep_delete(copy);
            return nullptr;
        }
        // The copies sit in the same slots, so they carry the same indexes.
        rray_set_index(copy->rays[i], static_cast<int>(i));
    }
    return copy;
}

void rsweep_delete(radar_sweep *sweep) {
    PVOL_CHECK_TEXT(sweep != nullptr, "sweep != ((void *)0)");
    // Deleting a sweep a scan still lists would leave the scan pointing into freed memory.
    PVOL_CHECK_TEXT(sweep->node.next == nullptr, "sweep->node.next == (((void *)0))");
    for (uint64_t i = 0; i < sweep->ray_count; ++i)
        rray_delete(sweep->rays[i]);
    std::free(sweep->rays);
    sweepconf_unref(sweep->config);
    std::free(sweep);
}

int rsweep_add_ray(radar_sweep *sweep, radar_ray *ray) {
    PVOL_CHECK(sweep != nullptr);
    auto *grown = static_cast<radar_ray **>(
        std::realloc(sweep->rays, (sweep->ray_count + 1) * sizeof(radar_ray *)));
    if (grown == nullptr)
        return -1;
    sweep->rays = grown;
    const auto i = static_cast<int>(sweep->ray_count++);
    sweep->rays[i] = ray;
    if (ray == nullptr)
        return i;
    rray_set_index(ray, i);

    timeval time;
    rray_get_time(ray, &time);
    // Equal times keep the ray added first as the earliest.
    if (sweep->start_time.tv_sec == -1 || time_before(time, sweep->start_time)) {
        sweep->start_time = time;
        sweep->earliest_ray = i;
    }
    if (sweep->stop_time.tv_sec == -1 || time_before(sweep->stop_time, time)) {
        sweep->stop_time = time;
    }
    return i;
}

radar_ray *rsweep_get_ray(const radar_sweep *sweep, int index) {
    PVOL_CHECK(sweep != nullptr);
    if (index < 0 || static_cast<uint64_t>(index) >= sweep->ray_count)
        return nullptr;
    return sweep->rays[index];
}

uint64_t rsweep_get_ray_count(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->ray_count;
}

radar_ray *rsweep_get_first_ray(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    for (uint64_t i = 0; i < sweep->ray_count; ++i) {
        if (sweep->rays[i] != nullptr)
            return sweep->rays[i];
    }
    return nullptr;
}

int rsweep_get_earliest_ray(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->earliest_ray;
}

struct timeval *rsweep_get_time(const radar_sweep *sweep, struct timeval *out) {
    PVOL_CHECK(sweep != nullptr);
    *out = sweep->time;
    return out;
}

int rsweep_set_time(radar_sweep *sweep, const struct timeval *time) {
    PVOL_CHECK(sweep != nullptr);
    PVOL_CHECK(time != nullptr);
    sweep->time = *time;
    return 0;
}

struct timeval *rsweep_get_starttime(const radar_sweep *sweep, struct timeval *out) {
    PVOL_CHECK(sweep != nullptr);
    *out = sweep->start_time;
    return out;
}

struct timeval *rsweep_get_stoptime(const radar_sweep *sweep, struct timeval *out) {
    PVOL_CHECK(sweep != nullptr);
    *out = sweep->stop_time;
    return out;
}

double rsweep_get_fixed_angle(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->fixed_angle;
}

int rsweep_set_fixed_angle(radar_sweep *sweep, double angle) {
    PVOL_CHECK(sweep != nullptr);
    sweep->fixed_angle = angle;
    return 0;
}

int rsweep_get_schedule_index(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->schedule_index;
}

int rsweep_set_schedule_index(radar_sweep *sweep, int index) {
    PVOL_CHECK(sweep != nullptr);
    sweep->schedule_index = index;
    return 0;
}

radar_sweep_conf *rsweep_get_config(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->config;
}

radar_scan *rsweep_get_my_scan(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return sweep->my_scan;
}

int rsweep_set_my_scan(radar_sweep *sweep, radar_scan *scan) {
    PVOL_CHECK(sweep != nullptr);
    PVOL_CHECK(scan != nullptr);
    sweep->my_scan = scan;
    rposition *position = pvol_get_position(scan);
    for (uint64_t i = 0; i < sweep->ray_count; ++i) {
        if (sweep->rays[i] != nullptr)
            rray_set_position(sweep->rays[i], position, -1);
    }
    return 0;
}

rposition *rsweep_get_position(const radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    const radar_ray *first = rsweep_get_first_ray(sweep);
    if (first != nullptr && rray_get_position(first) != nullptr)
        return rray_get_position(first);
    return sweep->my_scan != nullptr ? pvol_get_position(sweep->my_scan) : nullptr;
}

dllist *rsweep_get_node(radar_sweep *sweep) {
    PVOL_CHECK(sweep != nullptr);
    return &sweep->node;
}

radar_sweep *rsweep_from_node(dllist *node) {
    PVOL_CHECK(node != nullptr);
    return PVOL_DLLIST_ENTRY(node, radar_sweep, node);
}

radar_ray_conf *rsweep_swap_rayconf(radar_sweep *sweep, radar_ray_conf *new_rconf,
                                    radar_ray_conf *old_rconf) {
    PVOL_CHECK(sweep != nullptr);
    if (new_rconf == old_rconf)
        return new_rconf;
    PVOL_CHECK(rayconf_compare(new_rconf, old_rconf));
    if (sweepconf_replace_rayconf(sweep->config, new_rconf, old_rconf) == nullptr)
        return nullptr;
    for (uint64_t i = 0; i < sweep->ray_count; ++i) {
        radar_ray *ray = sweep->rays[i];
        if (ray != nullptr && rray_get_config(ray) == old_rconf) {
            rray_swap_config(ray, new_rconf, old_rconf);
        }
    }
    return new_rconf;
}

radar_sweep_conf *rsweep_swap_config(radar_sweep *sweep, radar_sweep_conf *new_sconf,
                                     radar_sweep_conf *old_sconf) {
    PVOL_CHECK(sweep != nullptr);
    if (sweep->config != old_sconf)
        return nullptr;
    if (new_sconf == old_sconf)
        return new_sconf;
    PVOL_CHECK_TEXT(sweepconf_compare(new_sconf, old_sconf), "sweepconf_compare(new, old)");
    // Every ray configuration of old goes to one of new that is equivalent to it both ways: a
    // one-way match could move rays onto a configuration that lacks one of their attributes.
    // Without such a partner for each, nothing is swapped.
    for (uint64_t i = 0; i < old_sconf->rayconf_count; ++i) {
        if (equivalent_in(new_sconf, old_sconf->rayconf[i]) == nullptr)
            return nullptr;
    }
    for (uint64_t i = 0; i < old_sconf->rayconf_count; ++i) {
        radar_ray_conf *old_rconf = old_sconf->rayconf[i];
        rsweep_swap_rayconf(sweep, equivalent_in(new_sconf, old_rconf), old_rconf);
    }
    sweep->config = sweepconf_ref(new_sconf);
    sweepconf_unref(old_sconf);
    return new_sconf;
}
