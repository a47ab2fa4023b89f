// warnpipe: converts one ORVA WARN product (warning events found by the product generator) into a
// JSON document: the product's header properties with one subtree per event under "data".
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/property_tree/exceptions.hpp>

#include "pipe_settings.h"
#include "warn_document.h"
#include "wrdata/orvaproduct.h"

namespace {

using azm::WarnDocument;
using azm::orva::Product;

constexpr int refused_status = -1;  // 255 to the shell

// An input that cannot be opened: to the callers of the pipe, like any product it cannot convert.
class UnopenableInput : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// ": " and the system's words for the error number, or nothing when the system gave none.
std::string systemReason(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

Product readProduct(const std::string &path) {
    errno = 0;
    std::ifstream input(path, std::ios::binary);
    // A folder opens like a file but gives nothing to read.
    std::error_code ignored;
    const int error = !input ? errno : std::filesystem::is_directory(path, ignored) ? EISDIR : 0;
    if (!input || error != 0) {
        throw UnopenableInput("cannot open the input file " + path + systemReason(error));
    }
    return Product(input);
}

// Writes the document to standard output ("" or "-") or to the named file as it is produced. A
// file that could not be written completely is removed (a device stays).
void writeDocument(const std::string &path, const WarnDocument &document) {
    if (path.empty() || path == "-") {
        errno = 0;
        document.write(std::cout);
        std::cout.flush();
        if (!std::cout) {
            throw std::runtime_error("cannot write the document to standard output" +
                                     systemReason(errno));
        }
        return;
    }
    errno = 0;
    std::ofstream output(path, std::ios::binary | std::ios::trunc);
    if (!output) {
        throw std::runtime_error("cannot create the output file " + path + systemReason(errno));
    }
    const auto removePartial = [&path] {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored)) {
            std::filesystem::remove(path, ignored);
        }
    };
    int error = 0;
    try {
        errno = 0;
        document.write(output);
        output.close();
        error = errno;
    } catch (...) {
        removePartial();
        throw;
    }
    if (!output) {
        removePartial();
        throw std::runtime_error("cannot write the output file " + path + systemReason(error));
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string input;
    try {
        const boost::program_options::options_description own("This pipe options");
        const azm::PipeSettings settings(argc, argv, "1.0", &own);
        input = settings["ip"].as<std::vector<std::string>>().front();
        const std::string output = settings["op"].as<std::string>();

        Product product = readProduct(input);
        const std::optional<WarnDocument> document = WarnDocument::of(product);
        if (!document) {
            std::cerr << "This pipe only handles ORVA WARN products!" << std::endl;
            return refused_status;
        }
        writeDocument(output, *document);
        return 0;
    } catch (const boost::program_options::error &error) {
        return azm::report_bad_command_line("warnpipe", error);
    } catch (const UnopenableInput &error) {
        std::cerr << "warnpipe: " << error.what() << std::endl;
        return refused_status;
    } catch (const boost::property_tree::ptree_bad_path &error) {
        std::cerr << "warnpipe: " << input << ": the product lacks the property "
                  << error.path<boost::property_tree::ptree::path_type>().dump() << std::endl;
    } catch (const std::domain_error &error) {
        std::cerr << "warnpipe: " << input << ": " << error.what() << std::endl;
    } catch (const std::exception &error) {
        std::cerr << "warnpipe: " << error.what() << std::endl;
    }
    return 1;
}
