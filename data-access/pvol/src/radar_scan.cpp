// Scans: texts, position, time stamp, attributes, sweeps and the registry of distinct
// configurations.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "attribute_slot.h"
#include "config_set_internal.h"
#include "pvol/nav_system.h"
#include "pvol_check.h"
#include "radar_ray_internal.h"
#include "pvol/radar_scan.h"
#include "radar_sweep_internal.h"

using namespace pvol_internal;

struct radar_scan {
    rposition *position;  // always present, one reference held
    char *name;
    char *info;
    char *site_name;
    char *site_info;
    timeval time_stamp;
    cfgset *attributes;  // created on the first add
    uint64_t rayconf_count;
    dllist rayconf_list;  // registered ray configurations, through their node
    uint64_t sweepconf_count;
    dllist sweepconf_list;  // registered sweep configurations, through their node
    int64_t scheduled_sweeps;
    uint64_t sweeps_count;
    dllist sweep_list;  // the sweeps in the order added
};

namespace {

template <typename Record, typename FromNode>
Record *next_in(const dllist *head, dllist *current_node, FromNode from_node) {
    dllist *next = current_node == nullptr ? head->next : current_node->next;
    return next == head ? nullptr : from_node(next);
}

bool is_registered(const dllist *head, const dllist *node) {
    for (const dllist *at = head->next; at != head; at = at->next) {
        if (at == node)
            return true;
    }
    return false;
}

bool equivalent(const radar_sweep_conf *a, const radar_sweep_conf *b) {
    return sweepconf_compare(a, b) && sweepconf_compare(b, a);
}

radar_ray_conf *registered_equivalent(const radar_scan *scan, const radar_ray_conf *rconf) {
    for (radar_ray_conf *at = pvol_get_next_rayconf(scan, nullptr); at != nullptr;
         at = pvol_get_next_rayconf(scan, at)) {
        if (rayconf_equivalent(rconf, at))
            return at;
    }
    return nullptr;
}

// Resizes *slot to hold a copy of text: the new storage, or null (old storage kept).
char *replace_string(char **slot, const char *text) {
    if (text == nullptr)
        return nullptr;
    const size_t size = std::strlen(text) + 1;
    auto *storage = static_cast<char *>(std::realloc(*slot, size));
    if (storage == nullptr)
        return nullptr;
    std::memcpy(storage, text, size);
    *slot = storage;
    return storage;
}

int set_text(char **slot, const char *text) {
    return replace_string(slot, text) ? 0 : 1;
}

char *get_text(const char *text, char *buffer, uint64_t length) {
    return text != nullptr ? bounded_copy(buffer, text, length) : nullptr;
}

void shift_time(timeval &time, const timeval &delta) {
    time.tv_sec += delta.tv_sec;
    time.tv_usec += delta.tv_usec;
    if (time.tv_usec > 999999) {
        time.tv_sec += 1;
        time.tv_usec -= 1000000;
    }
}

// "YYYY-MM-DD hh:mm:ss" of seconds as UTC.
const char *utc_text(time_t seconds, char (&text)[128]) {
    struct tm parts;
    text[0] = '\0';
    if (gmtime_r(&seconds, &parts) != nullptr)
        std::strftime(text, sizeof text, "%F %T", &parts);
    return text;
}

void print_date(const radar_scan *scan, FILE *stream) {
    char date[128];
    std::fprintf(stream, "Ing. file: date %s:%03d UTC;", utc_text(scan->time_stamp.tv_sec, date),
                 static_cast<int>(scan->time_stamp.tv_usec / 1000));
}

// Moves every ray of the sweep from old_rconf to new_rconf, whatever their equivalence.
void move_rays(radar_sweep *sweep, radar_ray_conf *new_rconf, radar_ray_conf *old_rconf) {
    for (uint64_t i = 0; i < sweep->ray_count; ++i) {
        radar_ray *ray = sweep->rays[i];
        if (ray != nullptr && ray->config == old_rconf)
            rray_swap_config(ray, new_rconf, old_rconf);
    }
}

// A configuration's list node serves one scan only. A sweep whose configurations are registered
// in another scan (a sweep moved from scan to scan, or a copy of one) first gets configurations
// of its own, so that registering them here leaves the other scan's lists alone. False when out
// of memory; the sweep then still works on equivalent configurations.
bool detach_from_other_scans(radar_scan *scan, radar_sweep *sweep) {
    radar_sweep_conf *sconf = sweep->config;
    if (is_registered(&scan->sweepconf_list, &sconf->node))
        return true;
    if (dllist_is_linked(&sconf->node)) {
        radar_sweep_conf *own = sweepconf_new_copy(sconf);
        if (own == nullptr)
            return false;
        sweep->config = own;  // the copy's first reference becomes the sweep's
        sweepconf_unref(sconf);
        sconf = own;
    }
    for (uint64_t i = 0; i < sconf->rayconf_count; ++i) {
        radar_ray_conf *rconf = sconf->rayconf[i];
        if (!dllist_is_linked(&rconf->node) || is_registered(&scan->rayconf_list, &rconf->node) ||
            registered_equivalent(scan, rconf) != nullptr) {
            continue;
        }
        radar_ray_conf *own = rayconf_new_copy(rconf);
        if (own == nullptr)
            return false;
        sweepconf_replace_rayconf(sconf, own, rconf);
        move_rays(sweep, own, rconf);
        rayconf_unref(own);
    }
    return true;
}

void register_rayconf(radar_scan *scan, radar_ray_conf *rconf) {
    dllist_insert_before(&rconf->node, &scan->rayconf_list);
    ++scan->rayconf_count;
    rayconf_ref(rconf);
}

void register_sweepconf(radar_scan *scan, radar_sweep_conf *sconf) {
    dllist_insert_before(&sconf->node, &scan->sweepconf_list);
    ++scan->sweepconf_count;
    sweepconf_ref(sconf);
}

radar_sweep *unlink_sweep(radar_scan *scan, radar_sweep *sweep) {
    dllist_remove(&sweep->node);
    --scan->sweeps_count;
    return sweep;
}

}  // namespace

