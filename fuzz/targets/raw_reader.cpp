// The RAW product reader over files in memory: the first byte chooses widening of 8-bit data,
// the rest holds one or more files, so that tasks of a hybrid scan and per-sweep files meet.
#include "fuzz_input.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::MemoryFiles files{fuzz::split_files(data + 1, size - 1)};
    return fuzz::accepted(ScanHandle(pvol_new_from_raw2(&files, fuzz::MemoryFiles::next_file,
                                                        fuzz::ignore_message, data[0] & 1)));
}
