// Synthetic ORVA RAW product and ingest files for tests, built byte by byte at the field offsets
// of the file formats. Nothing here uses the library's record structures, its writer or its
// compression, so that a misreading of the formats cannot hide in both the library and its test
// data.
//
//   rawfile::RawFile file;                       // a valid ingest header with defaults
//   file.ingest.task("VOL", 5, 0).mask({rawfile::kDbz8});
//   file.sweeps.push_back(rawfile::make_sweep(1, 8, {{rawfile::kDbz8, 8}}, 20));
//   std::vector<unsigned char> bytes = file.bytes();
#ifndef PVOL_TESTS_RAW_FILE_BUILDER_H
#define PVOL_TESTS_RAW_FILE_BUILDER_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rawfile {

using Bytes = std::vector<unsigned char>;
using Words = std::vector<uint16_t>;

// ORVA data type codes used by the tests.
constexpr int kXhdr = 0;
constexpr int kDbz8 = 2, kDbz16 = 9;
constexpr int kVel8 = 3, kVel16 = 10;
constexpr int kWidth8 = 4, kWidth16 = 11;
constexpr int kZdr8 = 5, kZdr16 = 12;
constexpr int kPhidp8 = 16, kPhidp16 = 24;

constexpr size_t kRecordSize = 6144;
constexpr size_t kRecordWords = kRecordSize / 2;
constexpr size_t kRecordHeaderWords = 6;
constexpr size_t kIngestHeaderSize = 4884;
constexpr size_t kDataHeaderSize = 76;

