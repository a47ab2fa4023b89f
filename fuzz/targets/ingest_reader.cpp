// The ingest reader over files in memory: each file the reader asks for, header or data file, is
// the next file of the input.
#include "fuzz_input.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    fuzz::MemoryFiles files{fuzz::split_files(data, size)};
    return fuzz::accepted(ScanHandle(
        pvol_new_from_ingest(&files, fuzz::MemoryFiles::next_ingest_file, fuzz::ignore_message)));
}