radar_scan *pvol_new(const char *name, const char *info, const char *site_name,
                     const char *site_info, int position_type, const rposition_fixed *fixed) {
    if (position_type != RPOSITION_FIXED)
        return nullptr;
    auto *scan = static_cast<radar_scan *>(std::calloc(1, sizeof(radar_scan)));
    if (scan == nullptr)
        return nullptr;
    dllist_init_head(&scan->rayconf_list);
    dllist_init_head(&scan->sweepconf_list);
    dllist_init_head(&scan->sweep_list);
    scan->position = rposition_new_fixed(fixed);
    bool ok = scan->position != nullptr;
    const char *texts[] = {name, info, site_name, site_info};
    char **slots[] = {&scan->name, &scan->info, &scan->site_name, &scan->site_info};
    for (int i = 0; ok && i < 4; ++i) {
        ok = texts[i] == nullptr || replace_string(slots[i], texts[i]) != nullptr;
    }
    if (!ok) {
        pvol_delete(scan);
        return nullptr;
    }
    return scan;
}

radar_scan *pvol_new_copy(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    rposition_fixed fixed;
    if (rposition_get_fixed(scan->position, &fixed) == nullptr)
        return nullptr;
    radar_scan *copy =
        pvol_new(scan->name, scan->info, scan->site_name, scan->site_info, RPOSITION_FIXED, &fixed);
    if (copy == nullptr)
        return nullptr;
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        // The copied sweep starts on the source's registered configurations; adding it gives it
        // configurations of the copy's own.
        radar_sweep *twin = rsweep_new_copy(sweep);
        if (twin == nullptr || pvol_add_sweep(copy, twin) == nullptr) {
            if (twin != nullptr)
                rsweep_delete(twin);
            pvol_delete(copy);
            return nullptr;
        }
    }
    return copy;
}

