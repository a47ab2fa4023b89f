/* Start here: reads a RAW volume with libpvol and prints its site, each sweep with its angle and
 * ray count, and the azimuth of the sweep's first ray. Build it against an installed tree with
 *     cc read_raw.c $(pkg-config --cflags --libs pvol) -o read_raw
 * and run it as  ./read_raw volume.raw  */
#include <stdio.h>

#include <pvol/pvol.h>

static void print_message(const char *text) {
    fprintf(stderr, "read_raw: %s", text);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: read_raw FILE.raw\n");
        return 2;
    }
    /* The default callbacks open the named file; the reader closes it. */
    default_raw_io *io = default_raw_io_new(argv[1]);
    radar_scan *scan = io ? pvol_new_from_raw(io, default_raw_input, print_message) : NULL;
    default_raw_io_delete(io);
    if (scan == NULL) {
        fprintf(stderr, "read_raw: cannot read %s\n", argv[1]);
        return 1;
    }
    char site[64] = {0}; /* the copy is not terminated when it fills the buffer */
    printf("site %s\n", pvol_get_site_name(scan, site, sizeof site - 1) ? site : "unknown");
    const double degrees_per_radian = 57.29577951308232; /* the model keeps angles in radians */
    for (radar_sweep *sweep = pvol_get_next_sweep(scan, NULL); sweep != NULL;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        printf("sweep %d: %.2f degrees, %llu rays", rsweep_get_schedule_index(sweep),
               rsweep_get_fixed_angle(sweep) * degrees_per_radian,
               (unsigned long long)rsweep_get_ray_count(sweep));
        const radar_ray *first = rsweep_get_first_ray(sweep);
        if (first != NULL) {
            printf(", first ray at azimuth %.2f degrees",
                   rray_get_azimuth(first).between * degrees_per_radian);
        }
        printf("\n");
    }
    pvol_delete(scan);
    return 0;
}
