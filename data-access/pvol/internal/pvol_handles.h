// Owning handles for libpvol's C records, for C++ code inside the toolkit (the library itself, the
// pipes, the tests). Not installed: the C interface is the library's contract.
//
// Each handle is a std::unique_ptr that releases its record with the record's own release call,
// so that an early return or an exception leaks nothing. Reference-counted records (positions,
// sweep and ray configurations) are held by one reference.
#ifndef PVOL_HANDLES_H
#define PVOL_HANDLES_H

#include <cstdio>
#include <memory>

#include "pvol/pvol.h"

namespace pvol_handles {

// Deleter that hands a record to Release, the record's own release function.
template <auto Release>
struct Releaser {
    template <typename Record>
    void operator()(Record *record) const noexcept {
        Release(record);
    }
};

template <typename Record, auto Release>
using Handle = std::unique_ptr<Record, Releaser<Release>>;

// The standard library's functions have no address to take.
inline void close_file(std::FILE *file) {
    std::fclose(file);
}

}  // namespace pvol_handles

using ScanHandle = pvol_handles::Handle<radar_scan, pvol_delete>;
using SweepHandle = pvol_handles::Handle<radar_sweep, rsweep_delete>;
using RayHandle = pvol_handles::Handle<radar_ray, rray_delete>;
using SweepConfHandle = pvol_handles::Handle<radar_sweep_conf, sweepconf_unref>;
using RayConfHandle = pvol_handles::Handle<radar_ray_conf, rayconf_unref>;
using PositionHandle = pvol_handles::Handle<rposition, rposition_unref>;
using ConfigSetHandle = pvol_handles::Handle<cfgset, cfgset_delete>;
using RayDataHandle = pvol_handles::Handle<radar_ray_data, radar_ray_data_delete>;
using StreamHandle = pvol_handles::Handle<i16stream, i16stream_delete>;
using BlockHandle = pvol_handles::Handle<dblock, dblock_delete>;
using RawIoHandle = pvol_handles::Handle<default_raw_io, default_raw_io_delete>;
using IngestIoHandle = pvol_handles::Handle<default_ingest_io, default_ingest_io_delete>;
using ScanGroupHandle = pvol_handles::Handle<data_scan_group, data_scan_group_delete>;
using DataScanHandle = pvol_handles::Handle<data_scan, data_scan_delete>;
using FileHandle = pvol_handles::Handle<std::FILE, pvol_handles::close_file>;

#endif  // PVOL_HANDLES_H
