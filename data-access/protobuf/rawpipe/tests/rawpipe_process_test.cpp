// rawpipe and rawpipe-summary run as processes: the output bytes, the reports of bad input, and
// write errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "program_run.h"
#include "stream_support.h"
#include "weather_volume.h"

namespace {

using namespace stream;
using P = pb::Payload;
using program_test::Case;
using program_test::Outcome;
using program_test::Text;
using program_test::words;

const std::string kRawpipe = RAWPIPE_PATH;

Outcome run(const std::string &args) {
    return program_test::run(kRawpipe, words(args));
}

// The stream a case wrote to the file `path`, parsed.
pb::PayloadList stream_in(const std::string &path) {
    pb::PayloadList list;
    EXPECT_TRUE(list.ParseFromString(TempDir::read_text(path))) << path;
    return list;
}

TEST(RawpipeTest, WritesTheSerialisedListAndNothingElse) {
    TempDir dir;
    const std::string input =
        dir.write("v.raw", volume(2, {{rawfile::kDbz8, 8}, {rawfile::kZdr16, 16}}).bytes());
    pb::PayloadList list;
    program_test::run_cases(
        kRawpipe, {
                      {{input},
                       0,
                       Text::starting("\x0A"),
                       "",
                       [&](const Outcome &o) {
                           ASSERT_TRUE(list.ParseFromString(o.out));
                           // Unframed: the bytes are exactly the list's encoding, envelope after
                           // envelope.
                           EXPECT_EQ(list.SerializeAsString(), o.out);
                           EXPECT_EQ(count_of(list, P::VOLUME_END), 1);
                           EXPECT_EQ(count_of(list, P::MOMENT_SWEEP_DATA), 4);
                       }},
                      {{"-m", "ZDR", "-o", dir.file("out.pb"), "-i", input},
                       0,
                       "",
                       "",
                       [&](const Outcome &) {
                           const pb::PayloadList selected = stream_in(dir.file("out.pb"));
                           EXPECT_EQ(count_of(selected, P::MOMENT_SWEEP_DATA), 2);
                           EXPECT_EQ(types_of(selected).size(), types_of(list).size() - 2);
                       }},
                  });
}

TEST(RawpipeTest, ReproducibleOutputDependsOnTheInputAlone) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(2, {{rawfile::kZdr16, 16}}).bytes());
    RawFile later = volume(2, {{rawfile::kZdr16, 16}});
    later.ingest.volume_time(rawfile::Time{2024, 5, 17, 13 * 3600});
    const std::string other = dir.write("w.raw", later.bytes());
    const auto output = [&](const std::string &args) { return run(args).out; };

    const std::string first = output(" --reproducible " + input);
    EXPECT_EQ(output(" --reproducible " + input), first);
    EXPECT_NE(output(" --reproducible " + other), first);
    EXPECT_NE(output(" " + input), output(" " + input));  // random by default

    pb::PayloadList list;
    ASSERT_TRUE(list.ParseFromString(first));
    for (const pb::Payload &p : list.payload()) {
        if (p.type() != P::VOLUME_HEADER)
            continue;
        EXPECT_EQ(uuid_of(p.volume_header().uuid()).version(),
                  boost::uuids::uuid::version_name_based_sha1);
    }
}

// The SHA-256 digest of a file, as sha256sum prints it.
std::string sha256_of(const std::string &path) {
    return program_test::run("/usr/bin/sha256sum", {path}).out.substr(0, 64);
}

// The reference streams were written by rawpipe as it was before it streamed its output (commit
// fd6d6fc): `rawpipe --reproducible -o OUT INPUT`, then `sha256sum OUT`, on the inputs below.
// Whatever changes inside rawpipe, these bytes stay, whatever the number of threads.
TEST(RawpipeTest, OutputIsTheReferenceStreamWhateverTheThreadCount) {
    TempDir dir;
    struct Reference {
        std::string input;
        const char *sha256;
    };
    const Reference references[] = {
        {SAMPLE_VOLUME, "dcf295c56eea1ef9f8188d4d83f4dab8538bb8a057dc309c9690a2987846ecc4"},
        {dir.write("weather.raw", weather::volume(3, 90, 300, nullptr).bytes()),
         "e5e18e97fdd2654e8bea9794c39d595669c68552d90e435d514d998db0659a7e"},
        // 8- and 16-bit moments side by side.
        {dir.write("mixed.raw",
                   volume(3, {{rawfile::kDbz8, 8}, {rawfile::kVel16, 16}}, 120, 36).bytes()),
         "b93f051eb01ede60525706764ddfb20cbbf46980d6a7ad0f90800f176060e14c"},
    };
    for (const Reference &reference : references) {
        for (const char *threads : {"1", "4"}) {
            const std::string output = dir.file("out.pb");
            const Outcome result = run(std::string("--reproducible --threads ") + threads + " -o " +
                                       output + " " + reference.input);
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(sha256_of(output), reference.sha256) << reference.input << ", " << threads;
        }
    }
}