int pvol_delete(radar_scan *scan) {
    if (scan == nullptr)
        return 1;
    while (!dllist_is_empty(&scan->sweepconf_list)) {
        dllist *node = scan->sweepconf_list.next;
        dllist_remove(node);
        sweepconf_unref(sweepconf_from_node(node));
    }
    while (!dllist_is_empty(&scan->rayconf_list)) {
        dllist *node = scan->rayconf_list.next;
        dllist_remove(node);
        rayconf_unref(rayconf_from_node(node));
    }
    while (!dllist_is_empty(&scan->sweep_list)) {
        dllist *node = scan->sweep_list.next;
        dllist_remove(node);
        rsweep_delete(rsweep_from_node(node));
    }
    cfgset_delete(scan->attributes);
    std::free(scan->name);
    std::free(scan->info);
    std::free(scan->site_name);
    std::free(scan->site_info);
    rposition_unref(scan->position);
    std::free(scan);
    return 0;
}

char *pvol_get_name(const radar_scan *scan, char *buffer, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return get_text(scan->name, buffer, length);
}

char *pvol_get_info(const radar_scan *scan, char *buffer, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return get_text(scan->info, buffer, length);
}

char *pvol_get_site_name(const radar_scan *scan, char *buffer, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return get_text(scan->site_name, buffer, length);
}

char *pvol_get_site_info(const radar_scan *scan, char *buffer, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return get_text(scan->site_info, buffer, length);
}

int pvol_set_name(radar_scan *scan, const char *text) {
    PVOL_CHECK(scan != nullptr);
    return set_text(&scan->name, text);
}

int pvol_set_info(radar_scan *scan, const char *text) {
    PVOL_CHECK(scan != nullptr);
    return set_text(&scan->info, text);
}

int pvol_set_site_name(radar_scan *scan, const char *text) {
    PVOL_CHECK(scan != nullptr);
    return set_text(&scan->site_name, text);
}

int pvol_set_site_info(radar_scan *scan, const char *text) {
    PVOL_CHECK(scan != nullptr);
    return set_text(&scan->site_info, text);
}

int64_t pvol_get_scheduled_sweeps(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    return scan->scheduled_sweeps;
}

int pvol_set_scheduled_sweeps(radar_scan *scan, int n) {
    PVOL_CHECK(scan != nullptr);
    scan->scheduled_sweeps = n;
    return 0;
}

uint64_t pvol_get_sweeps_count(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    return scan->sweeps_count;
}

uint64_t pvol_get_sweepconf_count(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    return scan->sweepconf_count;
}

uint64_t pvol_get_rayconf_count(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    return scan->rayconf_count;
}

int pvol_add_int(radar_scan *scan, const char *key, int value) {
    PVOL_CHECK(scan != nullptr);
    return add_attribute(&scan->attributes, cfgset_add_int, key, value);
}

int pvol_add_u64(radar_scan *scan, const char *key, uint64_t value) {
    PVOL_CHECK(scan != nullptr);
    return add_attribute(&scan->attributes, cfgset_add_uint64, key, value);
}

int pvol_add_double(radar_scan *scan, const char *key, double value) {
    PVOL_CHECK(scan != nullptr);
    return add_attribute(&scan->attributes, cfgset_add_double, key, value);
}

int pvol_add_string(radar_scan *scan, const char *key, const char *text) {
    PVOL_CHECK(scan != nullptr);
    return add_attribute(&scan->attributes, cfgset_add_string, key, text);
}

int pvol_add_buf(radar_scan *scan, const char *key, const void *bytes, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return add_attribute(&scan->attributes, cfgset_add_buf, key, bytes, length);
}

int pvol_is_defined(const radar_scan *scan, const char *key) {
    PVOL_CHECK(scan != nullptr);
    return attribute_defined(scan->attributes, key);
}

int pvol_get_int(const radar_scan *scan, const char *key) {
    PVOL_CHECK(scan != nullptr);
    return attribute_int(scan->attributes, key);
}

uint64_t pvol_get_u64(const radar_scan *scan, const char *key) {
    PVOL_CHECK(scan != nullptr);
    return attribute_u64(scan->attributes, key);
}

