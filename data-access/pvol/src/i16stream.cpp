// Word streams over RAW product records, with a file and a memory backend, and the run-length
// compression of rays.
#include "pvol/i16stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "pvol/orva_records.h"
#include "pvol_check.h"

namespace {

constexpr int kRecordWords = RAW_RECORD_WORDS;
constexpr int kFirstDataWord = RAW_RECORD_HEADER_WORDS;
constexpr size_t kHeaderBytes = RAW_RECORD_HEADER_WORDS * 2;

struct stream_ops {
    void (*set_bhdr)(void *backend, const void *header);
    uint64_t (*get)(void *backend, uint16_t *dst, uint64_t count);
    uint64_t (*set)(void *backend, const uint16_t *src, uint64_t count);
    uint64_t (*next_record)(void *backend);
    uint64_t (*finish_record)(void *backend);
    void (*destroy)(void *backend);
    int (*is_empty)(void *backend);
    int (*getpos)(void *backend);
};

// Record numbers are 16-bit words on disk.
uint16_t record_number(int64_t number) {
    return static_cast<uint16_t>(number);
}

uint16_t word_at(const unsigned char *record, int word) {
    uint16_t value;
    std::memcpy(&value, record + 2 * word, sizeof value);
    return value;
}

// Starts a record from the header template with the record number in word 0.
void start_record(unsigned char *record, const unsigned char *header, int64_t number) {
    std::memcpy(record, header, kHeaderBytes);
    const uint16_t word0 = record_number(number);
    std::memcpy(record, &word0, sizeof word0);
}

// ---- File backend ----

struct frecord {
    FILE *file;
    unsigned char header[kHeaderBytes];
    int first;
    int64_t passed;  // records passed so far
    int position;    // word position in the current record; 0 = none started or loaded
    bool pending;    // the buffer holds words not yet written
    bool ended;      // a read stopped at a short or foreign record
    unsigned char buffer[RAW_RECORD_SIZE];
};

frecord *frecord_new(FILE *file, int first) {
    auto *rec = new (std::nothrow) frecord{};
    if (rec == nullptr)
        return nullptr;
    rec->file = file;
    rec->first = first;
    return rec;
}

void frecord_set_bhdr(void *backend, const void *header) {
    std::memcpy(static_cast<frecord *>(backend)->header, header, kHeaderBytes);
}

bool frecord_write_pending(frecord *rec) {
    if (!rec->pending)
        return true;
    if (std::fwrite(rec->buffer, 1, RAW_RECORD_SIZE, rec->file) != RAW_RECORD_SIZE)
        return false;
    rec->pending = false;
    return true;
}

void advance(int &position, int64_t &records, uint64_t words) {
    position += static_cast<int>(words);
    if (position == kRecordWords) {
        position = 0;
        ++records;
    }
}

uint64_t frecord_get(void *backend, uint16_t *dst, uint64_t count) {
    auto *rec = static_cast<frecord *>(backend);
    uint64_t done = 0;
    while (done < count) {
        if (rec->position == 0) {
            if (rec->ended ||
                std::fread(rec->buffer, 1, RAW_RECORD_SIZE, rec->file) != RAW_RECORD_SIZE ||
                word_at(rec->buffer, 0) != record_number(rec->first + rec->passed)) {
                rec->ended = true;
                break;
            }
            rec->position = kFirstDataWord;
        }
        const uint64_t n = std::min<uint64_t>(count - done, kRecordWords - rec->position);
        std::memcpy(dst + done, rec->buffer + 2 * rec->position, 2 * n);
        done += n;
        advance(rec->position, rec->passed, n);
    }
    return done;
}

uint64_t frecord_set(void *backend, const uint16_t *src, uint64_t count) {
    auto *rec = static_cast<frecord *>(backend);
    uint64_t done = 0;
    while (done < count) {
        if (rec->position == 0) {
            // A full record stays buffered until the next one starts.
            if (!frecord_write_pending(rec))
                break;
            start_record(rec->buffer, rec->header, rec->first + rec->passed);
            rec->position = kFirstDataWord;
        }
        const uint64_t n = std::min<uint64_t>(count - done, kRecordWords - rec->position);
        std::memcpy(rec->buffer + 2 * rec->position, src + done, 2 * n);
        rec->pending = true;
        done += n;
        advance(rec->position, rec->passed, n);
    }
    return done;
}

uint64_t frecord_ff_rec(void *backend) {
    auto *rec = static_cast<frecord *>(backend);
    if (rec->position == 0) {
        frecord_write_pending(rec);
        return 0;
    }
    const int old = rec->position;
    std::memset(rec->buffer + 2 * old, 0, 2 * (kRecordWords - old));
    if (!frecord_write_pending(rec))
        return 0;
    rec->position = 0;
    ++rec->passed;
    return kRecordWords - old;
}

int frecord_is_empty(void *backend) {
    auto *rec = static_cast<frecord *>(backend);
    return rec->ended || std::feof(rec->file) != 0;
}

int frecord_getpos(void *backend) {
    auto *rec = static_cast<frecord *>(backend);
    return static_cast<int>(rec->first + rec->passed + (rec->position != 0 ? 1 : 0));
}

void frecord_delete(void *backend) {
    delete static_cast<frecord *>(backend);
}

constexpr stream_ops kFileOps = {frecord_set_bhdr, frecord_get,    frecord_set,
                                 frecord_ff_rec,   frecord_ff_rec, frecord_delete,
                                 frecord_is_empty, frecord_getpos};

// ---- Memory backend ----

struct bufrecord {
    unsigned char *buffer;
    unsigned char header[kHeaderBytes];
    int64_t records;  // whole records in the buffer
    int first;
    int64_t index;  // current record, shared by reading and writing
    int position;
    bool ended;  // a read stopped at a record with an unexpected number
};

bufrecord *bufrecord_new(void *buffer, uint64_t words, int first) {
    auto *rec = new (std::nothrow) bufrecord{};
    if (rec == nullptr)
        return nullptr;
    rec->buffer = static_cast<unsigned char *>(buffer);
    rec->records = static_cast<int64_t>(words * 2 / RAW_RECORD_SIZE);
    rec->first = first;
    return rec;
}

void bufrecord_set_bhdr(void *backend, const void *header) {
    std::memcpy(static_cast<bufrecord *>(backend)->header, header, kHeaderBytes);
}

unsigned char *current_record(bufrecord *rec) {
    return rec->buffer + static_cast<size_t>(rec->index) * RAW_RECORD_SIZE;
}

uint64_t bufrecord_get(void *backend, uint16_t *dst, uint64_t count) {
    auto *rec = static_cast<bufrecord *>(backend);
    uint64_t done = 0;
    while (done < count) {
        if (rec->position == 0) {
            if (rec->ended || rec->index >= rec->records)
                break;
            // A foreign record ends the data, exactly as in a file.
            if (word_at(current_record(rec), 0) != record_number(rec->first + rec->index)) {
                rec->ended = true;
                break;
            }
            rec->position = kFirstDataWord;
        }
        const uint64_t n = std::min<uint64_t>(count - done, kRecordWords - rec->position);
        std::memcpy(dst + done, current_record(rec) + 2 * rec->position, 2 * n);
        done += n;
        advance(rec->position, rec->index, n);
    }
    return done;
}

uint64_t bufrecord_set(void *backend, const uint16_t *src, uint64_t count) {
    auto *rec = static_cast<bufrecord *>(backend);
    uint64_t done = 0;
    while (done < count) {
        if (rec->position == 0) {
            if (rec->index >= rec->records)
                break;  // no room beyond the last whole record
            start_record(current_record(rec), rec->header, rec->first + rec->index);
            rec->position = kFirstDataWord;
        }
        const uint64_t n = std::min<uint64_t>(count - done, kRecordWords - rec->position);
        std::memcpy(current_record(rec) + 2 * rec->position, src + done, 2 * n);
        done += n;
        advance(rec->position, rec->index, n);
    }
    return done;
}

uint64_t bufrecord_ff_rec(void *backend) {
    auto *rec = static_cast<bufrecord *>(backend);
    if (rec->position == 0)
        return 0;
    const int old = rec->position;
    rec->position = 0;
    ++rec->index;
    return kRecordWords - old;
}

int bufrecord_is_empty(void *backend) {
    auto *rec = static_cast<bufrecord *>(backend);
    return rec->ended || rec->index >= rec->records;
}

int bufrecord_getpos(void *backend) {
    auto *rec = static_cast<bufrecord *>(backend);
    return static_cast<int>(rec->first + rec->index + (rec->position != 0 ? 1 : 0));
}

void bufrecord_delete(void *backend) {
    delete static_cast<bufrecord *>(backend);
}

constexpr stream_ops kBufferOps = {bufrecord_set_bhdr, bufrecord_get,    bufrecord_set,
                                   bufrecord_ff_rec,   bufrecord_ff_rec, bufrecord_delete,
                                   bufrecord_is_empty, bufrecord_getpos};

// Whether three zero words start at position within the ray.
bool zero_triple_at(const uint16_t *ray, uint64_t count, uint64_t position) {
    return position + 2 < count && ray[position] == 0 && ray[position + 1] == 0 &&
           ray[position + 2] == 0;
}

}  // namespace

