/* The record layouts and value conversions from plain C, against the shared library. */
#include <stdio.h>
#include <string.h>

#include "pvol/pvol.h"

int main(void) {
    product_header ph;
    ingest_header ih;
    char text[17];
    memset(&ph, 0, sizeof ph);
    memset(&ih, 0, sizeof ih);
    cstr2fstr(ih.icf.site_name, "SITE", sizeof ih.icf.site_name);
    fstr2cstr(text, ih.icf.site_name, sizeof ih.icf.site_name);
    if (strcmp(text, "SITE") != 0 || iBin2FromFDeg(90.0) != 16384 || sizeof ph != 640) {
        fprintf(stderr, "C view of the records is wrong\n");
        return 1;
    }
    return 0;
}