double pvol_get_double(const radar_scan *scan, const char *key) {
    PVOL_CHECK(scan != nullptr);
    return attribute_double(scan->attributes, key);
}

char *pvol_get_string(const radar_scan *scan, const char *key, char *buffer, uint64_t length) {
    PVOL_CHECK(scan != nullptr);
    return attribute_string(scan->attributes, key, buffer, length);
}

void *pvol_get_buf(const radar_scan *scan, const char *key, void *buffer, uint64_t *length) {
    PVOL_CHECK(scan != nullptr);
    return attribute_buf(scan->attributes, key, buffer, length);
}

radar_sweep_conf *pvol_get_next_sweepconf(const radar_scan *scan, const radar_sweep_conf *sconf) {
    PVOL_CHECK(scan != nullptr);
    return next_in<radar_sweep_conf>(
        &scan->sweepconf_list, sconf != nullptr ? const_cast<dllist *>(&sconf->node) : nullptr,
        sweepconf_from_node);
}

radar_ray_conf *pvol_get_next_rayconf(const radar_scan *scan, const radar_ray_conf *rconf) {
    PVOL_CHECK(scan != nullptr);
    return next_in<radar_ray_conf>(&scan->rayconf_list,
                                   rconf != nullptr ? const_cast<dllist *>(&rconf->node) : nullptr,
                                   rayconf_from_node);
}

radar_sweep *pvol_get_next_sweep(const radar_scan *scan, const radar_sweep *sweep) {
    PVOL_CHECK(scan != nullptr);
    return next_in<radar_sweep>(&scan->sweep_list,
                                sweep != nullptr ? const_cast<dllist *>(&sweep->node) : nullptr,
                                rsweep_from_node);
}

radar_sweep *pvol_add_sweep(radar_scan *scan, radar_sweep *sweep) {
    PVOL_CHECK(scan != nullptr);
    PVOL_CHECK(sweep != nullptr);
    PVOL_CHECK_TEXT(!dllist_is_linked(&sweep->node), "sweep->node.next == (((void *)0))");
    if (!detach_from_other_scans(scan, sweep))
        return nullptr;

    radar_sweep_conf *sconf = sweep->config;
    bool registered = false;
    for (radar_sweep_conf *at = pvol_get_next_sweepconf(scan, nullptr); at != nullptr;
         at = pvol_get_next_sweepconf(scan, at)) {
        if (at == sconf) {
            registered = true;
            break;
        }
        // A configuration that pairs with at only one way round is registered as a new one.
        if (equivalent(sconf, at) && rsweep_swap_config(sweep, at, sconf) != nullptr) {
            registered = true;
            break;
        }
    }
    if (!registered) {
        for (uint64_t i = 0; i < sconf->rayconf_count; ++i) {
            radar_ray_conf *rconf = sconf->rayconf[i];
            if (is_registered(&scan->rayconf_list, &rconf->node))
                continue;
            radar_ray_conf *known = registered_equivalent(scan, rconf);
            if (known != nullptr) {
                rsweep_swap_rayconf(sweep, known, rconf);
            } else {
                register_rayconf(scan, rconf);
            }
        }
        register_sweepconf(scan, sconf);
    }
    dllist_insert_before(&sweep->node, &scan->sweep_list);
    ++scan->sweeps_count;
    rsweep_set_my_scan(sweep, scan);
    return sweep;
}

radar_sweep *pvol_eject_sweep(radar_scan *scan, radar_sweep *sweep) {
    if (scan == nullptr || sweep == nullptr || sweep->my_scan != scan)
        return nullptr;
    if (!is_registered(&scan->sweep_list, &sweep->node))
        return nullptr;
    return unlink_sweep(scan, sweep);
}

radar_sweep *pvol_eject_sweep_n(radar_scan *scan, int n) {
    PVOL_CHECK(scan != nullptr);
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        if (sweep->schedule_index == n)
            return unlink_sweep(scan, sweep);
    }
    return nullptr;
}

