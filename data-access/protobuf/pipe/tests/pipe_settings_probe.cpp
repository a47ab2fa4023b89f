// A minimal pipe entry over PipeSettings: declares a pipe group like rawpipe's (plus an integer
// option, for values of the wrong type) and prints what the settings hold, one "name=value" line
// per stored option, defaulted values marked.
#include <iostream>
#include <string>
#include <vector>

#include "pipe_settings.h"

namespace po = boost::program_options;

namespace {

std::string text_of(const po::variable_value &value) {
    if (value.empty())
        return "";
    const boost::any &held = value.value();
    if (const auto *s = boost::any_cast<std::string>(&held))
        return *s;
    if (const auto *n = boost::any_cast<int>(&held))
        return std::to_string(*n);
    if (const auto *list = boost::any_cast<std::vector<std::string>>(&held)) {
        std::string joined;
        for (const std::string &item : *list)
            joined += (joined.empty() ? "" : ",") + item;
        return joined;
    }
    return "?";
}

}  // namespace

int main(int argc, char *argv[]) {
    const unsigned line = po::options_description::m_default_line_length;
    po::options_description pipe("This pipe options", line, line / 2);
    pipe.add_options()  //
        ("moment,m", po::value<std::string>()->default_value("all"),
         "which moment data to store, default is `all`")  //
        ("count,n", po::value<int>(), "how many");
    try {
        const azm::PipeSettings settings(argc, argv, "1.0", &pipe);
        for (const auto &[name, value] : settings) {
            std::cout << name << '=' << text_of(value) << (value.defaulted() ? " (default)" : "")
                      << '\n';
        }
    } catch (const po::error &e) {
        return azm::report_bad_command_line("pipe_settings_probe", e);
    }
    return 0;
}
