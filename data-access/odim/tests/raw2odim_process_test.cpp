// raw2odim as a process: the command line, the refusals of bad input (one line per bad file, no
// output, exit 1; --keep-partial writes what was read and exits 3) and an unwritable output.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "odim_test_scans.h"
#include "temp_dir.h"

namespace {

using namespace odim_test;

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome run(const TempDir &dir, const std::string &arguments) {
    const std::string line = std::string(RAW2ODIM_PATH) + " " + arguments + " >" +
                             dir.file("stdout") + " 2>" + dir.file("stderr");
    const int status = std::system(line.c_str());
    Outcome result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = TempDir::read_text(dir.file("stdout"));
    result.err = TempDir::read_text(dir.file("stderr"));
    std::filesystem::remove(dir.file("stdout"));
    std::filesystem::remove(dir.file("stderr"));
    return result;
}

// The files in dir, apart from the inputs.
std::vector<std::string> outputs(const TempDir &dir, const std::vector<std::string> &inputs) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.file(""))) {
        bool input = false;
        for (const std::string &path : inputs)
            input = input || entry.path() == std::filesystem::path(path);
        if (!input)
            names.push_back(entry.path().filename().string());
    }
    return names;
}

// A hybrid volume of two tasks: files volume_A and volume_B.
std::vector<std::string> hybrid_files(const TempDir &dir) {
    synthetic::ScanPtr scan = synthetic::new_scan("HYB");
    const SweepShape a{0.0, 10.0, 36, 0.5}, b{0.0, 20.0, 18, 3.0};
    radar_sweep_conf *ca = make_conf(a, {{RD_DBZ, BITS_16}}, "HYB");
    radar_sweep_conf *cb = make_conf(b, {{RD_VEL, BITS_16}}, "HYB");
    pvol_add_sweep(scan.get(), make_sweep(ca, a, synthetic::kVolumeTime, 0));
    pvol_add_sweep(scan.get(), make_sweep(cb, b, synthetic::kVolumeTime + 60, 0));
    sweepconf_unref(ca);
    sweepconf_unref(cb);
    return synthetic::write_files(scan.get(), dir.file("volume"), RAW_SAVE_ONE_FILE, BITS_16);
}

TEST(Raw2odimProgram, CommandLine) {
    TempDir dir;
    const Outcome help = run(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: raw2odim [options] FILE... -o OUT.h5"), std::string::npos);
    EXPECT_NE(help.out.find("--compression"), std::string::npos);
    const Outcome version = run(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "raw2odim 1.0\n");

    const std::vector<std::string> inputs = hybrid_files(dir);
    ASSERT_EQ(inputs.size(), 2u);
    const std::string in = inputs[0] + " " + inputs[1];
    for (const std::string &args :
         {in, "-o " + dir.file("x.h5"), in + " -o " + dir.file("x.h5") + " --compression 10",
          in + " -o " + dir.file("x.h5") + " --compression six",
          in + " -o " + dir.file("x.h5") + " --moments DBZH,,VRADH",
          in + " -o " + dir.file("x.h5") + " --no-such-option"}) {
        const Outcome bad = run(dir, args);
        EXPECT_EQ(bad.status, 2) << args;
        EXPECT_EQ(bad.err.rfind("raw2odim: bad command line: ", 0), 0u) << bad.err;
        EXPECT_FALSE(TempDir::exists(dir.file("x.h5"))) << args;
    }

    const Outcome good = run(dir, in + " -o " + dir.file("x.h5") + " --moments VRADH");
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_TRUE(TempDir::exists(dir.file("x.h5")));
    const Outcome unknown = run(dir, in + " -o " + dir.file("y.h5") + " --moments KDP");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "raw2odim: " + dir.file("y.h5") + ": the volume has no moment KDP\n");
}

TEST(Raw2odimProgram, BadInputsAreNamedAndNothingIsWritten) {
    TempDir dir;
    const std::vector<std::string> good = hybrid_files(dir);
    ASSERT_EQ(good.size(), 2u);
    const std::string junk = dir.write("junk.raw", std::vector<unsigned char>(50, 0));
    const std::string missing = dir.file("missing.raw");
    const std::vector<std::string> inputs = {good[0], good[1], junk};
    const std::string out = dir.file("out.h5");

    const Outcome refused =
        run(dir, good[0] + " " + junk + " " + missing + " " + good[1] + " -o " + out);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "raw2odim: Failed to read product header from " + junk +
                               "\nraw2odim: Can not open " + missing +
                               ": No such file or directory\n");
    EXPECT_EQ(outputs(dir, inputs), std::vector<std::string>{"volume.meta"});

    const Outcome partial =
        run(dir, "--keep-partial " + good[0] + " " + junk + " " + good[1] + " -o " + out);
    EXPECT_EQ(partial.status, 3);
    EXPECT_EQ(partial.err, "raw2odim: Failed to read product header from " + junk + "\n");
    EXPECT_TRUE(TempDir::exists(out));
    std::filesystem::remove(out);

    // The second part of the hybrid cut inside its sweep data: the reader stops in it.
    std::string bytes = TempDir::read_text(good[1]);
    const std::string cut = dir.write(
        "cut_B", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 6144 * 2 + 100));
    const Outcome stopped = run(dir, good[0] + " " + cut + " -o " + out);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_EQ(stopped.err.rfind("raw2odim: " + cut + ": ", 0), 0u) << stopped.err;
    EXPECT_EQ(std::count(stopped.err.begin(), stopped.err.end(), '\n'), 1);
    EXPECT_FALSE(TempDir::exists(out));
}

TEST(Raw2odimProgram, AnUnwritableOutputFolderIsAFailure) {
    TempDir dir;
    const std::vector<std::string> inputs = hybrid_files(dir);
    ASSERT_EQ(inputs.size(), 2u);
    const std::string out = dir.file("no/such/folder/v.h5");
    const Outcome result = run(dir, inputs[0] + " " + inputs[1] + " -o " + out);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "raw2odim: " + out + ": cannot create a file in " +
                              dir.file("no/such/folder") + ": No such file or directory\n");
}

}  // namespace
