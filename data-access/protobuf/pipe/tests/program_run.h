// The command-line tests of every program: a program started without a shell (posix_spawn), its
// standard streams redirected as a case asks, and tables of cases (arguments, expected status,
// output and message) checked by one function.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char **environ;

namespace program_test {

struct Outcome {
    int status = -1;  // exit status; -1 when the process did not exit normally
    std::string out;  // standard output, when collected
    std::string err;  // standard error
};

// Where a program's standard streams go; by default standard input is /dev/null and both output
// streams are collected.
struct Streams {
    std::string input = "/dev/null";
    std::string output;         // a file (such as /dev/full) instead of collecting the output
    bool close_output = false;  // the program starts with standard output closed
    bool terminal = false;      // standard output is a pseudo-terminal; out is what reached it

    static Streams reading(std::string path) {
        Streams streams;
        streams.input = std::move(path);
        return streams;
    }
    static Streams writing_to(std::string path) {
        Streams streams;
        streams.output = std::move(path);
        return streams;
    }
    static Streams output_closed() {
        Streams streams;
        streams.close_output = true;
        return streams;
    }
    static Streams on_terminal() {
        Streams streams;
        streams.terminal = true;
        return streams;
    }
};

// Blank-separated words, for arguments written as one line (no quoting: test paths hold no
// blanks).
inline std::vector<std::string> words(const std::string &line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

namespace detail {

inline std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh, empty file of its own (tests may run in parallel).
inline std::string scratch_file() {
    std::string path = ::testing::TempDir() + "program_run_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        ADD_FAILURE() << "cannot create " << path;
    else
        close(fd);
    return path;
}

}  // namespace detail

// Runs `program` with `args`, without a shell, and waits for it.
inline Outcome run(const std::string &program, const std::vector<std::string> &args,
                   const Streams &streams = {}) {
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string err_path = detail::scratch_file();
    const bool collect = streams.output.empty() && !streams.close_output && !streams.terminal;
    const std::string out_path = collect ? detail::scratch_file() : streams.output;
    int terminal = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, streams.input.c_str(), O_RDONLY, 0);
    if (streams.terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
        posix_spawn_file_actions_addopen(&actions, 1, ptsname(terminal), O_RDWR, 0);
        posix_spawn_file_actions_addclose(&actions, terminal);
    } else if (streams.close_output) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
    } else {
        if (terminal >= 0) {
            // Drain the terminal until the program's side closes, so that a large write cannot
            // block.
            char buffer[4096];
            for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
                outcome.out.append(buffer, static_cast<std::size_t>(n));
        }
        int wait_status = 0;
        if (waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
            outcome.status = WEXITSTATUS(wait_status);
    }
    if (terminal >= 0)
        close(terminal);
    if (collect) {
        outcome.out = detail::read_all(out_path);
        std::remove(out_path.c_str());
    }
    outcome.err = detail::read_all(err_path);
    std::remove(err_path.c_str());
    return outcome;
}

// What a case expects of a text: all of the conditions given (none: anything).
class Text {
  public:
    Text() = default;
    Text(const char *exactly) : Text(std::string(exactly)) {}
    Text(std::string exactly) : exact_(true), exactly_(std::move(exactly)) {}
    static Text any() { return {}; }
    static Text starting(std::string prefix) { return Text().and_starting(std::move(prefix)); }
    static Text containing(std::string part) { return Text().and_containing(std::move(part)); }
    static Text lines(int count) { return Text().and_lines(count); }

    Text and_starting(std::string prefix) && {
        prefix_ = std::move(prefix);
        return std::move(*this);
    }
    Text and_containing(std::string part) && {
        parts_.push_back(std::move(part));
        return std::move(*this);
    }
    Text and_lines(int count) && {
        lines_ = count;
        return std::move(*this);
    }

    void expect(const std::string &text, const char *stream) const {
        if (exact_) {
            EXPECT_EQ(text, exactly_) << stream;
        }
        if (!text.starts_with(prefix_))
            ADD_FAILURE() << stream << " does not start with \"" << prefix_ << "\": " << text;
        for (const std::string &part : parts_) {
            EXPECT_NE(text.find(part), std::string::npos)
                << stream << " lacks \"" << part << "\": " << text;
        }
        if (lines_ >= 0) {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines_) << stream << ": " << text;
        }
    }

  private:
    bool exact_ = false;
    std::string exactly_;
    std::string prefix_;
    std::vector<std::string> parts_;
    int lines_ = -1;
};

// One command-line case of a program.
struct Case {
    std::vector<std::string> args;
    int status = 0;
    Text out = Text::any();
    Text err = "";
    // Further checks of the outcome (a parsed stream, files left behind), when the case has any.
    std::function<void(const Outcome &)> check = nullptr;
    Streams streams = {};
};

// Runs every case of the table and checks it; the failures name the arguments.
inline void run_cases(const std::string &program, const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        std::string line;
        for (const std::string &arg : c.args)
            line += " " + arg;
        SCOPED_TRACE(program + line);
        const Outcome outcome = run(program, c.args, c.streams);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        c.out.expect(outcome.out, "standard output");
        c.err.expect(outcome.err, "standard error");
        if (c.check)
            c.check(outcome);
    }
}

}  // namespace program_test
