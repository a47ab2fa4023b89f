/* File callbacks of the RAW readers and writers, and the default io record behind them.
 *
 * The readers and writers never choose file names: a reader asks a next-file callback for each
 * input file, a writer asks an output callback for each output file, and both hand an opaque
 * argument through to the callback. The default io record keeps a list of names for that: the
 * input names given at creation and, once output starts, the output names made from the base
 * name. default_raw_output also records the output names in the list file "<base>.meta".
 *
 * Ownership: the io record belongs to its creator (default_raw_io_delete). Names are copied in;
 * names handed out point into the record and stay valid until it is deleted. Files handed out
 * belong to the caller. */
#ifndef PVOL_RAWPROD_IO_H
#define PVOL_RAWPROD_IO_H

#include <stdio.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

/* Next-file callback of the RAW reader: the next input file opened for reading and positioned at
 * its start, or null when there is none. */
typedef FILE *(*raw_input_callback)(void *arg);

/* Output callback of the RAW writer. group_index is -1 when the scan forms a single task,
 * otherwise the task's position 0, 1, ...; mode is 0 for one file per task and 1 for one file per
 * sweep; sweep_number is -1 when not applicable. Returns a file opened for writing, or null. */
typedef FILE *(*raw_output_callback)(void *arg, int group_index, int mode, int sweep_number);

/* Message callback of the readers: one text, ending in a newline, per failure. */
typedef void (*pvol_message_callback)(const char *text);

typedef struct default_raw_io default_raw_io;

/* A record whose base name and only input name are copies of name; null for a null name or when
 * out of memory. */
PVOL_API default_raw_io *default_raw_io_new(const char *name);
/* A record with copies of count names as input names and no base name, so it produces no output
 * names. Null when names or one of them is null, or when out of memory. */
PVOL_API default_raw_io *default_raw_io_new_hybrid(const char *const *names, int count);
/* Releases the record and its names; null is ignored. */
PVOL_API void default_raw_io_delete(default_raw_io *io);

/* raw_input_callback over a default_raw_io: opens the input names one after the other for
 * reading; null after the last one, after output has started, or when a name cannot be opened. */
PVOL_API FILE *default_raw_input(void *io);

/* raw_output_callback over a default_raw_io. The name is the base name, then "_" and the letter
 * 'A' + group_index when group_index is 0 or more, then "_" and the first two digits of
 * sweep_number ("%.2d") when mode is 1 and sweep_number is 0 or more. The first output call drops
 * the input names. A name whose file opened is listed among the output names. Null without a base
 * name, for a group index above 25, or when the file cannot be opened. From the second output
 * name on, default_raw_output appends the lines "sPathName[<index>] = <name>" of the names to the
 * list file "<base>.meta" (the first name's line when the second one is added); a list file that
 * cannot be opened is skipped. nometa_raw_output keeps no list file. */
PVOL_API FILE *default_raw_output(void *io, int group_index, int mode, int sweep_number);
PVOL_API FILE *nometa_raw_output(void *io, int group_index, int mode, int sweep_number);

/* Number of output names made so far. */
PVOL_API int default_raw_output_count(const default_raw_io *io);
/* Output name index, or null for an index outside the list. */
PVOL_API const char *default_raw_output_name(const default_raw_io *io, int index);
/* The base name, or null for a hybrid record. */
PVOL_API const char *default_raw_output_base(const default_raw_io *io);

PVOL_END_DECLS

#endif /* PVOL_RAWPROD_IO_H */
