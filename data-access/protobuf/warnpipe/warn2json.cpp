// warnpipe: converts one ORVA WARN product (warning events found by the product generator) into a
// JSON document: the product's header properties with one subtree per event under "data".
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/property_tree/exceptions.hpp>

#include "pipe_settings.h"
#include "program_shell.h"
#include "warn_document.h"
#include "wrdata/orvaproduct.h"

namespace {

using azm::WarnDocument;
using azm::orva::Product;

// ": " and the system's words for the error number, or nothing when the system gave none.
std::string systemReason(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

// An input that cannot be opened is, to the callers of the pipe, like any product it cannot
// convert: status 255.
std::ifstream openProduct(const std::string &path) {
    errno = 0;
    std::ifstream input(path, std::ios::binary);
    // A folder opens like a file but gives nothing to read.
    std::error_code ignored;
    const int error = !input ? errno : std::filesystem::is_directory(path, ignored) ? EISDIR : 0;
    if (!input || error != 0) {
        throw azm::ProgramFailure(path + ": cannot open" + systemReason(error),
                                  azm::kRefusedStatus);
    }
    return input;
}

}  // namespace

int main(int argc, char **argv) {
    const azm::Program program("warnpipe");
    return program.run([&] {
        const boost::program_options::options_description own("This pipe options");
        const azm::PipeSettings settings(argc, argv, "1.0", &own);
        for (const std::string &option : settings.unrecognised()) {
            program.report("unknown option " + option + " ignored");
        }
        const std::string input = settings["ip"].as<std::vector<std::string>>().front();
        const std::string output = settings["op"].as<std::string>();

        std::ifstream file = openProduct(input);
        try {
            Product product(file);
            const std::optional<WarnDocument> document = WarnDocument::of(product);
            if (!document) {
                throw azm::ProgramFailure(input + ": This pipe only handles ORVA WARN products!",
                                          azm::kRefusedStatus);
            }
            // The document is written as it is produced; an empty path is standard output too.
            azm::Output out(output.empty() ? "-" : output);
            document->write(out.stream());
            out.commit();
        } catch (const boost::property_tree::ptree_bad_path &error) {
            throw azm::ProgramFailure(input + ": the product lacks the property " +
                                      error.path<boost::property_tree::ptree::path_type>().dump());
        } catch (const std::domain_error &error) {
            throw azm::ProgramFailure(input + ": " + error.what());
        }
        return azm::kSuccessStatus;
    });
}