TEST(RawpipeTest, BadInputIsReportedWithoutOutput) {
    TempDir dir;
    const std::string bad = dir.write("bad.raw", rawfile::Bytes(50, 0));
    const std::string out = dir.file("out.pb");
    // A file that passes the check but cannot be read: the reader's reason, and no output, even
    // when a partial volume would do.
    RawFile short_task = volume(1, {{rawfile::kZdr16, 16}});
    short_task.ingest.scan(4, 30000, 2);
    const std::string unreadable = dir.write("short.raw", short_task.bytes());
    const auto no_output = [&](const Outcome &) { EXPECT_FALSE(TempDir::exists(out)); };
    const Text one_line = Text::lines(1);

    program_test::run_cases(
        kRawpipe,
        {
            {{"-o", out, bad, dir.file("none")},
             1,
             "",
             "rawpipe: Failed to read product header from " + bad + "\nrawpipe: Can not open " +
                 dir.file("none") +
                 ": No such file or directory\nrawpipe: None of the files is a good ORVA RAW "
                 "product file\n",
             no_output},
            {{bad}, 1, "", Text::any()},
            {{"-o"}, 2, "", one_line},
            {{"-m"}, 2, "", one_line},
            {{"--op", "a", "-o", "b", "x.raw"}, 2, "", one_line},
            {{"--keep-partial", unreadable},
             1,
             "",
             "rawpipe: " + unreadable +
                 ": File ends before the data headers of sweep 2.\nrawpipe: no sweep could be "
                 "read; nothing written\n"},
        });
}

TEST(RawpipeTest, MixedGoodAndBadInputsFailUnlessPartialIsKept) {
    TempDir dir;
    // Two parts of a hybrid volume; the second cut short inside its second sweep.
    const rawfile::Bytes second = task_file("VOL_B", 2, 2, false, 0, 3);
    const std::string part_a = dir.write("a.raw", task_file("VOL_A", 1, 2, false));
    const std::string cut_b =
        dir.write("b.raw", rawfile::Bytes(second.begin(), second.end() - 3000));
    const std::string not_raw = dir.write("text.raw", rawfile::Bytes(7000, 'x'));
    const std::string missing = dir.file("missing.raw");
    const std::string out = dir.file("out.pb");

    struct Case {
        std::vector<std::string> inputs;
        std::vector<std::string> reasons;  // one line per bad file, in input order
        int sweeps_kept;
    };
    const std::vector<Case> cases = {
        {{part_a, not_raw}, {not_raw + "is not an ORVA product file!"}, 2},
        {{not_raw, part_a}, {not_raw + "is not an ORVA product file!"}, 2},
        {{part_a, missing}, {"Can not open " + missing + ": No such file or directory"}, 2},
        {{part_a, cut_b}, {cut_b + ": File ends before the data headers of sweep 2."}, 2},
    };
    for (const Case &c : cases) {
        std::string args, expected_err;
        for (const std::string &input : c.inputs)
            args += " " + input;
        for (const std::string &reason : c.reasons)
            expected_err += "rawpipe: " + reason + "\n";
        SCOPED_TRACE(args);

        const Outcome refused = run("-o " + out + args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err.substr(0, expected_err.size()), expected_err);
        EXPECT_NE(refused.err.find("--keep-partial"), std::string::npos) << refused.err;
        EXPECT_FALSE(TempDir::exists(out));

        const Outcome kept = run("--keep-partial -o " + out + args);
        EXPECT_EQ(kept.status, 3);
        EXPECT_EQ(kept.err, expected_err);
        pb::PayloadList list;
        ASSERT_TRUE(list.ParseFromString(TempDir::read_text(out)));
        EXPECT_EQ(count_of(list, P::SWEEP_HEADER), c.sweeps_kept);
        EXPECT_EQ(count_of(list, P::VOLUME_END), 1);
        EXPECT_EQ(count_of(list, P::ERROR), 0);
        std::remove(out.c_str());
    }

    // Both parts whole: one volume of four sweeps, status 0.
    const std::string part_b = dir.write("b-whole.raw", second);
    const Outcome whole = run("--keep-partial " + part_a + " " + part_b);
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.err, "");
    pb::PayloadList list;
    ASSERT_TRUE(list.ParseFromString(whole.out));
    EXPECT_EQ(count_of(list, P::SWEEP_HEADER), 4);
}

