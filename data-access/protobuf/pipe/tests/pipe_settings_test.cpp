// The shared command line, run as a real process of a small pipe built on PipeSettings, plus the
// environment name mapping.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "pipe_settings.h"
#include "program_run.h"

namespace {

namespace po = boost::program_options;
using program_test::Case;
using program_test::Text;

const std::string kProbe = PIPE_SETTINGS_PROBE;

TEST(PipeSettingsTest, InputsAndOutputAreStoredInCommandLineOrder) {
    program_test::run_cases(
        kProbe,
        {
            {{"a.raw", "b.raw"}, 0, "ip=a.raw,b.raw\nmoment=all (default)\nop=- (default)\n"},
            // The option's value and the positional argument both land in "ip".
            {{"-i", "a.raw", "c.raw", "-o", "out.bin", "-m", "dbz"},
             0,
             "ip=a.raw,c.raw\nmoment=dbz\nop=out.bin\n"},
            {{"z.raw", "--ip=y.raw", "--op", "-", "x.raw"},
             0,
             "ip=z.raw,y.raw,x.raw\nmoment=all (default)\nop=-\n"},
            // Deprecated and undeclared options change nothing.
            {{"--device", "3", "a.raw"},
             0,
             "device=3\nip=a.raw\nmoment=all (default)\nop=- (default)\n"},
            {{"--colour=blue", "-q", "a.raw"},
             0,
             "ip=a.raw\nmoment=all (default)\nop=- (default)\n"},
        });
}

TEST(PipeSettingsTest, HelpListsSharedThenPipeOptionsAndHidesDeprecatedOnes) {
    const program_test::Outcome help = program_test::run(kProbe, {"--help", "a.raw"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    const std::string &text = help.out;
    EXPECT_EQ(text.rfind("Allowed options:\n", 0), 0u) << text;
    const std::vector<std::string> in_order{"Generic:",
                                            "-v [ --version ]",
                                            "print pipe version",
                                            "-h [ --help ]",
                                            "produce help message",
                                            "-i [ --ip ] arg",
                                            "full path to input file",
                                            "-o [ --op ] arg (=-)",
                                            "full path to output file, default `-`, stdout",
                                            "This pipe options:",
                                            "-m [ --moment ] arg (=all)",
                                            "which moment data to store, default is `all`"};
    std::size_t pos = 0;
    for (const std::string &part : in_order) {
        const std::size_t found = text.find(part, pos);
        ASSERT_NE(found, std::string::npos) << "\"" << part << "\" missing or out of order in\n"
                                            << text;
        pos = found + part.size();
    }
    EXPECT_EQ(text.find("Deprecated"), std::string::npos);
    EXPECT_EQ(text.find("--device"), std::string::npos);
    EXPECT_EQ(text.find("input file name"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");  // the summary, then one newline

    // Without any input path the same summary is the answer, with status 0; the deprecated input
    // is not an input.
    program_test::run_cases(
        kProbe, {{{}, 0, text}, {{"-o", "out.bin"}, 0, text}, {{"--if", "old.raw"}, 0, text}});
}

TEST(PipeSettingsTest, VersionWinsOverHelp) {
    program_test::run_cases(
        kProbe, {{{"-v", "-h"}, 0, "1.0\n"}, {{"--help", "--version", "a.raw"}, 0, "1.0\n"}});
}

TEST(PipeSettingsTest, AnswerThatCannotBeWrittenIsAFailure) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    const program_test::Streams full = program_test::Streams::writing_to("/dev/full");
    program_test::run_cases(kProbe, {{{"--version"}, 1, Text::any(), "", nullptr, full},
                                     {{"--help"}, 1, Text::any(), "", nullptr, full}});
}

TEST(PipeSettingsTest, MalformedCommandLineIsOneLineOnStandardErrorAndNoOutput) {
    const auto bad = [](std::vector<std::string> args, const char *names) {
        // One line that points at the option.
        return Case{std::move(args), azm::kBadCommandLineStatus, "",
                    Text::starting("pipe_settings_probe: bad command line: ")
                        .and_containing(names)
                        .and_lines(1)};
    };
    program_test::run_cases(kProbe, {
                                        bad({"a.raw", "-o"}, "--op"),
                                        bad({"-i"}, "--ip"),
                                        bad({"-n", "many", "a.raw"}, "--count"),
                                        bad({"-o", "x.bin", "--op", "y.bin", "a.raw"}, "--op"),
                                        bad({"--help=yes", "a.raw"}, "--help"),
                                        // A line break inside the value stays on one line.
                                        bad({"-n", "1\n2", "a.raw"}, "--count"),
                                    });
}

TEST(PipeSettingsTest, ParserErrorLeavesTheConstructor) {
    const char *missing_value[] = {"pipe", "a.raw", "--op"};
    EXPECT_THROW(azm::PipeSettings(3, missing_value, "1.0"), po::invalid_command_line_syntax);

    po::options_description pipe("This pipe options");
    pipe.add_options()("count,n", po::value<int>(), "how many");
    const char *wrong_type[] = {"pipe", "-n", "x", "a.raw"};
    EXPECT_THROW(azm::PipeSettings(4, wrong_type, "1.0", &pipe), po::invalid_option_value);
    // Without the pipe's group the same option is undeclared, hence skipped: "x" becomes an input.
    const azm::PipeSettings without_group(4, wrong_type, "1.0");
    EXPECT_EQ(without_group["ip"].as<std::vector<std::string>>(),
              (std::vector<std::string>{"x", "a.raw"}));
}

TEST(PipeSettingsTest, EnvironmentNamesMapToOptionNames) {
    EXPECT_EQ(azm::name_mapper_func("ORVA_BIN"), "bin");
    EXPECT_EQ(azm::name_mapper_func("ORVA_PIPES"), "pipes");
    EXPECT_EQ(azm::name_mapper_func("ORVA_LOG"), "log");
    EXPECT_EQ(azm::name_mapper_func("ORVA_CONFIG"), "config");
    EXPECT_EQ(azm::name_mapper_func("ORVA_TEMP"), "temp");
    EXPECT_EQ(azm::name_mapper_func("PATH"), "");
    EXPECT_EQ(azm::name_mapper_func("ORVA_BIN_X"), "");
    EXPECT_EQ(azm::name_mapper_func("orva_bin"), "");
}

}  // namespace
