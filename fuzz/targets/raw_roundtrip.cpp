// A scan read from fuzzed RAW files (widened to 16 bits), written with the RAW writer and read
// back must hold the same sweeps, rays and codes. The writer stores sweeps in order of start time,
// so the sweeps read back pair with the original ones in that order, not in the order read; their
// moments pair by raw type. The input is that of the RAW reader target; its first byte chooses
// one file per task or one file per sweep.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "fuzz_input.h"
#include "pvol_save_internal.h"
#include "pvol_handles.h"

namespace {

// Output files are temporary files: the writer seeks within them, and closes the copy it gets;
// the original stays open here for reading back.
struct TemporaryOutput {
    std::vector<FileHandle> files;

    static FILE *open(void *arg, int, int, int) {
        auto *self = static_cast<TemporaryOutput *>(arg);
        FILE *file = std::tmpfile();
        if (file == nullptr)
            return nullptr;
        self->files.emplace_back(file);
        const int copy = dup(fileno(file));
        return copy >= 0 ? fdopen(copy, "w+b") : nullptr;
    }
    std::vector<fuzz::Bytes> contents() const {
        std::vector<fuzz::Bytes> out;
        for (const FileHandle &file : files) {
            fuzz::Bytes &bytes = out.emplace_back();
            std::rewind(file.get());
            uint8_t chunk[4096];
            for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
                bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return out;
    }
};

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "round trip: %s\n", what);
    std::abort();
}

// The slot in b's configuration of moment m of a's: the moment of the same raw type that comes as
// often before it. A one-file task stores its moments in order of data type code, so the moments
// may read back in another order than they had.
int matching_moment(const radar_ray_conf *a, int m, const radar_ray_conf *b) {
    const int type = rmoment_get_raw_type(rayconf_get_moment(a, m));
    int earlier = 0;
    for (int i = 0; i < m; ++i)
        earlier += rmoment_get_raw_type(rayconf_get_moment(a, i)) == type ? 1 : 0;
    const int count = static_cast<int>(rayconf_get_moments_count(b));
    for (int i = 0; i < count; ++i) {
        if (rmoment_get_raw_type(rayconf_get_moment(b, i)) == type && earlier-- == 0)
            return i;
    }
    fail("a moment type is missing");
}

void expect_same_rays(const radar_sweep *a, const radar_sweep *b) {
    if (rsweep_get_ray_count(a) != rsweep_get_ray_count(b))
        fail("ray counts differ");
    RayDataHandle codes_a(radar_ray_data_new());
    RayDataHandle codes_b(radar_ray_data_new());
    for (uint64_t r = 0; r < rsweep_get_ray_count(a); ++r) {
        const radar_ray *ray_a = rsweep_get_ray(a, static_cast<int>(r));
        const radar_ray *ray_b = rsweep_get_ray(b, static_cast<int>(r));
        if ((ray_a == nullptr) != (ray_b == nullptr))
            fail("a ray is missing");
        if (ray_a == nullptr)
            continue;
        const uint64_t moments = rayconf_get_moments_count(rray_get_config(ray_a));
        if (moments != rayconf_get_moments_count(rray_get_config(ray_b)))
            fail("moment counts differ");
        for (uint64_t m = 0; m < moments; ++m) {
            const int m_b = matching_moment(rray_get_config(ray_a), static_cast<int>(m),
                                            rray_get_config(ray_b));
            const bool has_a =
                rray_get_native(ray_a, static_cast<int>(m), codes_a.get()) != nullptr;
            const bool has_b = rray_get_native(ray_b, m_b, codes_b.get()) != nullptr;
            if (has_a != has_b)
                fail("a moment is missing");
            if (!has_a)
                continue;
            if (codes_a->type != codes_b->type || codes_a->bins != codes_b->bins)
                fail("bin formats or counts differ");
            const size_t width = codes_a->type == BITS_8 ? 1 : 2;
            if (std::memcmp(codes_a->data, codes_b->data, codes_a->bins * width) != 0)
                fail("codes differ");
        }
    }
}

}  // namespace

int fuzz_one_input(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::MemoryFiles input{fuzz::split_files(data + 1, size - 1)};
    const int mode = (data[0] & 1) != 0 ? RAW_SAVE_PER_SWEEP : RAW_SAVE_ONE_FILE;
    ScanHandle scan(
        pvol_new_from_raw2(&input, fuzz::MemoryFiles::next_file, fuzz::ignore_message, 1));
    if (scan == nullptr)
        return 0;
    TemporaryOutput output;
    if (pvol_save_raw(scan.get(), &output, "FUZZ", mode, BITS_16, TemporaryOutput::open) != 0) {
        return 1;
    }
    fuzz::MemoryFiles written{output.contents()};
    // What the reader says about files the writer made is worth seeing.
    ScanHandle again(pvol_new_from_raw2(
        &written, fuzz::MemoryFiles::next_file, [](const char *text) { std::fputs(text, stderr); },
        1));
    if (again == nullptr)
        fail("the written files do not read back");
    if (pvol_get_sweeps_count(again.get()) != pvol_get_sweeps_count(scan.get()))
        fail("sweep counts differ");
    const radar_sweep *b = nullptr;
    for (const radar_sweep *a : writable_sweeps_in_time_order(scan.get())) {
        b = pvol_get_next_sweep(again.get(), b);
        expect_same_rays(a, b);
    }
    return 1;
}
