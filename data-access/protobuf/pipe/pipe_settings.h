// Command line of the pipe programs: the options every pipe shares, plus a group of the pipe's own.
#pragma once

#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "program_shell.h"

namespace azm {

// The parsed command line, read by option name: settings["op"].as<std::string>(),
// settings["ip"].as<std::vector<std::string>>().
//
// Shared options: "version,v" and "help,h" (switches), "ip,i" (input paths; every positional
// argument lands there too, in command-line order) and "op,o" (output path, default "-" for
// standard output). The deprecated "if" and "device,d" are accepted and stored but never shown in
// the help. Options that no group declares are skipped; unrecognised() lists them, so that the
// pipe can say so.
class PipeSettings : public boost::program_options::variables_map {
  public:
    // Parses the command line. `version` is printed for "version"; `pipe_options` (may be null) is
    // the pipe's own group, accepted and shown in the help after the shared options.
    //
    // Ends the process with status 0 after printing the version (which wins over "help"), or after
    // printing the option summary when "help" is given or no input path is. A malformed command
    // line (a value missing, a value of the wrong type, a value given twice) leaves the
    // constructor as boost::program_options::error; see report_bad_command_line.
    PipeSettings(int argc, const char *const argv[], const std::string &version,
                 const boost::program_options::options_description *pipe_options = nullptr);
    ~PipeSettings() override;

    // The options on the command line that no group declares, as written (for example "-x" or
    // "--moments=Z"), in command-line order.
    const std::vector<std::string> &unrecognised() const { return unrecognised_; }

  private:
    std::vector<std::string> unrecognised_;
};

// Maps the product's environment variable names to option names ("ORVA_BIN" to "bin", ...); any
// other name gives the empty string, which makes the environment parser drop the variable.
std::string name_mapper_func(const std::string &env_name);

}  // namespace azm
