/* Builds a small scan through the C interface of the shared library and releases it. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "pvol/pvol.h"

static int failures = 0;

#define EXPECT(condition)                                                           \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

static radar_sweep *build_sweep(double elevation, long seconds) {
    const dscan range_mask = {125.0, 250.0, 4};
    const dscan sector = {0.0, 0.0174532925, 360};
    native_data_desc scale;
    memset(&scale, 0, sizeof scale);
    scale.bin_format = BITS_16;
    scale.max_value = 65535;
    scale.min_value = 2;
    scale.step = 0.01;
    scale.offset = -327.68;
    scale.not_scanned = 0;
    scale.under_threshold = 1;

    radar_ray_conf *rconf =
        rayconf_new(1000.0, 5.6e9, 13.4, 150.0, 1e-6, 32, 70.0, -40.0, 0.008, 1);
    rayconf_add_moment(rconf, RD_DBZ, &range_mask, &scale);
    radar_sweep_conf *sconf = sweepconf_new_ppi(&sector);
    sweepconf_add_rayconf(sconf, rconf);
    sweepconf_add_string(sconf, "ORVA Scan Task Name", "VOL_A");
    radar_sweep *sweep = rsweep_new(sconf);
    for (int i = 0; i < 3; ++i) {
        const angle_interval az = {i * 0.01, i * 0.01 + 0.005, i * 0.01 + 0.01};
        const angle_interval el = {elevation, elevation, elevation};
        const struct timeval time = {seconds + i, 0};
        radar_ray *ray = rray_new(rconf, &az, &el, &time, NULL, -1);
        radar_ray_data *values = radar_ray_data_new();
        /* the data come as physical values, in doubles */
        radar_ray_data *native = radar_ray_data_new();
        rray_get_dat(ray, 0, values);
        ((double *)values->data)[0] = 10.0 * i;
        rray_set_dat(ray, 0, values);
        rray_get_native(ray, 0, native);
        EXPECT(native->type == BITS_16 && native->bins == 4);
        EXPECT(((uint16_t *)native->data)[3] == 0);
        radar_ray_data_delete(values);
        radar_ray_data_delete(native);
        EXPECT(rsweep_add_ray(sweep, ray) == i);
    }
    rsweep_set_fixed_angle(sweep, elevation);
    sweepconf_unref(sconf);
    rayconf_unref(rconf);
    return sweep;
}

int main(void) {
    const rposition_fixed site = {1.0, 0.3, 100.0, 120.0};
    radar_scan *scan = pvol_new("VOL_A", "Volume scan", "SITE", NULL, RPOSITION_FIXED, &site);
    EXPECT(scan != NULL);
    EXPECT(pvol_add_sweep(scan, build_sweep(0.01, 1000)) != NULL);
    EXPECT(pvol_add_sweep(scan, build_sweep(0.02, 2000)) != NULL);
    EXPECT(pvol_get_sweeps_count(scan) == 2);
    EXPECT(pvol_get_sweepconf_count(scan) == 1);
    EXPECT(pvol_get_rayconf_count(scan) == 1);

    /* A 3 x 3 grid of 200 m: the pixel north of the radar lies on the first ray's first bin
       (0 dBZ); the rays span 1.7 degrees, so nothing covers the pixel south. */
    double grid[9];
    EXPECT(pvol_grid_sweep(scan, 0, RD_DBZ, 3, 200.0, -32.0, grid) == 0);
    EXPECT(grid[1] == 0.0 && isnan(grid[7]));
    EXPECT(pvol_grid_max(scan, RD_DBZ, 3, 200.0, -32.0, grid) == 0 && grid[1] == 0.0);
    map_proj proj;
    EXPECT(pvol_grid_projection(scan, &proj) == 0 && proj.type == AZIMUTHAL);

    char name[8];
    EXPECT(pvol_get_name(scan, name, sizeof name) != NULL && strcmp(name, "VOL_A") == 0);
    EXPECT(pvol_get_site_info(scan, name, sizeof name) == NULL);

    radar_sweep *sweep = pvol_eject_sweep_n(scan, 0);
    EXPECT(sweep != NULL && pvol_get_sweeps_count(scan) == 1);
    const angle_interval az = rray_get_azimuth(rsweep_get_ray(sweep, 1));
    EXPECT(fabs(az.between - 0.015) < 1e-12);
    rsweep_delete(sweep);

    EXPECT(pvol_delete(scan) == 0);
    if (failures == 0)
        printf("model C interface: ok\n");
    return failures == 0 ? 0 : 1;
}
