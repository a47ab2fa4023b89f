/* Streams of 16-bit words over the 6144-byte records of a RAW product, and the run-length
 * compression of rays into them.
 *
 * A record holds 3072 little-endian words; the first 6 are the record header, whose word 0 is the
 * record number. Reading checks that number against the expected one and stops at the first
 * record that does not carry it, so a truncated or foreign file reads as the end of the data.
 * Two backends: an open file (not owned, never closed here) and a caller's memory buffer (not
 * owned). */
#ifndef PVOL_I16STREAM_H
#define PVOL_I16STREAM_H

#include <stdint.h>
#include <stdio.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

typedef struct i16stream i16stream;

/* Compression codes. */
#define PKCODE_END 1        /* end of the ray */
#define PKCODE_NOOP 2       /* never written; malformed */
#define PKCODE_NZBIT 0x8000 /* with count n: n literal words follow; alone: malformed */
#define PKCODE_MAX_RUN 32767

/* Results of i16stream_unpack other than a word count. */
#define I16STREAM_MALFORMED (-1)   /* code 2, code 0x8000 or a run beyond the capacity */
#define I16STREAM_END_OF_DATA (-2) /* the stream ended before the ray's end code */

/* File backend over file, which must be positioned at the first data record; first_record is that
 * record's number (2 for a RAW product). Null when file is null or out of memory. */
PVOL_API i16stream *i16stream_new_frecord(FILE *file, int first_record);

/* Memory backend over the whole records of buffer (words 16-bit words long); reading and writing
 * share one position. Writing stops at the end of the last whole record. Null when buffer is
 * null or out of memory. */
PVOL_API i16stream *i16stream_new_bufrecord(void *buffer, uint64_t words, int first_record);

/* Deletes the stream, not its file or buffer. A file stream does not write a pending record:
 * finish it first. */
PVOL_API void i16stream_delete(i16stream *stream);

/* The 12-byte header written at the start of every following record; its word 0 is replaced by
 * the record number. */
PVOL_API void i16stream_set_bhdr(i16stream *stream, const void *header);

/* Reads up to count words, crossing records; fewer at the end of the data. */
PVOL_API uint64_t i16stream_read(i16stream *stream, uint16_t *dst, uint64_t count);

/* Writes up to count words, crossing records; fewer when a write fails or the buffer is full. */
PVOL_API uint64_t i16stream_write(i16stream *stream, const uint16_t *src, uint64_t count);

/* Ends the current record: reading continues and writing starts at the next one. The file backend
 * fills the rest of a written record with zeros and writes it out. Returns the words skipped (0
 * when no record was partly used, or when a write failed). */
PVOL_API uint64_t i16stream_next_record(i16stream *stream);

/* The same, after the last ray of a sweep. */
PVOL_API uint64_t i16stream_finish_record(i16stream *stream);

/* 1 when no more data can be read: end of file, all records consumed, or a read stopped at a
 * record with an unexpected number; else 0. */
PVOL_API int i16stream_is_empty(i16stream *stream);

/* Number of the record after the last one touched. */
PVOL_API int i16stream_getpos(i16stream *stream);

/* Result of i16stream_pack when every word of the ray went out but its end code did not. */
#define I16STREAM_PACK_FAILED UINT64_MAX

/* Compresses one ray of count words into the stream, ending it with PKCODE_END; an absent ray
 * (count 0) is PKCODE_END alone. Returns count when the whole ray and its end code were written;
 * fewer words than count when a write of the ray's words failed; I16STREAM_PACK_FAILED when only
 * the end code could not be written. */
PVOL_API uint64_t i16stream_pack(i16stream *stream, const uint16_t *ray, uint64_t count);

/* Decompresses one ray into dst (capacity words). Returns the words produced (0 for an absent
 * ray), or:
 *   I16STREAM_MALFORMED   the stream holds code 2 or 0x8000, or a run that does not fit the
 *                         capacity; what follows cannot be decoded, so stop reading it;
 *   I16STREAM_END_OF_DATA the stream ended inside the ray or before it (dst holds what came). */
PVOL_API int64_t i16stream_unpack(i16stream *stream, uint16_t *dst, uint64_t capacity);

PVOL_END_DECLS

#endif /* PVOL_I16STREAM_H */
