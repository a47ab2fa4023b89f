/* The writer's public header from plain C: the defaults and the quantity table. */
#include <stdio.h>
#include <string.h>

#include "pvol_odim.h"

int main(void) {
    pvol_odim_options options;
    pvol_odim_options_init(&options);
    if (options.source != NULL || options.compression != 6 || options.moments != NULL ||
        options.moment_count != 0) {
        fprintf(stderr, "unexpected defaults\n");
        return 1;
    }
    if (strcmp(pvol_odim_quantity(RD_VEL), "VRADH") != 0 || pvol_odim_quantity(0) != NULL) {
        fprintf(stderr, "unexpected quantities\n");
        return 1;
    }
    return pvol_save_odim(NULL, "x.h5", &options, NULL) == 1 ? 0 : 1;
}
