#include "pipe_settings.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace azm {

namespace po = boost::program_options;

PipeSettings::PipeSettings(int argc, const char *const argv[], const std::string &version,
                           const po::options_description *pipe_options) {
    const unsigned line = po::options_description::m_default_line_length;
    po::options_description parsing(line, line / 2);
    po::options_description visible("Allowed options", line, line / 2);
    po::options_description generic("Generic", line, line / 2);
    po::options_description deprecated("Deprecated", line, line / 2);

    generic.add_options()                                                           //
        ("version,v", "print pipe version")                                         //
        ("help,h", "produce help message")                                          //
        ("ip,i", po::value<std::vector<std::string>>(), "full path to input file")  //
        ("op,o", po::value<std::string>()->default_value("-"),
         "full path to output file, default `-`, stdout");

    po::positional_options_description positional;
    positional.add("ip", -1);

    deprecated.add_options()                                              //
        ("if", po::value<std::vector<std::string>>(), "input file name")  //
        ("device,d", po::value<std::string>(), "output device number of this pipe");

    visible.add(generic);
    parsing.add(generic);
    if (pipe_options != nullptr) {
        visible.add(*pipe_options);
        parsing.add(*pipe_options);
    }
    parsing.add(deprecated);

    const po::parsed_options parsed = po::command_line_parser(argc, argv)
                                          .options(parsing)
                                          .positional(positional)
                                          .allow_unregistered()
                                          .run();
    po::store(parsed, *this);
    for (const po::option &option : parsed.options) {
        if (option.unregistered && !option.original_tokens.empty())
            unrecognised_.push_back(option.original_tokens.front());
    }

    if (count("version") != 0) {
        std::cout << version << '\n';
        exit_after_answer();
    }
    if (count("ip") == 0 || count("op") == 0 || count("help") != 0) {
        std::cout << visible << '\n';
        exit_after_answer();
    }
}

PipeSettings::~PipeSettings() = default;

std::string name_mapper_func(const std::string &env_name) {
    static const struct {
        const char *variable;
        const char *option;
    } kMapping[] = {{"ORVA_BIN", "bin"},
                    {"ORVA_PIPES", "pipes"},
                    {"ORVA_LOG", "log"},
                    {"ORVA_CONFIG", "config"},
                    {"ORVA_TEMP", "temp"}};
    for (const auto &entry : kMapping) {
        if (env_name == entry.variable)
            return entry.option;
    }
    return {};
}

}  // namespace azm
