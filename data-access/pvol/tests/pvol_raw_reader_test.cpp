// The RAW product reader on synthetic product files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "pvol/pvol_prod_io.h"
#include "pvol_handles.h"
#include "raw_file_builder.h"
#include "reader_checks.h"
#include "temp_dir.h"

namespace {

using namespace rawfile;

// A PPI task of sweeps sweeps of 12 rays of bins bins, one moment per (code, bits).
RawFile volume(int sweeps, const std::vector<std::pair<int, int>> &moments, int bins = 20) {
    RawFile file;
    file.ingest.scan(4, 30000, sweeps).mask(codes_of(moments)).range(100000, 50000, bins);
    for (int s = 1; s <= sweeps; ++s)
        file.sweeps.push_back(make_sweep(s, 12, moments, bins, static_cast<uint16_t>(0x100 * s)));
    return file;
}

struct Reading {
    ScanHandle scan;
    std::vector<std::string> messages;
    int calls = 0;
};

Reading read(const std::vector<Bytes> &files, int force_16_bit = 0,
             pvol_message_callback message = collect_message) {
    messages().clear();
    MemoryFiles source{files};
    Reading r;
    r.scan.reset(pvol_new_from_raw2(&source, MemoryFiles::next_file, message, force_16_bit));
    r.messages = messages();
    r.calls = source.calls;
    return r;
}

TEST(RawReaderTest, MultiSweepVolumeReadsBackEveryRay) {
    const RawFile file = volume(3, {{kDbz8, 8}, {kVel16, 16}});
    const Reading r = read({file.bytes()});
    ASSERT_NE(r.scan, nullptr);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(name_of(r.scan.get()), "VOL");
    EXPECT_EQ(pvol_get_scheduled_sweeps(r.scan.get()), 3);
    EXPECT_EQ(pvol_get_sweepconf_count(r.scan.get()), 1u);
    EXPECT_EQ(pvol_get_rayconf_count(r.scan.get()), 1u);
    const auto sweeps = sweeps_of(r.scan.get());
    ASSERT_EQ(sweeps.size(), 3u);
    EXPECT_EQ(schedule_of(r.scan.get()), (std::vector<int>{0, 1, 2}));
    for (size_t s = 0; s < 3; ++s) {
        SCOPED_TRACE(s);
        EXPECT_NEAR(rsweep_get_fixed_angle(sweeps[s]), 0x100 * (s + 1) * kBin2ToRadians, 1e-12);
        expect_same_rays(sweeps[s], file.sweeps[s]);
    }

    const radar_sweep_conf *sconf = rsweep_get_config(sweeps[0]);
    EXPECT_EQ(sweepconf_get_type(sconf), SWEEP_PPI);
    dscan sector;
    sweepconf_get_sector(sconf, &sector);
    EXPECT_EQ(sector.count, 12u);
    EXPECT_DOUBLE_EQ(sector.step, M_PI / 6);
    EXPECT_EQ(sweepconf_get_int(sconf, "ORVA Sweep Major Task ID"), 7);
    // The stored ingest header carries the mask as the original mask when none was recorded.
    ingest_header stored;
    uint64_t length = sizeof stored;
    ASSERT_NE(sweepconf_get_buf(sconf, "ORVA Sweep Ingest Header", &stored, &length), nullptr);
    EXPECT_EQ(length, sizeof stored);
    EXPECT_EQ(std::memcmp(&stored.tcf.dsp.mask_orig, &stored.tcf.dsp.mask, 24), 0);
    EXPECT_TRUE(lDspMaskTest(&stored.tcf.dsp.mask, kVel16));

    const radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    ASSERT_EQ(rayconf_get_moments_count(rconf), 2u);
    EXPECT_EQ(rmoment_get_raw_type(rayconf_get_moment(rconf, 0)), RD_DBZ);
    EXPECT_EQ(rmoment_get_raw_type(rayconf_get_moment(rconf, 1)), RD_VEL);
}

TEST(RawReaderTest, ForcedWideningKeepsPhysicalValues) {
    const RawFile file = volume(1, {{kDbz8, 8}, {kZdr16, 16}});
    const Reading narrow = read({file.bytes()});
    const Reading wide = read({file.bytes()}, 1);
    ASSERT_NE(narrow.scan, nullptr);
    ASSERT_NE(wide.scan, nullptr);
    const radar_ray *a = rsweep_get_ray(sweeps_of(narrow.scan.get())[0], 3);
    const radar_ray *b = rsweep_get_ray(sweeps_of(wide.scan.get())[0], 3);
    native_data_desc scale;
    rmoment_get_scale(rayconf_get_moment(rray_get_config(a), 0), &scale);
    EXPECT_EQ(scale.bin_format, BITS_8);
    rmoment_get_scale(rayconf_get_moment(rray_get_config(b), 0), &scale);
    EXPECT_EQ(scale.bin_format, BITS_16);

    RayDataHandle va(radar_ray_data_new());
    RayDataHandle vb(radar_ray_data_new());
    for (int slot : {0, 1}) {
        ASSERT_NE(rray_get_dat(a, slot, va.get()), nullptr);
        ASSERT_NE(rray_get_dat(b, slot, vb.get()), nullptr);
        ASSERT_EQ(va->bins, vb->bins);
        for (uint64_t k = 0; k < va->bins; ++k)
            EXPECT_NEAR(static_cast<double *>(va->data)[k], static_cast<double *>(vb->data)[k],
                        0.01)
                << "slot " << slot << " bin " << k;
    }

    ingest_header stored;
    uint64_t length = sizeof stored;
    sweepconf_get_buf(pvol_get_next_sweepconf(wide.scan.get(), nullptr), "ORVA Sweep Ingest Header",
                      &stored, &length);
    EXPECT_TRUE(lDspMaskTest(&stored.tcf.dsp.mask, kDbz16));
    EXPECT_FALSE(lDspMaskTest(&stored.tcf.dsp.mask, kDbz8));
}

TEST(RawReaderTest, ExtendedHeaderRaysArePassedOver) {
    const std::vector<std::pair<int, int>> moments = {{kDbz16, 16}, {kVel8, 8}, {kWidth8, 8}};
    // Second of the four headers, unannounced; then announced by the mask at every place,
    // after the data types' headers too.
    for (const auto &[position, announced] :
         std::vector<std::pair<int, bool>>{{1, false}, {0, true}, {1, true}, {3, true}}) {
        SCOPED_TRACE(position);
        RawFile file = volume(2, moments);
        if (announced) {
            std::vector<int> codes = codes_of(moments);
            codes.push_back(kXhdr);
            file.ingest.mask(codes);
        }
        for (Sweep &s : file.sweeps)
            s.xhdr_position = position;
        const Reading r = read({file.bytes()});
        ASSERT_NE(r.scan, nullptr);
        EXPECT_TRUE(r.messages.empty());
        const auto sweeps = sweeps_of(r.scan.get());
        ASSERT_EQ(sweeps.size(), 2u);
        expect_same_rays(sweeps[0], file.sweeps[0]);
        expect_same_rays(sweeps[1], file.sweeps[1]);
    }
}

TEST(RawReaderTest, AbsentAndShortRays) {
    RawFile file = volume(1, {{kDbz8, 8}, {kVel8, 8}});
    Sweep &s = file.sweeps[0];
    s.moments[0].rays[2].reset();  // only the second moment holds position 2
    s.moments[0].rays[5].reset();  // no moment holds position 5
    s.moments[1].rays[5].reset();
    s.moments[1].rays[6]->bins.resize(7);  // shorter than the range mask
    s.tweak_header = [](Bytes &h, int index) {
        if (index == 1)
            put32(h, 12, Time{}.seconds + 90);  // the second moment's sweep time
    };
    const Reading r = read({file.bytes()});
    ASSERT_NE(r.scan, nullptr);
    const radar_sweep *sweep = sweeps_of(r.scan.get())[0];
    // Position 5 holds no ray, and the later rays keep their positions.
    ASSERT_EQ(rsweep_get_ray_count(sweep), 12u);
    EXPECT_EQ(rsweep_get_ray(sweep, 5), nullptr);
    struct timeval t;
    rray_get_time(rsweep_get_ray(sweep, 2), &t);
    EXPECT_EQ(t.tv_sec, Time{}.posix() + 90 + 2);
    rray_get_time(rsweep_get_ray(sweep, 1), &t);
    EXPECT_EQ(t.tv_sec, s.time.posix() + 1);

    RayDataHandle buffer(radar_ray_data_new());
    ASSERT_NE(rray_get_native(rsweep_get_ray(sweep, 6), 1, buffer.get()), nullptr);
    ASSERT_EQ(buffer->bins, 20u);
    const auto *codes = static_cast<uint8_t *>(buffer->data);
    EXPECT_EQ(codes[6], s.moments[1].rays[6]->bins[6]);
    EXPECT_EQ(codes[7], 0);
    EXPECT_EQ(codes[19], 0);
}

// Two files of a hybrid task: task A with 3 sweeps, task B with 2.
std::vector<Bytes> hybrid(const std::string &name_a, const std::string &name_b) {
    RawFile a = volume(3, {{kDbz8, 8}});
    RawFile b = volume(2, {{kDbz8, 8}});
    a.ingest.task(name_a, 7, 0, 2);
    b.ingest.task(name_b, 7, 1, 2).scan(1, 30000, 2, 0x2000);
    return {a.bytes(), b.bytes()};
}

TEST(RawReaderTest, HybridTaskFilesCombineIntoOneSchedule) {
    const Reading r = read(hybrid("VOL_A", "VOL_B"));
    ASSERT_NE(r.scan, nullptr);
    EXPECT_EQ(schedule_of(r.scan.get()), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(pvol_get_scheduled_sweeps(r.scan.get()), 5);
    EXPECT_EQ(pvol_get_sweepconf_count(r.scan.get()), 2u);
    EXPECT_EQ(name_of(r.scan.get()), "VOL");

    EXPECT_EQ(name_of(read(hybrid("AB_c", "AB_d")).scan.get()), "AB_c");
    EXPECT_EQ(name_of(read(hybrid("_A", "_B")).scan.get()), "_A");
    RawFile single = volume(1, {{kDbz8, 8}});
    single.ingest.task("VOL_A", 7, 0);
    EXPECT_EQ(name_of(read({single.bytes()}).scan.get()), "VOL_A");
}

TEST(RawReaderTest, PerSweepFilesOfOneTaskShareTheirConfiguration) {
    const RawFile task = volume(3, {{kDbz8, 8}, {kVel16, 16}});
    std::vector<Bytes> files;
    for (const Sweep &s : task.sweeps) {
        RawFile one = task;
        one.ingest.task("VOL_A", 7, 0);
        one.raw_flags = 1;
        one.sweeps = {s};
        files.push_back(one.bytes());
    }
    const Reading r = read(files);
    ASSERT_NE(r.scan, nullptr);
    EXPECT_EQ(schedule_of(r.scan.get()), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(pvol_get_scheduled_sweeps(r.scan.get()), 3);
    EXPECT_EQ(pvol_get_sweepconf_count(r.scan.get()), 1u);
    EXPECT_EQ(name_of(r.scan.get()), "VOL_A");  // one configuration: no hybrid suffix to undo
    const auto sweeps = sweeps_of(r.scan.get());
    for (size_t s = 0; s < 3; ++s)
        expect_same_rays(sweeps[s], task.sweeps[s]);
}

TEST(RawReaderTest, NumberOfSweepsRead) {
    struct Case {
        int done, planned;
        uint32_t flags;
        size_t expected;
    };
    // A negative count done counts as none.
    for (const Case c : {Case{0, 4, 0, 4}, Case{6, 4, 0, 4}, Case{2, 4, 0, 2}, Case{-2, 4, 0, 4},
                         Case{0, 4, 1, 1}}) {
        RawFile file = volume(4, {{kDbz8, 8}});
        file.ingest.sweeps_done(c.done).scan(4, 30000, c.planned);
        file.raw_flags = c.flags;
        const Reading r = read({file.bytes()});
        ASSERT_NE(r.scan, nullptr);
        EXPECT_EQ(pvol_get_sweeps_count(r.scan.get()), c.expected) << c.done << " " << c.flags;
    }
}

// ---- bad input: a message, the documented result, never a crash ----

struct BadInput {
    const char *what;
    std::function<std::vector<Bytes>()> files;
    std::vector<std::string> messages;  // whole texts, or parts of them without the newline
    bool scan_kept;                     // the first file's scan survives
};

Bytes good_file() {
    return volume(2, {{kDbz8, 8}, {kVel16, 16}}).bytes();
}

RawFile good_with(const std::function<void(Sweep &)> &change) {
    RawFile file = volume(2, {{kDbz8, 8}, {kVel16, 16}});
    change(file.sweeps[1]);
    return file;
}

std::function<std::vector<Bytes>()> sweep_change(const std::function<void(Sweep &)> &change) {
    return [change] { return std::vector<Bytes>{good_with(change).bytes()}; };
}

std::function<std::vector<Bytes>()> header_change(int index, size_t offset, int value) {
    return sweep_change([=](Sweep &s) {
        s.tweak_header = [=](Bytes &h, int i) {
            if (i == index)
                put16(h, offset, value);
        };
    });
}

std::function<std::vector<Bytes>()> byte_change(size_t offset, int value, bool second) {
    return [=] {
        Bytes b = good_file();
        put16(b, offset, value);
        return second ? std::vector<Bytes>{good_file(), b} : std::vector<Bytes>{b};
    };
}

const std::vector<BadInput> &bad_inputs() {
    static const std::vector<BadInput> cases = {
        {"no file", [] { return std::vector<Bytes>{}; }, {"No input files found.\n"}, false},
        {"product header id",
         byte_change(0, 26, false),
         {"File has an invalid header ID, not an ORVA product.\n"},
         false},
        {"product header id of a later file",
         byte_change(0, 26, true),
         {"File has an invalid header ID, not an ORVA product.\n"},
         true},
        {"product type", byte_change(24, 14, true), {"File is not a RAW ORVA product.\n"}, true},
        {"short product header",
         [] {
             return std::vector<Bytes>{good_file(), Bytes(600, 0)};
         },
         {"too short for an ORVA product header"},
         true},
        {"short ingest header",
         [] {
             Bytes b = good_file();
             b.resize(kRecordSize + 4000);
             return std::vector<Bytes>{good_file(), b};
         },
         {"too short for an ingest header"},
         true},
        {"ingest header id",
         byte_change(kRecordSize, 22, false),
         {"invalid ingest header ID"},
         false},
        {"truncated sweep",
         [] {
             Bytes b = good_file();
             b.resize(b.size() - kRecordSize / 2);
             return std::vector<Bytes>{b};
         },
         {"ends before the data headers of sweep 2"},
         false},
        {"wrong record number",
         byte_change(3 * kRecordSize, 9, false),
         {"ends before the data headers of sweep 2"},
         false},
        {"bad bit count",
         header_change(1, 36, 12),
         {"bit count = 12\n", "Ingest file has bad bit count\n"},
         false},
        {"unequal ray counts", header_change(1, 30, 7), {"inconsistent data header"}, false},
        {"data header size", header_change(0, 4, 76), {"inconsistent data header"}, false},
        {"data header id", header_change(0, 0, 25), {"inconsistent data header"}, false},
        {"sweep number", header_change(1, 24, 0), {"inconsistent data header"}, false},
        {"no ray positions",
         sweep_change([](Sweep &s) { s.tweak_header = [](Bytes &h, int) { put16(h, 30, 0); }; }),
         {"inconsistent data header"},
         false},
        {"unknown data type code",
         header_change(1, 38, 200),
         {"unknown data type code 200"},
         false},
        {"bins beyond the ray",
         sweep_change([](Sweep &s) { s.moments[0].rays[3]->declared_bins = 100; }),
         {"more bins than words"},
         false},
        {"ray beyond the unpack capacity",
         sweep_change([](Sweep &s) { s.moments[1].rays[3]->bins.assign(4300, 77); }),
         {"malformed ray"},
         false},
        {"ray longer than the range mask",
         sweep_change([](Sweep &s) { s.moments[1].rays[3]->bins.assign(30, 77); }),
         {"cannot be built"},
         false},
        {"malformed compression code",
         sweep_change([](Sweep &s) { s.tweak_stream = [](Words &w) { w[2 * 38] = 2; }; }),
         {"malformed ray"},
         false},
        {"other major task",
         [] {
             RawFile b = volume(1, {{kDbz8, 8}});
             b.ingest.task("VOL", 8, 1);
             return std::vector<Bytes>{good_file(), b.bytes()};
         },
         {"does not continue the task"},
         false},
        {"negative sweep count",
         [] {
             RawFile b = volume(1, {{kDbz8, 8}});
             b.ingest.task("VOL", 7, 1).scan(4, 30000, -3);
             return std::vector<Bytes>{good_file(), b.bytes()};
         },
         {"File has a negative sweep count (-3).\n"},
         false},
        {"earlier minor task",
         [] {
             RawFile a = volume(1, {{kDbz8, 8}}), b = volume(1, {{kDbz8, 8}});
             a.ingest.task("VOL", 7, 1);
             return std::vector<Bytes>{a.bytes(), b.bytes()};
         },
         {"does not continue the task"},
         false},
    };
    return cases;
}

TEST(RawReaderBadInputTest, EachFailureEndsWithAMessageAndItsResult) {
    for (const BadInput &c : bad_inputs()) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> files = c.files();
        const size_t count = files.size();
        if (count > 0)
            files.push_back(good_file());  // never read after a failure
        testing::internal::CaptureStdout();
        const Reading r = read(files);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(r.scan != nullptr, c.scan_kept);
        if (r.scan) {
            EXPECT_EQ(pvol_get_sweeps_count(r.scan.get()), 2u);
        }
        EXPECT_EQ(r.calls, static_cast<int>(count == 0 ? 1 : count));
        ASSERT_EQ(r.messages.size(), c.messages.size());
        for (size_t i = 0; i < c.messages.size(); ++i) {
            if (c.messages[i].back() == '\n') {
                EXPECT_EQ(r.messages[i], c.messages[i]);
            } else {
                EXPECT_NE(r.messages[i].find(c.messages[i]), std::string::npos) << r.messages[i];
                EXPECT_EQ(r.messages[i].back(), '\n');
            }
        }
        // Without a message callback the result is the same.
        EXPECT_EQ(read(c.files(), 0, nullptr).scan != nullptr, c.scan_kept);
    }
}

TEST(RawReaderTest, DefaultInputCallbackFeedsTheReader) {
    TempDir dir;
    const std::vector<Bytes> files = hybrid("VOL_A", "VOL_B");
    const std::string a = dir.write("VOL_A", files[0]);
    const std::string b = dir.write("VOL_B", files[1]);
    const char *names[] = {a.c_str(), b.c_str()};
    const RawIoHandle io(default_raw_io_new_hybrid(names, 2));
    const ScanHandle scan(pvol_new_from_raw(io.get(), default_raw_input, nullptr));
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(pvol_get_sweeps_count(scan.get()), 5u);
}

// C callers cannot catch: what the C++ inside throws ends as a failure and a message.
TEST(RawReaderTest, AnExceptionInsideEndsAsAFailureWithItsMessage) {
    messages().clear();
    const raw_input_callback throwing = [](void *) -> FILE * { throw std::bad_alloc(); };
    const ScanHandle scan(pvol_new_from_raw2(nullptr, throwing, collect_message, 0));
    EXPECT_EQ(scan, nullptr);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "std::bad_alloc\n");
}

}  // namespace
