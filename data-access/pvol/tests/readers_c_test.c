/* The readers and their default callbacks from plain C, against the shared library: a missing
 * input ends reading with a message and no scan. */
#include <stdio.h>
#include <string.h>

#include "pvol/pvol.h"

static int messages = 0;

static void count_message(const char *text) {
    if (text[strlen(text) - 1] == '\n')
        ++messages;
}

int main(void) {
    const char *names[] = {"/nonexistent/pvol/input"};
    default_raw_io *io = default_raw_io_new_hybrid(names, 1);
    default_ingest_io *ingest = default_ingest_io_new("/nonexistent/pvol/VOL");
    radar_scan *raw = pvol_new_from_raw2(io, default_raw_input, count_message, 1);
    radar_scan *from_ingest = pvol_new_from_ingest(ingest, default_ingest_input, count_message);
    default_raw_io_delete(io);
    default_ingest_io_delete(ingest);
    if (raw != NULL || from_ingest != NULL || messages != 2 ||
        strcmp(raw_data_suffix(RD_DBZ, BITS_16), "dBZ2") != 0) {
        fprintf(stderr, "readers from C: unexpected result\n");
        return 1;
    }
    return 0;
}
