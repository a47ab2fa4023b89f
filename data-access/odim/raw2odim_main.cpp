// raw2odim: one radar volume, stored as one or more ORVA RAW product files, into one ODIM_H5 2.4
// file.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "pipe_settings.h"
#include "pvol_odim.h"
#include "volume_input.h"

namespace po = boost::program_options;

namespace {

const char kProgram[] = "raw2odim";
const char kVersion[] = "1.0";
constexpr int kPartialStatus = 3;

const char kUsage[] = "usage: raw2odim [options] FILE... -o OUT.h5";

void print_message(const char *text) {
    std::cerr << kProgram << ": " << text << std::flush;
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
    po::options_description hidden;
    hidden.add_options()("input", po::value<std::vector<std::string>>());
    po::options_description all;
    all.add(options).add(hidden);
    po::positional_options_description positional;
    positional.add("input", -1);

    po::variables_map settings;
    std::vector<std::string> moments;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                  settings);
        po::notify(settings);
        if (settings.count("version")) {
            std::cout << kProgram << " " << kVersion << std::endl;
            return 0;
        }
        if (settings.count("help")) {
            std::cout << kUsage << "\n" << options << std::endl;
            return 0;
        }
        if (!settings.count("input"))
            throw po::error("no input file");
        if (!settings.count("output"))
            throw po::error("no output file (-o OUT.h5)");
        const int level = settings["compression"].as<int>();
        if (level < 0 || level > 9)
            throw po::error("--compression must be 0 to 9, not " + std::to_string(level));
        if (settings.count("moments"))
            moments = split_list(settings["moments"].as<std::string>());
    } catch (const po::error &e) {
        return azm::report_bad_command_line(kProgram, e);
    }

    const bool keep_partial = settings.count("keep-partial") > 0;
    const azm::VolumeInput input =
        azm::read_volume(settings["input"].as<std::vector<std::string>>(), keep_partial);
    for (const std::string &line : input.failures)
        std::cerr << kProgram << ": " << line << std::endl;
    if (!input.scan || (!input.failures.empty() && !keep_partial))
        return 1;

    std::vector<const char *> names;
    for (const std::string &name : moments)
        names.push_back(name.c_str());
    pvol_odim_options odim;
    pvol_odim_options_init(&odim);
    const std::string source = settings.count("source") ? settings["source"].as<std::string>() : "";
    if (settings.count("source"))
        odim.source = source.c_str();
    odim.compression = settings["compression"].as<int>();
    odim.moments = names.empty() ? nullptr : names.data();
    odim.moment_count = static_cast<int>(names.size());
    const std::string output = settings["output"].as<std::string>();
    if (pvol_save_odim(input.scan.get(), output.c_str(), &odim, print_message) != 0)
        return 1;
    return input.failures.empty() ? 0 : kPartialStatus;
}
