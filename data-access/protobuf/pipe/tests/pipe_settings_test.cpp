// The shared command line, run as a real process of a small pipe built on PipeSettings, plus the
// environment name mapping.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pipe_settings.h"

extern char **environ;

namespace {

namespace po = boost::program_options;

struct Outcome {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh, empty file of its own in the test's temporary directory (tests may run in parallel).
std::string fresh_temp_file() {
    std::string path = ::testing::TempDir() + "pipe_settings_probe_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        ADD_FAILURE() << "cannot create " << path;
    close(fd);
    return path;
}

// Runs the probe with `args`, its standard output going to `stdout_path` (a temporary file when
// empty) and its standard error to a temporary file.
Outcome run_probe(const std::vector<std::string> &args, std::string stdout_path = "") {
    const std::string err_path = fresh_temp_file();
    const bool capture = stdout_path.empty();
    if (capture)
        stdout_path = fresh_temp_file();

    std::vector<std::string> argv_text{PIPE_SETTINGS_PROBE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        pid = -1;
    }
    int wait_status = 0;
    if (pid > 0 && waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
        outcome.status = WEXITSTATUS(wait_status);
    if (capture) {
        outcome.out = read_file(stdout_path);
        std::remove(stdout_path.c_str());
    }
    outcome.err = read_file(err_path);
    std::remove(err_path.c_str());
    return outcome;
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(PipeSettingsCommandLine, InputsAndOutputAreStoredInCommandLineOrder) {
    Outcome two = run_probe({"a.raw", "b.raw"});
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(two.out, "ip=a.raw,b.raw\nmoment=all (default)\nop=- (default)\n");
    EXPECT_EQ(two.err, "");

    // The option's value and the positional argument both land in "ip".
    Outcome mixed = run_probe({"-i", "a.raw", "c.raw", "-o", "out.bin", "-m", "dbz"});
    EXPECT_EQ(mixed.status, 0);
    EXPECT_EQ(mixed.out, "ip=a.raw,c.raw\nmoment=dbz\nop=out.bin\n");

    Outcome interleaved = run_probe({"z.raw", "--ip=y.raw", "--op", "-", "x.raw"});
    EXPECT_EQ(interleaved.out, "ip=z.raw,y.raw,x.raw\nmoment=all (default)\nop=-\n");
}

TEST(PipeSettingsCommandLine, DeprecatedAndUndeclaredOptionsChangeNothing) {
    Outcome device = run_probe({"--device", "3", "a.raw"});
    EXPECT_EQ(device.status, 0);
    EXPECT_EQ(device.out, "device=3\nip=a.raw\nmoment=all (default)\nop=- (default)\n");

    Outcome unknown = run_probe({"--colour=blue", "-q", "a.raw"});
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.out, "ip=a.raw\nmoment=all (default)\nop=- (default)\n");
    EXPECT_EQ(unknown.err, "");
}

TEST(PipeSettingsCommandLine, HelpListsSharedThenPipeOptionsAndHidesDeprecatedOnes) {
    const Outcome help = run_probe({"--help", "a.raw"});
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
    EXPECT_FALSE(contains(text, "Deprecated"));
    EXPECT_FALSE(contains(text, "--device"));
    EXPECT_FALSE(contains(text, "input file name"));
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");  // the summary, then one newline

    // Without any input path the same summary is the answer, with status 0.
    EXPECT_EQ(run_probe({}).out, text);
    EXPECT_EQ(run_probe({"-o", "out.bin"}).out, text);
    EXPECT_EQ(run_probe({"--if", "old.raw"}).out, text);  // the deprecated input is not an input
}

TEST(PipeSettingsCommandLine, VersionWinsOverHelp) {
    for (const auto &args :
         {std::vector<std::string>{"-v", "-h"}, {"--help", "--version", "a.raw"}}) {
        const Outcome version = run_probe(args);
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, "1.0\n");
        EXPECT_EQ(version.err, "");
    }
}

TEST(PipeSettingsCommandLine, AnswerThatCannotBeWrittenIsAFailure) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    EXPECT_NE(run_probe({"--version"}, "/dev/full").status, 0);
    EXPECT_NE(run_probe({"--help"}, "/dev/full").status, 0);
}

TEST(PipeSettingsCommandLine, MalformedCommandLineIsOneLineOnStandardErrorAndNoOutput) {
    const struct {
        std::vector<std::string> args;
        const char *names;  // what the message must point at
    } cases[] = {
        {{"a.raw", "-o"}, "--op"},
        {{"-i"}, "--ip"},
        {{"-n", "many", "a.raw"}, "--count"},
        {{"-o", "x.bin", "--op", "y.bin", "a.raw"}, "--op"},
        {{"--help=yes", "a.raw"}, "--help"},
        {{"-n", "1\n2", "a.raw"}, "--count"},  // a line break inside the value stays on one line
    };
    for (const auto &c : cases) {
        const Outcome bad = run_probe(c.args);
        SCOPED_TRACE(c.args.front() + " ... -> " + bad.err);
        EXPECT_EQ(bad.status, azm::kBadCommandLineStatus);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err.rfind("pipe_settings_probe: bad command line: ", 0), 0u);
        EXPECT_TRUE(contains(bad.err, c.names));
        EXPECT_EQ(bad.err.find('\n'), bad.err.size() - 1);
    }
}

TEST(PipeSettings, ParserErrorLeavesTheConstructor) {
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

TEST(PipeSettings, EnvironmentNamesMapToOptionNames) {
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
