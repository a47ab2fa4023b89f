// Steps the RAW reader and the ingest reader share (internal).
#ifndef PVOL_PVOL_PROD_IO_INTERNAL_H
#define PVOL_PVOL_PROD_IO_INTERNAL_H

#include "pvol/pvol_prod_io.h"

namespace pvol_internal {

// Library data types 0..24 a task can record; the extended header is not among them.
constexpr int kTaskDataTypes = RD_HCLASS + 1;

// Data types recorded by a task, in type order, with their bin format (BITS_8 when the 8-bit
// code is in tcf.dsp.mask, else BITS_16). Returns their number.
int task_data_types(const ingest_header &ih, int types[kTaskDataTypes],
                    int formats[kTaskDataTypes]);

// Whether the task of next may follow the task of previous in one scan: the same major task
// identifier and no smaller minor one. A greater minor identifier starts the next task of a
// hybrid, whose schedule begins after the previous task's sweeps: *schedule_offset grows by them.
bool continue_hybrid(const ingest_header &previous, const ingest_header &next,
                     int *schedule_offset);

// Formats a message and passes it to the callback, if there is one.
void report(pvol_message_callback message, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The sweep and ray configuration the sweeps of one task share; the references are the reader's.
struct shared_configs {
    radar_sweep_conf *sweep = nullptr;
    radar_ray_conf *ray = nullptr;
    shared_configs() = default;
    shared_configs(const shared_configs &) = delete;
    shared_configs &operator=(const shared_configs &) = delete;
    ~shared_configs() { reset(); }
    void reset();
};

}  // namespace pvol_internal

#endif  // PVOL_PVOL_PROD_IO_INTERNAL_H
