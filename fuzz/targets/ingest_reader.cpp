// The ingest reader over files in memory: each file the reader asks for, header or data file, is
// the next file of the input.
#include "fuzz_input.h"
#include "pvol_handles.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    fuzz::MemoryFiles files{fuzz::split_files(data, size)};
    ScanHandle scan(
        pvol_new_from_ingest(&files, fuzz::MemoryFiles::next_ingest_file, fuzz::ignore_message));
    if (scan == nullptr)
        return 0;
    volatile uint64_t sum = fuzz::touch_scan(scan.get());
    (void)sum;
    return 1;
}