struct i16stream {
    void *backend;
    const stream_ops *ops;
};

namespace {

i16stream *make_stream(void *backend, const stream_ops *ops) {
    if (backend == nullptr)
        return nullptr;
    auto *stream = new (std::nothrow) i16stream{backend, ops};
    if (stream == nullptr)
        ops->destroy(backend);
    return stream;
}

bool put_word(i16stream *stream, uint16_t word) {
    return stream->ops->set(stream->backend, &word, 1) == 1;
}

}  // namespace

extern "C" {

i16stream *i16stream_new_frecord(FILE *file, int first_record) {
    if (file == nullptr)
        return nullptr;
    return make_stream(frecord_new(file, first_record), &kFileOps);
}

i16stream *i16stream_new_bufrecord(void *buffer, uint64_t words, int first_record) {
    if (buffer == nullptr)
        return nullptr;
    return make_stream(bufrecord_new(buffer, words, first_record), &kBufferOps);
}

void i16stream_delete(i16stream *stream) {
    if (stream == nullptr)
        return;
    stream->ops->destroy(stream->backend);
    delete stream;
}

void i16stream_set_bhdr(i16stream *stream, const void *header) {
    PVOL_CHECK(stream != nullptr);
    PVOL_CHECK(header != nullptr);
    stream->ops->set_bhdr(stream->backend, header);
}

uint64_t i16stream_read(i16stream *stream, uint16_t *dst, uint64_t count) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->get(stream->backend, dst, count);
}

