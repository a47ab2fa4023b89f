// Writes the synthetic RAW volumes the ODIM comparison test converts, one folder per volume:
//     make_odim_test_volumes FOLDER
// Each volume is built in memory and written with libpvol's RAW writer, so that raw2odim and
// rawpipe read the very same files.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "odim_test_scans.h"

namespace {

using namespace odim_test;

// A volume of one task: a sweep per shape, a minute apart, written with bin_format.
bool write_volume(const std::string &folder, const std::vector<SweepShape> &shapes,
                  const std::vector<MomentSpec> &moments, int bin_format) {
    mkdir(folder.c_str(), 0777);
    ScanHandle scan = synthetic::new_scan("ODIMTEST");
    const timeval volume_time{synthetic::kVolumeTime, 0};
    pvol_set_time_stamp(scan.get(), &volume_time);
    for (size_t i = 0; i < shapes.size(); ++i) {
        const SweepConfHandle sconf(make_conf(shapes[i], moments, "ODIMTEST"));
        pvol_add_sweep(scan.get(), make_sweep(sconf.get(), shapes[i],
                                              synthetic::kVolumeTime + 60 * static_cast<time_t>(i),
                                              static_cast<int>(i)));
    }
    return !synthetic::write_files(scan.get(), folder + "/volume", RAW_SAVE_ONE_FILE, bin_format)
                .empty();
}

// Two tasks of one hybrid, on different moments and ray counts: two files.
bool write_hybrid(const std::string &folder) {
    mkdir(folder.c_str(), 0777);
    ScanHandle scan = synthetic::new_scan("HYBRID");
    const timeval volume_time{synthetic::kVolumeTime, 0};
    pvol_set_time_stamp(scan.get(), &volume_time);
    const SweepShape wide{0.0, 1.0, 360, 0.5};
    const SweepShape narrow{0.0, 2.0, 180, 4.0};
    const SweepConfHandle a(make_conf(wide, {{RD_DBZ, BITS_16}, {RD_ZDR, BITS_16}}, "HYBRID"));
    const SweepConfHandle b(make_conf(narrow, {{RD_VEL, BITS_16}, {RD_WIDTH, BITS_16}}, "HYBRID"));
    pvol_add_sweep(scan.get(), make_sweep(a.get(), wide, synthetic::kVolumeTime, 0));
    pvol_add_sweep(scan.get(),
                   make_sweep(a.get(), {0.0, 1.0, 360, 1.5}, synthetic::kVolumeTime + 30, 1));
    pvol_add_sweep(scan.get(), make_sweep(b.get(), narrow, synthetic::kVolumeTime + 60, 0));
    return synthetic::write_files(scan.get(), folder + "/volume", RAW_SAVE_ONE_FILE, BITS_16)
               .size() == 2;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_odim_test_volumes FOLDER\n");
        return 2;
    }
    const std::string out = argv[1];
    mkdir(out.c_str(), 0777);
    const std::vector<SweepShape> ppi = {
        {0.0, 1.0, 360, 0.5}, {0.0, 1.0, 360, 1.5}, {0.0, 1.0, 360, 3.0}};
    bool ok = write_volume(out + "/bits8", ppi, all_moments(BITS_8), BITS_8);
    ok = write_volume(out + "/bits16", ppi, all_moments(BITS_16), BITS_16) && ok;
    // A sector across north, scanned counter-clockwise.
    ok = write_volume(out + "/sector", {{40.0, -1.5, 60, 2.0}},
                      {{RD_DBZ, BITS_16}, {RD_VEL, BITS_8}}, BITS_16) &&
         ok;
    ok = write_volume(out + "/rhi", {{0.5, 0.5, 60, 120.0, true}, {0.5, 0.5, 60, 130.0, true}},
                      {{RD_DBZ, BITS_16}, {RD_RHOHV, BITS_16}}, BITS_16) &&
         ok;
    // Rays missing at the start, in the middle, and the one nearest north of a sweep that starts
    // at 200 degrees.
    ok = write_volume(out + "/missing", {{200.0, 1.0, 360, 0.5, false, {0, 100, 160, 359}}},
                      {{RD_DBZ, BITS_16}, {RD_PHIDP, BITS_16}}, BITS_16) &&
         ok;
    ok = write_hybrid(out + "/hybrid") && ok;
    if (!ok) {
        std::fprintf(stderr, "make_odim_test_volumes: a volume could not be written\n");
        return 1;
    }
    return 0;
}
