/* An outside C program on the installed libpvol: angle codes, the moment table (exported data)
   and a ray configuration made and released through the library. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <pvol/pvol.h>

int main(void) {
    int failures = 0;
    if (fabs(fPDegFromBin2((uint16_t)iBin2FromFDeg(90.0)) - 90.0) > 0.01) {
        fprintf(stderr, "90 degrees do not survive the 16-bit angle code\n");
        ++failures;
    }
    if (raw_data_types[RD_DBZ + 1].type != RD_DBZ || raw_data_types[RD_DBZ + 1].long_name == NULL) {
        fprintf(stderr, "the moment table has no reflectivity row\n");
        ++failures;
    }
    const dscan range_mask = {125.0, 250.0, 4};
    native_data_desc scale;
    memset(&scale, 0, sizeof scale);
    scale.bin_format = BITS_16;
    scale.max_value = 65535;
    scale.min_value = 2;
    scale.step = 0.01;
    scale.offset = -327.68;
    scale.under_threshold = 1;
    radar_ray_conf *conf = rayconf_new(1000.0, 5.6e9, 13.4, 150.0, 1e-6, 32, 70.0, -40.0, 0.008, 1);
    if (conf == NULL || rayconf_add_moment(conf, RD_DBZ, &range_mask, &scale) != 0) {
        fprintf(stderr, "cannot build a ray configuration\n");
        ++failures;
    }
    rayconf_unref(conf);
    printf("pvol consumer: %s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
