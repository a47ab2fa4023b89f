/* The geodesy interface from C, through the shared library. */
#include <math.h>
#include <stdio.h>

#include "pvol.h"

int main(void) {
    map_proj proj = {0};
    earth_pos pos;
    double xy[2] = {30.0, -40.0};
    double back[2];
    unsigned char visible = 0;

    proj.type = LAMBERT;
    proj.reference.latitude = 0.8;
    proj.std_parallel1 = 0.7;
    proj.std_parallel2 = 0.9;
    if (mpj_map_to_earth(&proj, xy, &pos) != MPJ_OK)
        return 1;
    if (mpj_earth_to_map(&proj, &pos, back, &visible) != MPJ_OK || visible != 1)
        return 1;
    if (fabs(back[0] - xy[0]) > 1e-3 || fabs(back[1] - xy[1]) > 1e-3) {
        fprintf(stderr, "round trip gave (%g, %g)\n", back[0], back[1]);
        return 1;
    }
    return iGetEllipseByName("GRS80") == 2 ? 0 : 1;
}
