// What every program of the toolkit does around its own work, done one way: the exit statuses,
// failures reported as "PROGRAM: text" lines on standard error, the answers to --help and
// --version, the command line of the programs that are not pipes, and output to standard output
// or to a file that is either complete or absent.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/program_options.hpp>

#include "replacing_file.h"

namespace azm {

// Exit statuses the manual pages document.
inline constexpr int kSuccessStatus = 0;
// Nothing (complete) was written: bad input, a failure while running, an output not written.
inline constexpr int kFailureStatus = 1;
inline constexpr int kBadCommandLineStatus = 2;
// --keep-partial wrote what could be read of a volume with bad inputs.
inline constexpr int kPartialStatus = 3;
// warnpipe: the input cannot be opened or is not a product the pipe converts (-1 in the source
// of old, 255 to the shell).
inline constexpr int kRefusedStatus = 255;

// A failure that ends the program with a status of its own; what() is the report, one or more
// lines without the program's name.
class ProgramFailure : public std::runtime_error {
  public:
    explicit ProgramFailure(const std::string &text, int status = kFailureStatus)
        : std::runtime_error(text), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// Writes each line of `text` (a final newline dropped) as "<program>: <line>" on standard error.
void report(std::string_view program, std::string_view text);

// Writes "<program>: bad command line: <what>" as one line on standard error (line breaks inside
// the message become blanks) and returns kBadCommandLineStatus.
int report_bad_command_line(const std::string &program, const std::exception &error);

// Ends the process after an answer written to standard output (--help, --version): status 0,
// or 1 when the answer could not be written (a closed pipe, a full disk).
[[noreturn]] void exit_after_answer();

class Program {
  public:
    // Ignores SIGPIPE: a reader that goes away makes the next write fail, which the program
    // reports, instead of ending the process without a word.
    explicit Program(std::string name);

    const std::string &name() const { return name_; }
    void report(std::string_view text) const { azm::report(name_, text); }

    // Runs the program's work and returns its exit status. An exception that leaves `body` is
    // reported and becomes the status: a malformed command line (boost's error) 2, a
    // ProgramFailure its own, anything else (out of memory included) 1.
    int run(const std::function<int()> &body) const;

    // The command line of a program that is not a pipe: `options` (shown by --help under
    // `usage`) and any number of input paths, stored under "input" in command-line order. --help
    // and --version ("<name> <version>") are answered before anything else is parsed, so that a
    // bad option beside them does not hide the answer; the version wins. A malformed command line
    // throws boost's error.
    boost::program_options::variables_map parse_command_line(
        int argc, const char *const argv[],
        const boost::program_options::options_description &options, const std::string &usage,
        const std::string &version) const;

    // Binary output helps nobody on a terminal: throws a ProgramFailure when standard output is
    // one and `output_chosen` is false (no -o given; "-o -" says the bytes are wanted anyway).
    void refuse_terminal_output(bool output_chosen) const;

  private:
    std::string name_;
};

// A program's result on its way to standard output ("-") or to a file (a ReplacingFile:
// complete under its name, or absent). Write to stream(), then commit(); an Output destroyed
// before commit() leaves no file. Failures throw a ProgramFailure whose text names the file
// ("standard output" for "-") and the system's reason: "FILE: cannot write: reason".
class Output {
  public:
    explicit Output(const std::string &target);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    std::ostream &stream();
    void commit();

  private:
    class DescriptorBuffer;
    std::string name_;
    std::unique_ptr<ReplacingFile> file_;
    std::unique_ptr<DescriptorBuffer> buffer_;
    std::unique_ptr<std::ostream> stream_;
};

// Writes `bytes` as the whole output at `target`, through an Output.
void write_output(const std::string &target, std::string_view bytes);

}  // namespace azm
