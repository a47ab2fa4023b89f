// warnpipe: converts one ORVA WARN product (warning events found by the product generator) into a
// JSON document: the product's header properties with one subtree per event under "data".
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/property_tree/json_parser.hpp>

#include "pipe_settings.h"
#include "wrdata/orvaproduct.h"

namespace {

using azm::orva::Product;
using azm::orva::Properties;
using azm::orva::putNumber;

constexpr int refused_status = -1;  // 255 to the shell
constexpr std::size_t event_size = 300;
constexpr std::size_t label_offset = 68;
constexpr std::size_t label_width = 232;
constexpr int generator_inputs = 3;

// Bad input: reported on one line, nothing is written.
struct BadProduct : std::domain_error {
    using std::domain_error::domain_error;
};

std::int32_t wordAt(const std::uint8_t *record, std::size_t offset) {
    std::int32_t word;
    std::memcpy(&word, record + offset, sizeof word);
    return word;
}

// A bin4 angle read signed: -180 up to below 180 degrees.
double degreesAt(const std::uint8_t *record, std::size_t offset) {
    return 180.0 * wordAt(record, offset) / 2147483648.0;
}

// The label ends at its NUL, or at the end of its field when it fills all of it.
std::string labelOf(const std::uint8_t *record) {
    const char *label = reinterpret_cast<const char *>(record + label_offset);
    return std::string(label, strnlen(label, label_width));
}

void putEvent(Properties &tree, const std::string &prefix, const std::uint8_t *record) {
    putNumber(tree, prefix + "lat", degreesAt(record, 0));
    putNumber(tree, prefix + "lon", degreesAt(record, 4));
    putNumber(tree, prefix + "alt", wordAt(record, 8) / 100.0);
    putNumber(tree, prefix + "area", wordAt(record, 16) * 10000.0);
    putNumber(tree, prefix + "ellipse_major", wordAt(record, 20) / 100.0);
    putNumber(tree, prefix + "ellipse_minor", wordAt(record, 24) / 100.0);
    putNumber(tree, prefix + "ellipse_azimuth", degreesAt(record, 28));
    tree.put(prefix + "text_label", labelOf(record));
    putNumber(tree, prefix + "input_scale_km_per_pix", wordAt(record, 60) / 100000.0);
    for (int j = 0; j < generator_inputs; ++j) {
        const std::string input = prefix + "input" + std::to_string(j) + ".";
        putNumber(tree, input + "max", wordAt(record, 36 + 4 * j) / 100.0);
        putNumber(tree, input + "average", wordAt(record, 48 + 4 * j) / 100.0);
    }
}

// The JSON document of a WARN product; an empty result means the product is not one.
std::string warnDocument(Product &product) {
    Properties tree = product.getProperties(0);
    const std::string category = tree.get<std::string>("category");
    const std::string product_type = tree.get<std::string>("product_type");
    if (product.getSectionCount() > 1 || category != "Event" || product_type != "WARN") {
        return {};
    }
    const int count = tree.get<int>("data.count");
    const std::size_t size = product.getDataSize(0);
    if (count < 0) {
        throw BadProduct("the product gives a negative event count (" + std::to_string(count) +
                         ")");
    }
    if (count > 0 && size == 0) {
        throw BadProduct("the product announces " + std::to_string(count) +
                         " events but holds no event data");
    }
    if (size != count * event_size) {
        throw BadProduct("the event data hold " + std::to_string(size) + " bytes, " +
                         std::to_string(count) + " events need " +
                         std::to_string(count * event_size));
    }
    const std::uint8_t *events = product.getData(0);
    for (int i = 0; i < count; ++i) {
        putEvent(tree, "data.event" + std::to_string(i) + ".", events + i * event_size);
    }
    std::ostringstream json;
    boost::property_tree::write_json(json, tree, true);
    return json.str();
}

Product readProduct(const std::string &path) {
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        throw BadProduct("cannot open the input file");
    }
    return Product(input);
}

// Writes the whole document to standard output ("" or "-") or to the named file. A file that
// could not be written completely is removed (a device stays).
void writeDocument(const std::string &path, const std::string &document) {
    if (path.empty() || path == "-") {
        std::cout.write(document.data(), static_cast<std::streamsize>(document.size()));
        std::cout.flush();
        if (!std::cout) {
            throw std::runtime_error("cannot write the document to standard output");
        }
        return;
    }
    std::ofstream output(path, std::ios::binary | std::ios::trunc);
    if (!output) {
        throw std::runtime_error("cannot create the output file " + path);
    }
    output.write(document.data(), static_cast<std::streamsize>(document.size()));
    output.close();
    if (!output) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored)) {
            std::filesystem::remove(path, ignored);
        }
        throw std::runtime_error("cannot write the output file " + path);
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
        const std::string document = warnDocument(product);
        if (document.empty()) {
            std::cerr << "This pipe only handles ORVA WARN products!" << std::endl;
            return refused_status;
        }
        writeDocument(output, document);
        return 0;
    } catch (const boost::program_options::error &error) {
        return azm::report_bad_command_line("warnpipe", error);
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
