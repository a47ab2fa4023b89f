// raw2odim as a process: the command line, the refusals of bad input (one line per bad file, no
// output, exit 1; --keep-partial writes what was read and exits 3) and an unwritable output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "odim_test_scans.h"
#include "program_run.h"
#include "temp_dir.h"

namespace {

using namespace odim_test;

using program_test::Case;
using program_test::Outcome;
using program_test::Text;
using program_test::words;

const std::string kRaw2odim = RAW2ODIM_PATH;

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
    ScanHandle scan = synthetic::new_scan("HYB");
    const SweepShape a{0.0, 10.0, 36, 0.5}, b{0.0, 20.0, 18, 3.0};
    const SweepConfHandle ca(make_conf(a, {{RD_DBZ, BITS_16}}, "HYB"));
    const SweepConfHandle cb(make_conf(b, {{RD_VEL, BITS_16}}, "HYB"));
    pvol_add_sweep(scan.get(), make_sweep(ca.get(), a, synthetic::kVolumeTime, 0));
    pvol_add_sweep(scan.get(), make_sweep(cb.get(), b, synthetic::kVolumeTime + 60, 0));
    return synthetic::write_files(scan.get(), dir.file("volume"), RAW_SAVE_ONE_FILE, BITS_16);
}

TEST(Raw2odimTest, CommandLine) {
    TempDir dir;
    const std::vector<std::string> inputs = hybrid_files(dir);
    ASSERT_EQ(inputs.size(), 2u);
    const std::string in = inputs[0] + " " + inputs[1];
    const std::string x = dir.file("x.h5");
    std::vector<Case> cases = {
        {{"--help"},
         0,
         Text::containing("usage: raw2odim [options] FILE... -o OUT.h5")
             .and_containing("--compression")},
        {{"--version"}, 0, "raw2odim 1.0\n"},
        // --help answers beside a bad option too.
        {{"--help", "--no-such-option"}, 0, Text::containing("usage: raw2odim")},
    };
    for (const std::string &args :
         {in, "-o " + x, in + " -o " + x + " --compression 10",
          in + " -o " + x + " --compression six", in + " -o " + x + " --moments DBZH,,VRADH",
          in + " -o " + x + " --no-such-option"}) {
        cases.push_back({words(args), 2, "", Text::starting("raw2odim: bad command line: "),
                         [&](const Outcome &) { EXPECT_FALSE(TempDir::exists(x)); }});
    }
    cases.push_back({words(in + " -o " + x + " --moments VRADH"), 0, "", "",
                     [&](const Outcome &) { EXPECT_TRUE(TempDir::exists(x)); }});
    cases.push_back({words(in + " -o " + dir.file("y.h5") + " --moments KDP"), 1, "",
                     "raw2odim: " + dir.file("y.h5") + ": the volume has no moment KDP\n"});
    program_test::run_cases(kRaw2odim, cases);
}

TEST(Raw2odimTest, BadInputsAreNamedAndNothingIsWritten) {
    TempDir dir;
    const std::vector<std::string> good = hybrid_files(dir);
    ASSERT_EQ(good.size(), 2u);
    const std::string junk = dir.write("junk.raw", std::vector<unsigned char>(50, 0));
    const std::string missing = dir.file("missing.raw");
    const std::vector<std::string> inputs = {good[0], good[1], junk};
    const std::string out = dir.file("out.h5");
    // The second part of the hybrid cut inside its sweep data: the reader stops in it.
    std::string bytes = TempDir::read_text(good[1]);
    const std::string cut = dir.write(
        "cut_B", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 6144 * 2 + 100));
    const auto nothing_written = [&](const Outcome &) {
        std::vector<std::string> names = outputs(dir, inputs);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"cut_B", "volume.meta"}));
    };

    program_test::run_cases(
        kRaw2odim,
        {
            {{good[0], junk, missing, good[1], "-o", out},
             1,
             "",
             "raw2odim: Failed to read product header from " + junk + "\nraw2odim: Can not open " +
                 missing + ": No such file or directory\n",
             nothing_written},
            {{"--keep-partial", good[0], junk, good[1], "-o", out},
             3,
             "",
             "raw2odim: Failed to read product header from " + junk + "\n",
             [&](const Outcome &) {
                 EXPECT_TRUE(TempDir::exists(out));
                 std::filesystem::remove(out);
             }},
            {{good[0], cut, "-o", out},
             1,
             "",
             Text::starting("raw2odim: " + cut + ": ").and_lines(1),
             nothing_written},
            // An unwritable output folder.
            {{good[0], good[1], "-o", dir.file("no/such/folder/v.h5")},
             1,
             "",
             "raw2odim: " + dir.file("no/such/folder/v.h5") + ": cannot create a file in " +
                 dir.file("no/such/folder") + ": No such file or directory\n"},
        });
}

}  // namespace