radar_sweep *pvol_eject_sweep_a(radar_scan *scan, double angle) {
    PVOL_CHECK(scan != nullptr);
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        const double degrees = sweep->fixed_angle * 180.0 / 3.141592653589793;
        if (std::fabs(degrees - angle) < 0.1)
            return unlink_sweep(scan, sweep);
    }
    return nullptr;
}

rposition *pvol_get_position(const radar_scan *scan) {
    PVOL_CHECK(scan != nullptr);
    return scan->position;
}

int pvol_set_position(radar_scan *scan, rposition *position) {
    PVOL_CHECK(scan != nullptr);
    if (position == nullptr)
        return -1;
    rposition_ref(position);
    rposition_unref(scan->position);
    scan->position = position;
    return 0;
}

struct timeval *pvol_get_time_stamp(const radar_scan *scan, struct timeval *out) {
    PVOL_CHECK(scan != nullptr);
    *out = scan->time_stamp;
    return out;
}

int pvol_set_time_stamp(radar_scan *scan, const struct timeval *time) {
    PVOL_CHECK(scan != nullptr);
    PVOL_CHECK(time != nullptr);
    scan->time_stamp = *time;
    return 0;
}

int pvol_shift_time_stamp(radar_scan *scan, const struct timeval *delta) {
    PVOL_CHECK(scan != nullptr);
    PVOL_CHECK(delta != nullptr);
    shift_time(scan->time_stamp, *delta);
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        timeval time;
        shift_time(*rsweep_get_time(sweep, &time), *delta);
        int status = rsweep_set_time(sweep, &time);
        for (uint64_t i = 0; status == 0 && i < sweep->ray_count; ++i) {
            radar_ray *ray = sweep->rays[i];
            if (ray == nullptr)
                continue;
            shift_time(*rray_get_time(ray, &time), *delta);
            status = rray_set_time(ray, &time);
        }
        if (status != 0)
            return status;
    }
    return 0;
}

int pvol_dump_brief(const radar_scan *scan, FILE *stream) {
    PVOL_CHECK(scan != nullptr);
    print_date(scan, stream);
    std::fputc('\n', stream);
    return 0;
}

int pvol_dump_verbose(const radar_scan *scan, FILE *stream) {
    PVOL_CHECK(scan != nullptr);
    print_date(scan, stream);
    // An unset name or description prints as empty.
    std::fprintf(stream, " task: %.16s; ", scan->name != nullptr ? scan->name : "");
    std::fprintf(stream, "task info: %.80s; ", scan->info != nullptr ? scan->info : "");
    std::fprintf(stream, "%d sweep%s\n", static_cast<int>(scan->sweeps_count),
                 scan->sweeps_count > 1 ? "s" : "");
    return 0;
}

int pvol_dump_timestamps(const radar_scan *scan, FILE *stream) {
    PVOL_CHECK(scan != nullptr);
    constexpr double kDegreesPerRadian = 57.29577951308232;
    int sweep_number = 0;
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep), ++sweep_number) {
        for (uint64_t i = 0; i < sweep->ray_count; ++i) {
            const radar_ray *ray = sweep->rays[i];
            if (ray == nullptr)
                continue;
            char date[128];
            std::fprintf(stream, "Ray %d:%d: az %g:%g, el %g:%g, %s, data types: { ", sweep_number,
                         ray->index, ray->azimuth.start * kDegreesPerRadian,
                         ray->azimuth.stop * kDegreesPerRadian,
                         ray->elevation.start * kDegreesPerRadian,
                         ray->elevation.stop * kDegreesPerRadian, utc_text(ray->time.tv_sec, date));
            const radar_ray_conf *rconf = ray->config;
            for (uint64_t m = 0; m < rconf->moments_count; ++m) {
                const radar_moment &moment = rconf->moment[m];
                std::fprintf(stream, "%s%d(%d bits)", m > 0 ? ", " : "", moment.type,
                             moment.scale.bin_format == BITS_8 ? 8 : 16);
            }
            std::fputs("}\n", stream);
        }
    }
    return 0;
}
