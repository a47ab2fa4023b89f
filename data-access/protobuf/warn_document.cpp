// The JSON document of a WARN product: the header properties and one subtree per event.
#include "warn_document.h"

#include <cstring>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>

namespace azm {

namespace {

using orva::Product;
using orva::Properties;
using orva::putNumber;

constexpr std::size_t event_size = 300;
constexpr std::size_t label_offset = 68;
constexpr std::size_t label_width = 232;
constexpr int generator_inputs = 3;

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

}  // namespace

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

}  // namespace azm
