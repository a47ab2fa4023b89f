// rawpipe and rawpipe-summary run as processes: the output bytes, the reports of bad input, and
// write errors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs rawpipe with `args` and standard output on a pseudo-terminal: the exit status, the number
// of bytes that reached the terminal, and standard error.
Outcome run_on_terminal(const TempDir &dir, const std::vector<std::string> &args,
                        std::size_t *terminal_bytes) {
    Outcome result;
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return result;
    }
    const std::string side = ptsname(terminal);
    const std::string err = dir.file("stderr");
    const pid_t child = fork();
    if (child == 0) {
        close(terminal);
        const int out = open(side.c_str(), O_RDWR);
        const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || errors < 0 || dup2(out, 1) < 0 || dup2(errors, 2) < 0)
            _exit(126);
        std::vector<char *> argv{const_cast<char *>(kRawpipe.c_str())};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Drain the terminal until the child's side closes, so that a large write cannot block.
    *terminal_bytes = 0;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
        *terminal_bytes += static_cast<std::size_t>(n);
    int status = 0;
    waitpid(child, &status, 0);
    close(terminal);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = TempDir::read_text(err);
    return result;
}

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

TEST(RawpipeProgram, ReproducibleOutputDependsOnTheInputAlone) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(2, {{rawfile::kZdr16, 16}}).bytes());
    RawFile later = volume(2, {{rawfile::kZdr16, 16}});
    later.ingest.volume_time(rawfile::Time{2024, 5, 17, 13 * 3600});
    const std::string other = dir.write("w.raw", later.bytes());
    const auto output = [&](const std::string &args) { return run(dir, kRawpipe + args).out; };

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

TEST(RawpipeProgram, BadInputIsReportedWithoutOutput) {
    TempDir dir;
    const std::string bad = dir.write("bad.raw", rawfile::Bytes(50, 0));
    const std::string out = dir.file("out.pb");

    const Outcome none_good =
        run(dir, kRawpipe + " -o " + out + " " + bad + " " + dir.file("none"));
    EXPECT_EQ(none_good.status, 1);
    EXPECT_EQ(none_good.err, "rawpipe: Failed to read product header from " + bad +
                                 "\nrawpipe: Can not open " + dir.file("none") +
                                 ": No such file or directory\nrawpipe: None of the files is a "
                                 "good ORVA RAW product file\n");
    EXPECT_FALSE(TempDir::exists(out));
    EXPECT_EQ(run(dir, kRawpipe + " " + bad).out, "");

    for (const char *args : {" -o", " -m", " --op a -o b x.raw"}) {
        const Outcome malformed = run(dir, kRawpipe + args);
        EXPECT_EQ(malformed.status, 2) << args;
        EXPECT_EQ(malformed.out, "") << args;
        EXPECT_EQ(std::count(malformed.err.begin(), malformed.err.end(), '\n'), 1) << args;
    }

    // A file that passes the check but cannot be read: the reader's reason, and no output, even
    // when a partial volume would do.
    RawFile short_task = volume(1, {{rawfile::kZdr16, 16}});
    short_task.ingest.scan(4, 30000, 2);
    const std::string unreadable = dir.write("short.raw", short_task.bytes());
    const Outcome failed = run(dir, kRawpipe + " --keep-partial " + unreadable);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, "rawpipe: " + unreadable +
                              ": File ends before the data headers of sweep 2.\nrawpipe: no "
                              "sweep could be read; nothing written\n");
}

TEST(RawpipeProgram, MixedGoodAndBadInputsFailUnlessPartialIsKept) {
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

        const Outcome refused = run(dir, kRawpipe + " -o " + out + args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err.substr(0, expected_err.size()), expected_err);
        EXPECT_NE(refused.err.find("--keep-partial"), std::string::npos) << refused.err;
        EXPECT_FALSE(TempDir::exists(out));

        const Outcome kept = run(dir, kRawpipe + " --keep-partial -o " + out + args);
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
    const Outcome whole = run(dir, kRawpipe + " --keep-partial " + part_a + " " + part_b);
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.err, "");
    pb::PayloadList list;
    ASSERT_TRUE(list.ParseFromString(whole.out));
    EXPECT_EQ(count_of(list, P::SWEEP_HEADER), 4);
}

