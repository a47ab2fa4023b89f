// raw2odim: one radar volume, stored as one or more ORVA RAW product files, into one ODIM_H5 2.4
// file.
#include <sstream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "filepublisher.h"
#include "program_shell.h"
#include "pvol_odim.h"

namespace po = boost::program_options;

namespace {

const char kProgram[] = "raw2odim";

// The writer's message callback carries no argument of its own: the program's name is a constant.
void print_message(const char *text) {
    azm::report(kProgram, text);
}

std::vector<std::string> split_list(const std::string &list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    for (std::string name; std::getline(in, name, ',');) {
        if (name.empty())
            throw po::error("--moments holds an empty name: " + list);
        names.push_back(name);
    }
    return names;
}

}  // namespace

int main(int argc, char *argv[]) {
    const azm::Program program(kProgram);
    po::options_description options("Options");
    options.add_options()                                                                     //
        ("output,o", po::value<std::string>(), "the ODIM_H5 file to write")                   //
        ("source", po::value<std::string>(), "what/source (default PLC: and the site name)")  //
        ("moments", po::value<std::string>(),
         "comma-separated moments to write, by ODIM quantity or toolkit name (default all)")   //
        ("compression", po::value<int>()->default_value(6), "gzip level of the data, 0 to 9")  //
        ("keep-partial", "write what could be read when an input is bad (exit status 3)")      //
        ("help,h", "show this help")                                                           //
        ("version,v", "show the version");

    return program.run([&] {
        const po::variables_map settings = program.parse_command_line(
            argc, argv, options, "usage: raw2odim [options] FILE... -o OUT.h5", "1.0");
        if (!settings.count("input"))
            throw po::error("no input file");
        if (!settings.count("output"))
            throw po::error("no output file (-o OUT.h5)");
        const int level = settings["compression"].as<int>();
        if (level < 0 || level > 9)
            throw po::error("--compression must be 0 to 9, not " + std::to_string(level));
        std::vector<std::string> moments;
        if (settings.count("moments"))
            moments = split_list(settings["moments"].as<std::string>());

        const bool keep_partial = settings.count("keep-partial") > 0;
        const azm::CheckedVolume input = azm::read_checked_volume(
            settings["input"].as<std::vector<std::string>>(), azm::EightBitData::as_stored);
        for (const azm::FileProblem &problem : input.problems)
            program.report(problem.message);
        if (!input.scan || (!input.whole() && !keep_partial))
            return azm::kFailureStatus;

        std::vector<const char *> names;
        for (const std::string &name : moments)
            names.push_back(name.c_str());
        pvol_odim_options odim;
        pvol_odim_options_init(&odim);
        const std::string source =
            settings.count("source") ? settings["source"].as<std::string>() : "";
        if (settings.count("source"))
            odim.source = source.c_str();
        odim.compression = level;
        odim.moments = names.empty() ? nullptr : names.data();
        odim.moment_count = static_cast<int>(names.size());
        const std::string output = settings["output"].as<std::string>();
        if (pvol_save_odim(input.scan.get(), output.c_str(), &odim, print_message) != 0)
            return azm::kFailureStatus;
        return input.whole() ? azm::kSuccessStatus : azm::kPartialStatus;
    });
}
