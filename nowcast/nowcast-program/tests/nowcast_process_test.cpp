// nowcast as a process: a forecast from the sample series read back with h5py (structure, ODIM
// types, the series' known motion), the command line, and refusals of bad input that leave no
// output behind (and an existing one untouched).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_run.h"
#include "temp_dir.h"

namespace {

const std::string kEarlier = std::string(SAMPLES_DIR) + "/moving-storms-00.raw";
const std::string kLater = std::string(SAMPLES_DIR) + "/moving-storms-01.raw";

using program_test::Case;
using program_test::Outcome;
using program_test::Text;
using program_test::words;

const std::string kNowcast = NOWCAST_PATH;

Outcome run(const std::string &arguments) {
    return program_test::run(kNowcast, words(arguments));
}

// The forecast file checked by check_forecast.py: speed (m/s), direction (degrees), tolerance,
// number of forecasts.
Outcome check_forecast(const std::string &file, const std::string &expected) {
    return program_test::run("/usr/bin/python3",
                             words(std::string(CHECK_FORECAST) + " " + file + " " + expected));
}

// The files of dir: after a refusal, only what the test put there.
int file_count(const TempDir &dir) {
    int count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.file("")))
        ++count;
    return count;
}

void write_text(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

TEST(NowcastTest, ForecastOfTheSampleSeriesHoldsItsMotion) {
    TempDir dir;
    const Outcome made = run(kEarlier + " " + kLater + " -o " + dir.file("f.h5"));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");
    // The series moves at 15 m/s toward 60 degrees; 12 forecasts of 5 minutes by default.
    const Outcome checked = check_forecast(dir.file("f.h5"), "15 60 1.5 12");
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;

    // One sweep, a coarser grid and other leads.
    const Outcome sweep = run(kEarlier + " " + kLater + " --sweep 0 --grid 128 --pixel 1600 " +
                              "--lead 30 --step 10 -o " + dir.file("s.h5"));
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const Outcome sweep_checked = check_forecast(dir.file("s.h5"), "15 60 2.5 3");
    EXPECT_EQ(sweep_checked.status, 0) << sweep_checked.out << sweep_checked.err;

    // A configuration is read: one that demands near-perfect correlation finds no motion.
    write_text(dir.file("strict.ini"), "correlation_threshold = 0.99\nspeed_limit = 2\n");
    const Outcome strict = run(kEarlier + " " + kLater + " --config " + dir.file("strict.ini") +
                               " -o " + dir.file("c.h5"));
    ASSERT_EQ(strict.status, 0) << strict.err;
    const Outcome strict_checked = check_forecast(dir.file("c.h5"), "15 60 1.5 12");
    EXPECT_NE(strict_checked.out.find("fault: motion off"), std::string::npos)
        << strict_checked.out;
}

TEST(NowcastTest, CommandLine) {
    TempDir dir;
    std::vector<Case> cases = {
        {{"--help"}, 0, Text::containing("usage: nowcast [options]").and_containing("--lead")},
        {{"--version"}, 0, "nowcast 1.0\n"},
    };
    const std::string in = kEarlier + " " + kLater;
    const std::string out = " -o " + dir.file("f.h5");
    for (const std::string &args :
         {std::string(""), in, kLater + out, in + out + " --sweep 0 --max",
          in + out + " --sweep -1", in + out + " --moment XYZ", in + out + " --grid 8",
          in + out + " --pixel 0", in + out + " --pixel nan", in + out + " --lead 7",
          in + out + " --step 0", in + out + " --lead 5 --step 10", in + out + " --bogus"}) {
        cases.push_back({words(args), 2, "", Text::starting("nowcast: bad command line: ")});
    }
    program_test::run_cases(kNowcast, cases);
    EXPECT_EQ(file_count(dir), 0);
}

TEST(NowcastTest, BadInputsFailWithoutOutput) {
    TempDir dir;
    write_text(dir.file("garbage.raw"), std::string(4000, 'x'));
    write_text(dir.file("bad.ini"), "signal_threshold = loud\n");
    write_text(dir.file("section.ini"), "[trec]\nspeed_limit = 3\n");
    write_text(dir.file("old.h5"), "an earlier result");
    const std::string out = " -o " + dir.file("f.h5");
    struct Refusal {
        std::string args, message;
    };
    const Refusal refusals[] = {
        {kEarlier + " " + dir.file("missing.raw") + out, "missing.raw"},
        {kEarlier + " " + dir.file("garbage.raw") + out, "garbage.raw"},
        {kLater + " " + kEarlier + out, "is not later than"},
        {kLater + " " + kLater + out, "is not later than"},
        {kEarlier + " " + kLater + " --sweep 99" + out, "no image of DBZH in PPI sweep 99"},
        {kEarlier + " " + kLater + " --moment VRADH" + out, "no image of VRADH"},
        {kEarlier + " " + kLater + " --config " + dir.file("bad.ini") + out, "bad configuration"},
        {kEarlier + " " + kLater + " --config " + dir.file("none.ini") + out, "bad configuration"},
        {kEarlier + " " + kLater + " --config " + dir.file("section.ini") + out,
         "without sections"},
        {kEarlier + " " + kLater + " -o " + dir.file("no/such/folder/f.h5"), "cannot create"},
        {kEarlier + " " + kLater + " --sweep 99 -o " + dir.file("old.h5"), "no image"},
    };
    std::vector<Case> cases;
    for (const Refusal &r : refusals)
        cases.push_back(
            {words(r.args), 1, "", Text::starting("nowcast: ").and_containing(r.message)});
    program_test::run_cases(kNowcast, cases);
    EXPECT_EQ(file_count(dir), 4);
    EXPECT_EQ(TempDir::read_text(dir.file("old.h5")), "an earlier result");
}

}  // namespace