TEST(RawpipeProgram, TyposAreReportedAndAnAbsentMomentIsAnError) {
    TempDir dir;
    const std::string input =
        dir.write("v.raw", volume(1, {{rawfile::kDbz8, 8}, {rawfile::kVel16, 16}}).bytes());
    const std::string out = dir.file("out.pb");

    for (const char *moment : {"DBZ", "z", "Z,V"}) {
        const Outcome absent = run(dir, kRawpipe + " -m " + moment + " -o " + out + " " + input);
        EXPECT_EQ(absent.status, 1) << moment;
        EXPECT_EQ(absent.err, "rawpipe: the volume has no moment named " + std::string(moment) +
                                  "; its moments are Z, V\n");
        EXPECT_FALSE(TempDir::exists(out));
    }

    // An unknown option is named, and what follows it is taken as an input.
    const Outcome typo = run(dir, kRawpipe + " -x 3 -o " + out + " " + input);
    EXPECT_EQ(typo.status, 1);
    EXPECT_TRUE(typo.err.starts_with("rawpipe: unknown option -x ignored\n")) << typo.err;
    EXPECT_NE(typo.err.find("rawpipe: Can not open 3: No such file or directory\n"),
              std::string::npos)
        << typo.err;
    const Outcome ignored = run(dir, kRawpipe + " --colour -o " + out + " " + input);
    EXPECT_EQ(ignored.status, 0);
    EXPECT_EQ(ignored.err, "rawpipe: unknown option --colour ignored\n");

    // The help names the moments as the stream does.
    const Outcome help = run(dir, kRawpipe + " --help");
    for (const char *name : {" Z,", " V,", " W,", " ZDR,", " RHOHV,", " PHIDP,", " KDP,"})
        EXPECT_NE(help.out.find(name), std::string::npos) << name;
}

TEST(RawpipeProgram, RefusesATerminalAsOutputUnlessAskedFor) {
    TempDir dir;
    const std::string input = dir.write("v.raw", volume(1, {{rawfile::kZdr16, 16}}).bytes());
    std::size_t shown = 0;
    const Outcome refused = run_on_terminal(dir, {input}, &shown);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "rawpipe: standard output is a terminal; use -o FILE or a pipe\n");
    EXPECT_EQ(shown, 0u);

    const Outcome asked = run_on_terminal(dir, {"-o", "-", input}, &shown);
    EXPECT_EQ(asked.status, 0);
    EXPECT_EQ(asked.err, "");
    EXPECT_GT(shown, 100u);
    // A terminal elsewhere changes nothing for a file.
    EXPECT_EQ(run_on_terminal(dir, {"-o", dir.file("v.pb"), input}, &shown).status, 0);
    EXPECT_EQ(shown, 0u);
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
        EXPECT_NE(result.err.find(": cannot "), std::string::npos) << result.err;
    }
    EXPECT_FALSE(TempDir::exists(dir.file("no")));
    // A refused output names the file and the system's reason.
    EXPECT_EQ(run(dir, kRawpipe + " -o " + dir.file("no/such/dir.pb") + " " + input).err,
              "rawpipe: " + dir.file("no/such/dir.pb") + ": cannot create a file in " +
                  dir.file("no/such") + ": No such file or directory\n");
    EXPECT_EQ(run(dir, kRawpipe + " " + input + " >/dev/full", false).err,
              "rawpipe: standard output: cannot write: No space left on device\n");
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
    EXPECT_EQ(out.find("site TESTSITE, volume VOL, start 2024-05-17T12:00:00Z\nenvelopes: 61\n"),
              0u)
        << out;
    EXPECT_NE(out.find("  RAY_HEADER             24\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  MOMENT_SWEEP_DATA       2\n"), std::string::npos) << out;
    EXPECT_NE(
        out.find("    0    1.41  ZDR         12    20       1.00      19.00      10.00  dB\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("    1    2.81  ZDR         12    20"), std::string::npos) << out;

    const Outcome garbage = run(dir, std::string(RAWPIPE_SUMMARY_PATH) + " " + input);
    EXPECT_EQ(garbage.status, 1);
    EXPECT_EQ(garbage.out, "");
    EXPECT_NE(garbage.err, "");
}

}  // namespace