TEST(RawpipeTest, TyposAreReportedAndAnAbsentMomentIsAnError) {
    TempDir dir;
    const std::string input =
        dir.write("v.raw", volume(1, {{rawfile::kDbz8, 8}, {rawfile::kVel16, 16}}).bytes());
    const std::string out = dir.file("out.pb");
    const auto no_output = [&](const Outcome &) { EXPECT_FALSE(TempDir::exists(out)); };
    std::vector<Case> cases;
    for (const char *moment : {"DBZ", "z", "Z,V"})
        cases.push_back({{"-m", moment, "-o", out, input},
                         1,
                         "",
                         "rawpipe: the volume has no moment named " + std::string(moment) +
                             "; its moments are Z, V\n",
                         no_output});
    // An unknown option is named, and what follows it is taken as an input.
    cases.push_back({{"-x", "3", "-o", out, input},
                     1,
                     "",
                     Text::starting("rawpipe: unknown option -x ignored\n")
                         .and_containing("rawpipe: Can not open 3: No such file or directory\n")});
    cases.push_back(
        {{"--colour", "-o", out, input}, 0, "", "rawpipe: unknown option --colour ignored\n"});
    // The help names the moments as the stream does.
    Text names;
    for (const char *name : {" Z,", " V,", " W,", " ZDR,", " RHOHV,", " PHIDP,", " KDP,"})
        names = std::move(names).and_containing(name);
    cases.push_back({{"--help"}, 0, names});
    program_test::run_cases(kRawpipe, cases);
}

TEST(RawpipeTest, RefusesATerminalAsOutputUnlessAskedFor) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(1, {{rawfile::kZdr16, 16}}).bytes());
    const program_test::Streams terminal = program_test::Streams::on_terminal();
    program_test::run_cases(kRawpipe,
                            {
                                {{input},
                                 1,
                                 "",
                                 "rawpipe: standard output is a terminal; use -o FILE or a pipe\n",
                                 nullptr,
                                 terminal},
                                {{"-o", "-", input},
                                 0,
                                 Text::any(),
                                 "",
                                 [](const Outcome &o) { EXPECT_GT(o.out.size(), 100u); },
                                 terminal},
                                // A terminal elsewhere changes nothing for a file.
                                {{"-o", dir.file("v.pb"), input}, 0, "", "", nullptr, terminal},
                            });
}

TEST(RawpipeTest, WriteErrorsFailWithAMessage) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(1, {{rawfile::kZdr16, 16}}).bytes());
    const std::string no_dir = dir.file("no/such/dir.pb");
    program_test::run_cases(
        kRawpipe, {
                      // A refused output names the file and the system's reason.
                      {{input, "-o", no_dir},
                       1,
                       "",
                       "rawpipe: " + no_dir + ": cannot create a file in " + dir.file("no/such") +
                           ": No such file or directory\n"},
                      {{input, "-o", "/dev/full"},
                       1,
                       "",
                       "rawpipe: /dev/full: cannot write: No space left on device\n"},
                      {{input},
                       1,
                       "",
                       "rawpipe: standard output: cannot write: No space left on device\n",
                       nullptr,
                       program_test::Streams::writing_to("/dev/full")},
                      {{input},
                       1,
                       "",
                       "rawpipe: standard output: cannot write: Bad file descriptor\n",
                       nullptr,
                       program_test::Streams::output_closed()},
                  });
    EXPECT_FALSE(TempDir::exists(dir.file("no")));
}

TEST(RawpipeSummaryTest, SummarisesEnvelopesAndSweeps) {
    TempDir dir;
    // ZDR codes 1 to 19 dB along every ray, after one bin without data.
    RawFile file = volume(2, {{rawfile::kZdr16, 16}}, 20, 12);
    for (rawfile::Sweep &sweep : file.sweeps)
        for (auto &ray : sweep.moments[0].rays)
            for (int k = 0; k < 20; ++k)
                ray->bins[static_cast<size_t>(k)] = k == 0 ? 0 : 32768 + 100 * k;
    const std::string input = dir.write("v.raw", file.bytes());
    const std::string stream_path = dir.file("v.pb");
    ASSERT_EQ(run("-o " + stream_path + " " + input).status, 0);

    program_test::run_cases(
        RAWPIPE_SUMMARY_PATH,
        {
            {{"-"},
             0,
             Text::starting(
                 "site TESTSITE, volume VOL, start 2024-05-17T12:00:00Z\nenvelopes: 61\n")
                 .and_containing("  RAY_HEADER             24\n")
                 .and_containing("  MOMENT_SWEEP_DATA       2\n")
                 .and_containing(
                     "    0    1.41  ZDR         12    20       1.00      19.00      10.00  dB\n")
                 .and_containing("    1    2.81  ZDR         12    20"),
             "",
             nullptr,
             program_test::Streams::reading(stream_path)},
            {{input}, 1, "", Text::lines(1)},
        });
}

}  // namespace