uint64_t i16stream_write(i16stream *stream, const uint16_t *src, uint64_t count) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->set(stream->backend, src, count);
}

uint64_t i16stream_next_record(i16stream *stream) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->next_record(stream->backend);
}

uint64_t i16stream_finish_record(i16stream *stream) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->finish_record(stream->backend);
}

int i16stream_is_empty(i16stream *stream) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->is_empty(stream->backend);
}

int i16stream_getpos(i16stream *stream) {
    PVOL_CHECK(stream != nullptr);
    return stream->ops->getpos(stream->backend);
}

uint64_t i16stream_pack(i16stream *stream, const uint16_t *ray, uint64_t count) {
    PVOL_CHECK(stream != nullptr);
    uint64_t position = 0;
    while (position < count) {
        uint64_t run = 0;
        if (zero_triple_at(ray, count, position)) {
            while (position + run < count && ray[position + run] == 0 && run < PKCODE_MAX_RUN)
                ++run;
            if (!put_word(stream, static_cast<uint16_t>(run)))
                return position;
        } else {
            // Literal words up to the next three zeros inside the ray; one or two zeros at the
            // very end of the ray travel as literals.
            run = 1;
            while (position + run < count && !zero_triple_at(ray, count, position + run) &&
                   run < PKCODE_MAX_RUN)
                ++run;
            if (!put_word(stream, static_cast<uint16_t>(PKCODE_NZBIT + run)) ||
                i16stream_write(stream, ray + position, run) != run)
                return position;
        }
        position += run;
    }
    // A ray without its end code cannot be read back: that is a failed pack too.
    if (!put_word(stream, PKCODE_END))
        return I16STREAM_PACK_FAILED;
    return position;
}

int64_t i16stream_unpack(i16stream *stream, uint16_t *dst, uint64_t capacity) {
    PVOL_CHECK(stream != nullptr);
    uint64_t produced = 0;
    for (;;) {
        uint16_t code;
        if (i16stream_read(stream, &code, 1) != 1)
            return I16STREAM_END_OF_DATA;
        if (code == PKCODE_END)
            return static_cast<int64_t>(produced);
        if (code == PKCODE_NOOP || code == PKCODE_NZBIT)
            return I16STREAM_MALFORMED;
        const uint64_t run = code & PKCODE_MAX_RUN;
        if (run > capacity - produced)
            return I16STREAM_MALFORMED;
        if ((code & PKCODE_NZBIT) != 0) {
            const uint64_t got = i16stream_read(stream, dst + produced, run);
            produced += got;
            if (got < run)
                return I16STREAM_END_OF_DATA;
        } else {
            std::fill_n(dst + produced, run, uint16_t{0});
            produced += run;
        }
    }
}

}  // extern "C"
