// Writes the seed corpora and the must-reject files of the fuzz targets from synthetic files made
// by the test file builder:
//
//   fuzz_make_seeds FUZZ_FOLDER
//
// Seeds go to FUZZ_FOLDER/corpus/<target>/, refusals to FUZZ_FOLDER/must_reject/<target>/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "raw_file_builder.h"
#include "pvol_handles.h"

namespace {

using namespace rawfile;
namespace fs = std::filesystem;

fs::path g_root;

void write(const std::string &folder, const std::string &name, const Bytes &bytes) {
    const fs::path dir = g_root / folder;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<int> codes_of(const std::vector<std::pair<int, int>> &moments) {
    std::vector<int> codes;
    for (const auto &m : moments)
        codes.push_back(m.first);
    return codes;
}

// A PPI task of sweeps sweeps of rays rays of bins bins, one moment per (code, bits).
RawFile volume(int sweeps, const std::vector<std::pair<int, int>> &moments, int rays = 6,
               int bins = 10) {
    RawFile file;
    file.ingest.scan(4, 60000, sweeps).mask(codes_of(moments)).range(100000, 50000, bins);
    file.ingest.sweeps_done(sweeps);
    for (int s = 1; s <= sweeps; ++s)
        file.sweeps.push_back(make_sweep(s, rays, moments, bins, static_cast<uint16_t>(0x100 * s)));
    return file;
}

// The RAW reader's input: the widening flag, then the files.
Bytes raw_input(int force_16_bit, const std::vector<Bytes> &files) {
    Bytes out{static_cast<uint8_t>(force_16_bit)};
    const Bytes joined = fuzz::join_files(files);
    out.insert(out.end(), joined.begin(), joined.end());
    return out;
}

void raw_seeds() {
    write("corpus/raw_reader", "one_sweep_8bit", raw_input(0, {volume(1, {{kDbz8, 8}}).bytes()}));

    RawFile mixed = volume(1, {{kDbz8, 8}, {kVel16, 16}, {kPhidp8, 8}});
    mixed.sweeps[0].xhdr_position = 0;
    for (Moment &m : mixed.sweeps[0].moments) {
        m.rays[2]->bins.resize(3);
        m.rays[4].reset();
    }
    write("corpus/raw_reader", "mixed_widened_xhdr", raw_input(1, {mixed.bytes()}));

    RawFile a = volume(1, {{kDbz8, 8}});
    RawFile b = volume(1, {{kDbz8, 8}});
    a.ingest.task("VOL_A", 7, 0, 2);
    b.ingest.task("VOL_B", 7, 1, 2).scan(1, 60000, 1, 0x2000);
    write("corpus/raw_reader", "hybrid_two_tasks", raw_input(0, {a.bytes(), b.bytes()}));

    const RawFile task = volume(2, {{kZdr16, 16}});
    std::vector<Bytes> per_sweep;
    for (const Sweep &s : task.sweeps) {
        RawFile one = task;
        one.raw_flags = 1;
        one.ingest.sweeps_done(1);
        one.sweeps = {s};
        per_sweep.push_back(one.bytes());
    }
    write("corpus/raw_reader", "per_sweep_files", raw_input(1, per_sweep));

    // Refusals: each leaves no scan.
    const Bytes good = volume(1, {{kDbz8, 8}, {kVel16, 16}}).bytes();
    auto changed = [&](size_t offset, int value) {
        Bytes bytes = good;
        put16(bytes, offset, value);
        return raw_input(0, {bytes});
    };
    const size_t headers = 2 * kRecordSize + 2 * kRecordHeaderWords;  // first data header
    write("must_reject/raw_reader", "empty", Bytes{});
    write("must_reject/raw_reader", "no_file", raw_input(0, {}));
    write("must_reject/raw_reader", "truncated_product_header",
          raw_input(0, {Bytes(good.begin(), good.begin() + 100)}));
    write("must_reject/raw_reader", "truncated_ingest_header",
          raw_input(0, {Bytes(good.begin(), good.begin() + kRecordSize + 2000)}));
    write("must_reject/raw_reader", "truncated_data_headers",
          raw_input(0, {Bytes(good.begin(), good.begin() + headers + 40)}));
    write("must_reject/raw_reader", "wrong_product_header_id", changed(0, 28));
    write("must_reject/raw_reader", "not_a_raw_product", changed(24, 14));
    write("must_reject/raw_reader", "wrong_ingest_header_id", changed(kRecordSize, 22));
    write("must_reject/raw_reader", "wrong_data_header_id", changed(headers, 25));
    write("must_reject/raw_reader", "bad_bit_count", changed(headers + 36, 12));
    write("must_reject/raw_reader", "unknown_data_type", changed(headers + 38, 200));
    write("must_reject/raw_reader", "unequal_ray_counts",
          changed(headers + kDataHeaderSize + 30, 7));
    write("must_reject/raw_reader", "no_ray_positions", [&] {
        RawFile f = volume(1, {{kDbz8, 8}});
        f.sweeps[0].tweak_header = [](Bytes &h, int) { put16(h, 30, 0); };
        return raw_input(0, {f.bytes()});
    }());
    write("must_reject/raw_reader", "huge_ray_count", [&] {
        RawFile f = volume(1, {{kDbz8, 8}});
        f.sweeps[0].tweak_header = [](Bytes &h, int) {
            put16(h, 26, 30000);
            put16(h, 30, 30000);
        };
        return raw_input(0, {f.bytes()});
    }());
    write("must_reject/raw_reader", "bins_beyond_ray", [&] {
        RawFile f = volume(1, {{kDbz8, 8}});
        f.sweeps[0].moments[0].rays[3]->declared_bins = 100;
        return raw_input(0, {f.bytes()});
    }());
    write("must_reject/raw_reader", "malformed_code", [&] {
        RawFile f = volume(1, {{kDbz8, 8}});
        f.sweeps[0].tweak_stream = [](Words &w) { w[38] = 2; };
        return raw_input(0, {f.bytes()});
    }());
    write("must_reject/raw_reader", "other_major_task", [&] {
        RawFile second = volume(1, {{kDbz8, 8}});
        second.ingest.task("VOL", 8, 1);
        return raw_input(0, {good, second.bytes()});
    }());
    write("must_reject/raw_reader", "negative_sweep_count", [&] {
        RawFile second = volume(1, {{kDbz8, 8}});
        second.ingest.task("VOL", 7, 1).scan(4, 30000, -2);
        return raw_input(0, {good, second.bytes()});
    }());
}

void check_file_seeds() {
    write("corpus/check_file", "one_sweep", volume(1, {{kDbz8, 8}}).bytes());
    RawFile hybrid = volume(1, {{kDbz8, 8}});
    hybrid.ingest.task("VOL_B", 7, 1, 2);
    hybrid.raw_flags = 1;
    write("corpus/check_file", "hybrid_task_sweep", hybrid.bytes());

    const Bytes good = volume(1, {{kDbz8, 8}}).bytes();
    auto changed = [&](size_t offset, int value) {
        Bytes bytes = good;
        put16(bytes, offset, value);
        return bytes;
    };
    write("must_reject/check_file", "empty", Bytes{});
    write("must_reject/check_file", "truncated_product_header",
          Bytes(good.begin(), good.begin() + 100));
    write("must_reject/check_file", "truncated_ingest_header",
          Bytes(good.begin(), good.begin() + kRecordSize + 2000));
    write("must_reject/check_file", "wrong_product_header_id", changed(0, 28));
    write("must_reject/check_file", "not_a_raw_product", changed(24, 14));
}

// Ingest files in the order the reader asks for them.
struct IngestFiles {
    std::vector<RawFile> tasks;
    std::vector<Bytes> handed;

    static FILE *open(void *arg, int data_type, int bin_format, int sweep_index, int task_index) {
        auto *self = static_cast<IngestFiles *>(arg);
        const size_t t = static_cast<size_t>(task_index < 0 ? 0 : task_index);
        if (t >= self->tasks.size())
            return nullptr;
        const RawFile &task = self->tasks[t];
        Bytes bytes;
        if (data_type == 0) {
            bytes = task.ingest.b;
        } else {
            if (sweep_index < 0 || static_cast<size_t>(sweep_index) >= task.sweeps.size())
                return nullptr;
            const raw_data_type_desc &desc = raw_data_types[data_type + 1];
            const int code = bin_format == 1 ? desc.orva_code_8 : desc.orva_code_16;
            const Sweep &sweep = task.sweeps[static_cast<size_t>(sweep_index)];
            for (const Moment &m : sweep.moments)
                if (m.code == code)
                    bytes = ingest_data_file(sweep, m);
            if (bytes.empty())
                return nullptr;
        }
        self->handed.push_back(bytes);
        FILE *file = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
        return file;
    }
};

Bytes ingest_input(const std::vector<RawFile> &tasks) {
    IngestFiles files{tasks, {}};
    ScanHandle scan(pvol_new_from_ingest(&files, IngestFiles::open, nullptr));
    if (scan == nullptr)
        std::fprintf(stderr, "fuzz_make_seeds: ingest seed does not read\n");
    return fuzz::join_files(files.handed);
}

void ingest_seeds() {
    RawFile one = volume(2, {{kDbz8, 8}, {kVel16, 16}});
    write("corpus/ingest_reader", "two_sweeps", ingest_input({one}));

    RawFile a = volume(1, {{kDbz8, 8}});
    RawFile b = volume(1, {{kWidth8, 8}});
    a.ingest.task("VOL_A", 7, 0, 2);
    b.ingest.task("VOL_B", 7, 1, 2).scan(1, 60000, 1, 0x2000);
    write("corpus/ingest_reader", "hybrid", ingest_input({a, b}));

    const Bytes good = ingest_input({volume(1, {{kDbz8, 8}})});
    const std::vector<Bytes> files = fuzz::split_files(good.data(), good.size());
    Bytes header = files.at(0);
    Bytes data = files.at(1);
    auto joined = [](Bytes h, Bytes d) { return fuzz::join_files({std::move(h), std::move(d)}); };
    write("must_reject/ingest_reader", "empty", Bytes{});
    write("must_reject/ingest_reader", "header_only", header);
    write("must_reject/ingest_reader", "truncated_header",
          joined(Bytes(header.begin(), header.begin() + 1000), data));
    Bytes wrong_id = header;
    put16(wrong_id, 0, 24);
    write("must_reject/ingest_reader", "wrong_header_id", joined(wrong_id, data));
    write("must_reject/ingest_reader", "truncated_data",
          joined(header, Bytes(data.begin(), data.begin() + 90)));
    Bytes bad_bits = data;
    put16(bad_bits, 36, 12);
    write("must_reject/ingest_reader", "bad_bit_count", joined(header, bad_bits));
    Bytes bad_pointer = data;
    put32(bad_pointer, kDataHeaderSize + 4, 0x7FFFFFF0);
    write("must_reject/ingest_reader", "pointer_beyond_data", joined(header, bad_pointer));
}

void data_block_seeds() {
    const Sweep s8 = make_sweep(1, 6, {{kDbz8, 8}}, 10);
    const Sweep s16 = make_sweep(1, 6, {{kPhidp16, 16}}, 9);
    Sweep sparse = make_sweep(2, 6, {{kVel8, 8}}, 7);
    sparse.moments[0].rays[1].reset();
    sparse.moments[0].rays[3]->bins.resize(2);
    write("corpus/data_block", "dbz_8bit", ingest_data_file(s8, s8.moments[0]));
    write("corpus/data_block", "phidp_16bit", ingest_data_file(s16, s16.moments[0]));
    write("corpus/data_block", "sparse_8bit", ingest_data_file(sparse, sparse.moments[0]));

    const Bytes good = ingest_data_file(s8, s8.moments[0]);
    auto changed = [&](size_t offset, long long value, int width) {
        Bytes bytes = good;
        if (width == 2)
            put16(bytes, offset, static_cast<long>(value));
        else
            put32(bytes, offset, value);
        return bytes;
    };
    write("must_reject/data_block", "short_header", Bytes(good.begin(), good.begin() + 50));
    write("must_reject/data_block", "truncated", Bytes(good.begin(), good.end() - 3));
    write("must_reject/data_block", "bad_bit_count", changed(36, 12, 2));
    write("must_reject/data_block", "unknown_data_type", changed(38, 200, 2));
    write("must_reject/data_block", "byte_count", changed(4, good.size() + 2, 4));
    write("must_reject/data_block", "pointer_beyond_data",
          changed(kDataHeaderSize, good.size(), 4));
    write("must_reject/data_block", "odd_pointer", changed(kDataHeaderSize, 2, 4));
    write("must_reject/data_block", "bins_beyond_ray",
          changed(kDataHeaderSize + 4 * 6 + 8, 500, 2));
}

// Records of the given words, numbered from 2, behind the unpack target's capacity.
Bytes stream_input(uint16_t capacity, const Words &words) {
    Bytes out{static_cast<uint8_t>(capacity & 0xFF), static_cast<uint8_t>(capacity >> 8)};
    const size_t per_record = kRecordWords - kRecordHeaderWords;
    for (size_t start = 0, record = 2; start < words.size() || start == 0;
         start += per_record, ++record) {
        Bytes rec(kRecordSize, 0);
        put16(rec, 0, static_cast<long>(record));
        for (size_t k = 0; k < per_record && start + k < words.size(); ++k)
            put16(rec, 2 * (kRecordHeaderWords + k), words[start + k]);
        out.insert(out.end(), rec.begin(), rec.end());
        if (words.empty())
            break;
    }
    return out;
}

void stream_seeds() {
    Words rays;
    pack_ray(rays, {5, 0, 0, 0, 0, 7, 8, 0, 0});
    rays.push_back(1);  // an absent ray
    pack_ray(rays, {1, 2, 3});
    write("corpus/i16stream_unpack", "three_rays", stream_input(64, rays));
    Words across;
    pack_ray(across, Words(3500, 7));
    write("corpus/i16stream_unpack", "across_records", stream_input(4200, across));

    write("must_reject/i16stream_unpack", "noop_code", stream_input(64, {2, 1}));
    write("must_reject/i16stream_unpack", "bare_literal_flag", stream_input(64, {0x8000, 1}));
    write("must_reject/i16stream_unpack", "run_beyond_capacity", stream_input(8, {9, 1}));
    write("must_reject/i16stream_unpack", "literals_beyond_data",
          stream_input(64, {0x8000 | 20, 1, 2}));
    Bytes wrong_record = stream_input(64, {3, 1});
    put16(wrong_record, 2, 3);
    write("must_reject/i16stream_unpack", "wrong_record_number", wrong_record);

    auto words_bytes = [](const Words &w) {
        Bytes out;
        for (uint16_t v : w) {
            out.push_back(static_cast<uint8_t>(v & 0xFF));
            out.push_back(static_cast<uint8_t>(v >> 8));
        }
        return out;
    };
    write("corpus/ray_roundtrip", "zeros_and_literals", words_bytes({0, 0, 0, 9, 0, 0, 1, 2, 0}));
    write("corpus/ray_roundtrip", "long_zero_run", words_bytes(Words(32800, 0)));
    write("corpus/ray_roundtrip", "codes_as_data", words_bytes({1, 2, 0x8000, 0xFFFF, 0, 0}));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FUZZ_FOLDER\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    raw_seeds();
    ingest_seeds();
    data_block_seeds();
    stream_seeds();
    check_file_seeds();
    return 0;
}
