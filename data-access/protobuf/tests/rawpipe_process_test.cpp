// rawpipe and rawpipe-summary run as processes: the output bytes, the reports of bad input, and
// write errors.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream_support.h"

namespace {

using namespace stream;
using P = pb::Payload;

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs a shell command line with standard output and error collected (unless the command line
// redirects standard output itself).
Outcome run(const TempDir &dir, const std::string &command, bool collect_stdout = true) {
    const std::string line =
        command + (collect_stdout ? " >" + dir.file("stdout") : "") + " 2>" + dir.file("stderr");
    const int status = std::system(line.c_str());
    Outcome result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = TempDir::read_text(dir.file("stdout"));
    result.err = TempDir::read_text(dir.file("stderr"));
    return result;
}

const std::string kRawpipe = RAWPIPE_PATH;

TEST(RawpipeProgram, WritesTheSerialisedListAndNothingElse) {
    TempDir dir;
    const std::string input =
        dir.write("v.raw", volume(2, {{rawfile::kDbz8, 8}, {rawfile::kZdr16, 16}}).bytes());
    const Outcome to_stdout = run(dir, kRawpipe + " " + input);
    EXPECT_EQ(to_stdout.status, 0);
    EXPECT_EQ(to_stdout.err, "");
    pb::PayloadList list;
    ASSERT_TRUE(list.ParseFromString(to_stdout.out));
    // Unframed: the bytes are exactly the list's encoding, envelope after envelope.
    EXPECT_EQ(list.SerializeAsString(), to_stdout.out);
    EXPECT_EQ(static_cast<unsigned char>(to_stdout.out[0]), 0x0A);
    EXPECT_EQ(count_of(list, P::VOLUME_END), 1);
    EXPECT_EQ(count_of(list, P::MOMENT_SWEEP_DATA), 4);

    const Outcome to_file =
        run(dir, kRawpipe + " -m ZDR -o " + dir.file("out.pb") + " -i " + input);
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out, "");
    pb::PayloadList selected;
    ASSERT_TRUE(selected.ParseFromString(TempDir::read_text(dir.file("out.pb"))));
    EXPECT_EQ(count_of(selected, P::MOMENT_SWEEP_DATA), 2);
    EXPECT_EQ(types_of(selected).size(), types_of(list).size() - 2);
}

TEST(RawpipeProgram, BadInputIsReportedWithoutOutput) {
    TempDir dir;
    const std::string bad = dir.write("bad.raw", rawfile::Bytes(50, 0));
    const std::string out = dir.file("out.pb");

    const Outcome none_good =
        run(dir, kRawpipe + " -o " + out + " " + bad + " " + dir.file("none"));
    EXPECT_NE(none_good.status, 0);
    EXPECT_EQ(none_good.err, "Failed to read product header from " + bad + "\nCan not open " +
                                 dir.file("none") +
                                 "\nNone of the files is a good ORVA RAW product file\n");
    EXPECT_FALSE(TempDir::exists(out));
    EXPECT_EQ(run(dir, kRawpipe + " " + bad).out, "");

    for (const char *args : {" -o", " -m", " --op a -o b x.raw"}) {
        const Outcome malformed = run(dir, kRawpipe + args);
        EXPECT_EQ(malformed.status, 2) << args;
        EXPECT_EQ(malformed.out, "") << args;
        EXPECT_EQ(std::count(malformed.err.begin(), malformed.err.end(), '\n'), 1) << args;
    }

    // A file that passes the check but cannot be read: the stream is one error envelope.
    RawFile short_task = volume(1, {{rawfile::kZdr16, 16}});
    short_task.ingest.scan(4, 30000, 2);
    const std::string unreadable = dir.write("short.raw", short_task.bytes());
    const Outcome failed = run(dir, kRawpipe + " " + unreadable);
    EXPECT_EQ(failed.status, 0);
    EXPECT_EQ(failed.out, std::string("\x0a\x02\x08\x01", 4));
    EXPECT_EQ(failed.err, "Could not open scan file(s): " + unreadable + "\n");
}

TEST(RawpipeProgram, WriteErrorsFailWithAMessage) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(1, {{rawfile::kZdr16, 16}}).bytes());
    for (const std::string &redirect :
         {" -o " + dir.file("no/such/dir.pb"), std::string(" -o /dev/full"),
          std::string(" >/dev/full"), std::string(" >&-")}) {
        const Outcome result = run(dir, kRawpipe + " " + input + redirect, false);
        EXPECT_EQ(result.status, 1) << redirect;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find("cannot "), std::string::npos) << result.err;
    }
    EXPECT_FALSE(TempDir::exists(dir.file("no")));
}

TEST(RawpipeSummary, SummarisesEnvelopesAndSweeps) {
    TempDir dir;
    // ZDR codes 1 to 19 dB along every ray, after one bin without data.
    RawFile file = volume(2, {{rawfile::kZdr16, 16}}, 20, 12);
    for (rawfile::Sweep &sweep : file.sweeps)
        for (auto &ray : sweep.moments[0].rays)
            for (int k = 0; k < 20; ++k)
                ray->bins[static_cast<size_t>(k)] = k == 0 ? 0 : 32768 + 100 * k;
    const std::string input = dir.write("v.raw", file.bytes());
    const std::string stream_path = dir.file("v.pb");
    ASSERT_EQ(run(dir, kRawpipe + " -o " + stream_path + " " + input).status, 0);

    const Outcome summary = run(dir, std::string(RAWPIPE_SUMMARY_PATH) + " - <" + stream_path);
    EXPECT_EQ(summary.status, 0);
    EXPECT_EQ(summary.err, "");
    const std::string &out = summary.out;
    EXPECT_NE(out.find("envelopes: 61\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  RAY_HEADER             24\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  MOMENT_SWEEP_DATA       2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    0    1.41  ZDR         12    20       1.00      19.00      10.00\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    1    2.81  ZDR         12    20"), std::string::npos) << out;

    const Outcome garbage = run(dir, std::string(RAWPIPE_SUMMARY_PATH) + " " + input);
    EXPECT_EQ(garbage.status, 1);
    EXPECT_EQ(garbage.out, "");
    EXPECT_NE(garbage.err, "");
}

}  // namespace