inline void put8(Bytes &b, size_t offset, unsigned value) {
    b.at(offset) = static_cast<unsigned char>(value);
}
inline void put16(Bytes &b, size_t offset, long value) {
    put8(b, offset, static_cast<unsigned>(value) & 0xFF);
    put8(b, offset + 1, (static_cast<unsigned>(value) >> 8) & 0xFF);
}
inline void put32(Bytes &b, size_t offset, long long value) {
    put16(b, offset, static_cast<long>(value & 0xFFFF));
    put16(b, offset + 2, static_cast<long>((value >> 16) & 0xFFFF));
}
inline int get16(const Bytes &b, size_t offset) {
    return static_cast<int16_t>(b.at(offset) | (b.at(offset + 1) << 8));
}
// A blank-padded text field.
inline void put_text(Bytes &b, size_t offset, size_t width, const std::string &text) {
    for (size_t i = 0; i < width; ++i)
        put8(b, offset + i, i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
}

// A date and time record (12 bytes); UTC unless told otherwise.
struct Time {
    int year = 2024, month = 5, day = 17;
    int seconds = 12 * 3600;  // of the day
    int msecs = 0;
    bool utc = true;
    // POSIX seconds of the UTC date and time (before any minutes-west shift).
    long long posix() const {
        // Days from 1970-01-01 of a proleptic Gregorian date.
        const int y = year - (month <= 2 ? 1 : 0);
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yoe = y - era * 400;
        const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
        const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return (static_cast<long long>(era) * 146097 + doe - 719468) * 86400 + seconds;
    }
};
inline void put_time(Bytes &b, size_t offset, const Time &t) {
    put32(b, offset, t.seconds);
    put16(b, offset + 4, (t.msecs & 0x3FF) | (t.utc ? 0x800 : 0));
    put16(b, offset + 6, t.year);
    put16(b, offset + 8, t.month);
    put16(b, offset + 10, t.day);
}

// Byte offset and bit of a code in a 24-byte data-type mask: codes 0..31 in the first word, then
// a word kept for the extended header, then codes 32..159.
inline std::pair<size_t, int> mask_bit(int code) {
    const size_t word = code < 32 ? 0 : 1 + static_cast<size_t>(code / 32);
    return {4 * word, code % 32};
}

// The ingest header (4884 bytes) of one task; the setters name the fields they fill.
struct IngestHeader {
    Bytes b = Bytes(kIngestHeaderSize, 0);

    IngestHeader() {
        put16(b, 0, 23);  // hdr.id
        put16(b, 2, 4);
        put32(b, 4, kIngestHeaderSize);
        put16(b, 10, 1);
        put16(b, 492, 22);  // tcf.hdr.id
        put16(b, 494, 5);
        put32(b, 496, 2612);
        put16(b, 3896, 0x3000);  // proc_status.iflags: full differential phase range
        task("VOL", 7, 0);
        site("TESTSITE", 0x1C71C71C, 0x0B60B60B, 100, 23, 12300);
        volume_time(Time{});
        radar(1000, 533, 0, 0);
        range(100000, 50000, 20);
        scan(4, 1000, 1);
        mask({kDbz8});
    }
    IngestHeader &task(const std::string &name, int major, int minor, int hybrid = 1) {
        put16(b, 2064, major);
        put16(b, 2066, minor);
        put_text(b, 2068, 12, name);
        put16(b, 2160, hybrid);
        return *this;
    }
    IngestHeader &info(const std::string &text) {
        put_text(b, 2080, 80, text);
        return *this;
    }
    // icf: site name, bin4 latitude and longitude, antenna height above ground and ground height
    // in metres, antenna altitude in cm.
    IngestHeader &site(const std::string &name, uint32_t lat, uint32_t lon, int ground_m,
                       int radar_m, int altitude_cm) {
        put_text(b, 162, 16, name);
        put32(b, 180, lat);
        put32(b, 184, lon);
        put16(b, 188, radar_m);
        put16(b, 190, ground_m);
        put32(b, 200, altitude_cm);
        return *this;
    }
    IngestHeader &volume_time(const Time &t, int minutes_west = 0) {
        put_time(b, 100, t);
        put16(b, 178, minutes_west);
        return *this;
    }
    // tcf.dsp and tcf.misc: PRF (Hz), wavelength (1/100 cm), multi-PRF mode, polarization.
    IngestHeader &radar(int prf, int wavelength, int trig_rate, int polarization) {
        put32(b, 760, prf);
        put32(b, 1744, wavelength);
        put16(b, 768, trig_rate);
        put16(b, 1770, polarization);
        return *this;
    }
    IngestHeader &dsp(int samples, int pulse_width, int gas_atten_code) {
        put16(b, 774, samples);
        put32(b, 764, pulse_width);
        put16(b, 794, gas_atten_code);
        return *this;
    }
    IngestHeader &calibration(int radar_const, int cal_ref) {
        put16(b, 1000, radar_const);
        put16(b, 962, cal_ref);
        return *this;
    }
    // tcf.rng: first bin and bin step in cm, output bins.
    IngestHeader &range(int first_cm, int step_cm, int bins) {
        put32(b, 1264, first_cm);
        put32(b, 1280, step_cm);
        put16(b, 1274, bins);
        return *this;
    }
    // tcf.scan: mode, resolution in 1/1000 degree, sweeps of the task, bin2 sector start.
    IngestHeader &scan(int mode, int resolution, int sweeps, int start = 0) {
        put16(b, 1424, mode);
        put16(b, 1426, resolution);
        put16(b, 1430, sweeps);
        put16(b, 1432, start);
        return *this;
    }
    IngestHeader &sweeps_done(int n) {
        put16(b, 94, n);
        return *this;
    }
    // tcf.dsp.mask holds exactly these codes; tcf.dsp.mask_orig is left as it is.
    IngestHeader &mask(const std::vector<int> &codes) {
        for (size_t i = 0; i < 24; ++i)
            if (i < 4 || i >= 8)  // the extended-header word stays
                put8(b, 628 + i, 0);
        for (int code : codes) {
            const auto [offset, bit] = mask_bit(code);
            b.at(628 + offset + bit / 8) |= static_cast<unsigned char>(1u << (bit % 8));
        }
        return *this;
    }
    static bool mask_has(const Bytes &header, size_t mask_offset, int code) {
        const auto [offset, bit] = mask_bit(code);
        return (header.at(mask_offset + offset + bit / 8) >> (bit % 8)) & 1;
    }
};

// One ray: bin2 angles, seconds after the sweep time, and its bins (codes).
struct Ray {
    uint16_t az_start = 0, el_start = 0, az_end = 0, el_end = 0;
    uint16_t seconds = 0;
    std::vector<int> bins;
    int declared_bins = -1;  // bin count written in the ray header; -1: bins.size()
};

// The words of a ray: 6 header words and the bins, their count rounded up to even.
inline Words ray_words(const Ray &ray, int bits) {
    const int declared =
        ray.declared_bins >= 0 ? ray.declared_bins : static_cast<int>(ray.bins.size());
    Words w = {ray.az_start, ray.el_start, ray.az_end, ray.el_end, static_cast<uint16_t>(declared),
               ray.seconds};
    const size_t even = ray.bins.size() + ray.bins.size() % 2;
    if (bits == 16) {
        for (size_t k = 0; k < even; ++k)
            w.push_back(static_cast<uint16_t>(k < ray.bins.size() ? ray.bins[k] : 0));
    } else {
        for (size_t k = 0; k < even; k += 2) {
            const unsigned lo = static_cast<unsigned>(ray.bins[k]) & 0xFF;
            const unsigned hi =
                k + 1 < ray.bins.size() ? static_cast<unsigned>(ray.bins[k + 1]) & 0xFF : 0;
            w.push_back(static_cast<uint16_t>(lo | (hi << 8)));
        }
    }
    return w;
}

// The data of one data type in a sweep: one optional ray per ray position.
struct Moment {
    int code = kDbz8;
    int bits = 8;
    std::vector<std::optional<Ray>> rays;
};

struct Sweep {
    int isweep = 1;
    Time time;
    uint16_t fixed_angle = 0;
    int irtotl = 0;
    std::vector<Moment> moments;
    int xhdr_position = -1;  // place of an extended header among the data headers; -1: none
    // Changes a data header (76 bytes) before it is stored; index counts all headers.
    std::function<void(Bytes &header, int index)> tweak_header;
    // Changes the sweep's words (data headers and compressed rays) before they are cut into
    // records.
    std::function<void(Words &stream)> tweak_stream;
};

// The ingest data header (76 bytes) of a moment; ibytes counts the pointers and stored rays.
inline Bytes data_header(const Sweep &sweep, int code, int bits, size_t ray_bytes) {
    Bytes h(kDataHeaderSize, 0);
    put16(h, 0, 24);
    put16(h, 2, 3);
    put32(h, 4, static_cast<long long>(kDataHeaderSize + 4 * sweep.irtotl + ray_bytes));
    put16(h, 10, 1);
    put_time(h, 12, sweep.time);
    put16(h, 24, sweep.isweep);
    put16(h, 26, sweep.irtotl);
    put16(h, 30, sweep.irtotl);
    put16(h, 34, sweep.fixed_angle);
    put16(h, 36, bits);
    put16(h, 38, code);
    return h;
}

inline size_t stored_ray_bytes(const Moment &m) {
    size_t bytes = 0;
    for (const auto &ray : m.rays)
        if (ray && !ray->bins.empty())
            bytes += 2 * ray_words(*ray, m.bits).size();
    return bytes;
}

// Run-length compression of one ray: runs of three or more zero words become a count word, other
// words travel in literal runs flagged with 0x8000; code 1 ends the ray.
inline void pack_ray(Words &out, const Words &ray) {
    size_t p = 0;
    auto zeros_at = [&](size_t i) {
        return i + 2 < ray.size() && ray[i] == 0 && ray[i + 1] == 0 && ray[i + 2] == 0;
    };
    while (p < ray.size()) {
        size_t n = 0;
        if (zeros_at(p)) {
            while (p + n < ray.size() && ray[p + n] == 0 && n < 32767)
                ++n;
            out.push_back(static_cast<uint16_t>(n));
        } else {
            n = 1;
            while (p + n < ray.size() && !zeros_at(p + n) && n < 32767)
                ++n;
            out.push_back(static_cast<uint16_t>(0x8000 | n));
            out.insert(out.end(), ray.begin() + static_cast<long>(p),
                       ray.begin() + static_cast<long>(p + n));
        }
        p += n;
    }
    out.push_back(1);
}

// The stream words of a sweep: the data headers, then per ray position one compressed ray per
// header in header order. The extended header's rays hold a few marker words.
inline Words sweep_words(const Sweep &sweep) {
    std::vector<Bytes> headers;
    std::vector<int> header_moment;  // -1 for the extended header
    for (size_t i = 0; i <= sweep.moments.size(); ++i) {
        if (static_cast<int>(headers.size()) == sweep.xhdr_position) {
            Bytes x = data_header(sweep, kXhdr, 16, 20 * static_cast<size_t>(sweep.irtotl));
            headers.push_back(x);
            header_moment.push_back(-1);
        }
        if (i < sweep.moments.size()) {
            const Moment &m = sweep.moments[i];
            headers.push_back(data_header(sweep, m.code, m.bits, stored_ray_bytes(m)));
            header_moment.push_back(static_cast<int>(i));
        }
    }
    Words w;
    for (size_t h = 0; h < headers.size(); ++h) {
        if (sweep.tweak_header)
            sweep.tweak_header(headers[h], static_cast<int>(h));
        for (size_t k = 0; k < kDataHeaderSize; k += 2)
            w.push_back(static_cast<uint16_t>(headers[h][k] | (headers[h][k + 1] << 8)));
    }
    for (int p = 0; p < sweep.irtotl; ++p) {
        for (int m : header_moment) {
            if (m < 0) {
                pack_ray(w, Words{0xABCD, 0, 0, 0, 4, 0, 0xE1, 0xE2, 0xE3, 0xE4});
                continue;
            }
            const auto &ray = sweep.moments[static_cast<size_t>(m)].rays.at(static_cast<size_t>(p));
            if (ray && !ray->bins.empty())
                pack_ray(w, ray_words(*ray, sweep.moments[static_cast<size_t>(m)].bits));
            else
                w.push_back(1);  // absent ray
        }
    }
    if (sweep.tweak_stream)
        sweep.tweak_stream(w);
    return w;
}

// A RAW product file: product header record, ingest header record, then each sweep's words cut
// into records of 3066 data words behind a 12-byte record header (record number, sweep number).
struct RawFile {
    IngestHeader ingest;
    uint32_t raw_flags = 0;
    std::vector<Sweep> sweeps;

    Bytes bytes() const {
        Bytes out(2 * kRecordSize, 0);
        put16(out, 0, 27);  // product header
        put16(out, 2, 8);
        put16(out, 12, 26);  // product configuration
        put16(out, 14, 6);
        put32(out, 16, 320);
        put16(out, 24, 15);  // RAW product
        put32(out, 188, raw_flags);
        std::copy(ingest.b.begin(), ingest.b.end(), out.begin() + kRecordSize);
        int record = 2;
        for (const Sweep &sweep : sweeps) {
            const Words w = sweep_words(sweep);
            const size_t per_record = kRecordWords - kRecordHeaderWords;
            for (size_t start = 0; start < w.size(); start += per_record) {
                Bytes rec(kRecordSize, 0);
                put16(rec, 0, record++);
                put16(rec, 2, sweep.isweep);
                for (size_t k = 0; k < per_record && start + k < w.size(); ++k)
                    put16(rec, 2 * (kRecordHeaderWords + k), w[start + k]);
                out.insert(out.end(), rec.begin(), rec.end());
            }
        }
        put32(out, 4, static_cast<long long>(out.size()));
        return out;
    }
};

// An ingest data file of one moment: data header, one ray pointer per ray position (0 = no ray,
// else 1 + the ray's byte offset in the ray area) and the ray area.
inline Bytes ingest_data_file(const Sweep &sweep, const Moment &m) {
    Bytes out = data_header(sweep, m.code, m.bits, stored_ray_bytes(m));
    Bytes pointers(4 * static_cast<size_t>(sweep.irtotl), 0);
    Bytes area;
    for (int p = 0; p < sweep.irtotl; ++p) {
        const auto &ray = m.rays.at(static_cast<size_t>(p));
        if (!ray || ray->bins.empty())
            continue;
        put32(pointers, 4 * static_cast<size_t>(p), static_cast<long long>(area.size() + 1));
        for (uint16_t word : ray_words(*ray, m.bits)) {
            area.push_back(static_cast<unsigned char>(word & 0xFF));
            area.push_back(static_cast<unsigned char>(word >> 8));
        }
    }
    out.insert(out.end(), pointers.begin(), pointers.end());
    out.insert(out.end(), area.begin(), area.end());
    return out;
}

// The code of bin k at ray position p of moment m of a sweep made by make_sweep: never 0, so
// that every bin is data.
inline int sample_code(int isweep, int m, int p, int k, int bits) {
    const int v = 1 + (isweep * 37 + m * 101 + p * 13 + k * 7) % 250;
    return bits == 8 ? v : v * 200 + k;
}

// A sweep of rays ray positions evenly over a circle, one moment per (code, bits), each ray with
// bins sample codes; fixed angle as bin2; ray p taken p seconds after the sweep time.
inline Sweep make_sweep(int isweep, int rays, const std::vector<std::pair<int, int>> &moments,
                        int bins, uint16_t fixed_angle = 0x038E) {
    Sweep s;
    s.isweep = isweep;
    s.irtotl = rays;
    s.fixed_angle = fixed_angle;
    s.time.seconds += 60 * isweep;
    for (size_t m = 0; m < moments.size(); ++m) {
        Moment mo{moments[m].first, moments[m].second, {}};
        for (int p = 0; p < rays; ++p) {
            Ray r;
            r.az_start = static_cast<uint16_t>(p * 65536 / rays);
            r.az_end = static_cast<uint16_t>((p + 1) * 65536 / rays);
            r.el_start = r.el_end = fixed_angle;
            r.seconds = static_cast<uint16_t>(p);
            for (int k = 0; k < bins; ++k)
                r.bins.push_back(sample_code(isweep, static_cast<int>(m), p, k, mo.bits));
            mo.rays.push_back(r);
        }
        s.moments.push_back(std::move(mo));
    }
    return s;
}

// Message callback that keeps the texts, for tests of the readers and the writer.
inline std::vector<std::string> &messages() {
    static std::vector<std::string> texts;
    return texts;
}
inline void collect_message(const char *text) {
    messages().emplace_back(text);
}

// Next-file callback over files held in memory, with a count of the calls.
struct MemoryFiles {
    std::vector<Bytes> files;
    size_t next = 0;
    int calls = 0;

    static FILE *next_file(void *arg) {
        auto *self = static_cast<MemoryFiles *>(arg);
        ++self->calls;
        if (self->next >= self->files.size())
            return nullptr;
        const Bytes &bytes = self->files[self->next++];
        FILE *file = std::tmpfile();
        if (file != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::rewind(file);
        }
        return file;
    }
};

}  // namespace rawfile

#endif  // PVOL_TESTS_RAW_FILE_BUILDER_H
