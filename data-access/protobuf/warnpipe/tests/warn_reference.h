// The WARN document as warnpipe used to make it: every event put into a copy of the header's
// property tree, then the whole tree written by the property tree's JSON writer. The direct writer
// must give the same bytes; the tests and the fuzz target hold it to that.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>

#include "wrdata/orvaproduct.h"

namespace azm::reference {

inline std::int32_t wordAt(const std::uint8_t *record, std::size_t offset) {
    std::int32_t word;
    std::memcpy(&word, record + offset, sizeof word);
    return word;
}

inline double degreesAt(const std::uint8_t *record, std::size_t offset) {
    return 180.0 * wordAt(record, offset) / 2147483648.0;
}

inline void putEvent(orva::Properties &tree, const std::string &prefix,
                     const std::uint8_t *record) {
    using orva::putNumber;
    putNumber(tree, prefix + "lat", degreesAt(record, 0));
    putNumber(tree, prefix + "lon", degreesAt(record, 4));
    putNumber(tree, prefix + "alt", wordAt(record, 8) / 100.0);
    putNumber(tree, prefix + "area", wordAt(record, 16) * 10000.0);
    putNumber(tree, prefix + "ellipse_major", wordAt(record, 20) / 100.0);
    putNumber(tree, prefix + "ellipse_minor", wordAt(record, 24) / 100.0);
    putNumber(tree, prefix + "ellipse_azimuth", degreesAt(record, 28));
    const char *label = reinterpret_cast<const char *>(record + 68);
    tree.put(prefix + "text_label", std::string(label, strnlen(label, 232)));
    putNumber(tree, prefix + "input_scale_km_per_pix", wordAt(record, 60) / 100000.0);
    for (int j = 0; j < 3; ++j) {
        const std::string input = prefix + "input" + std::to_string(j) + ".";
        putNumber(tree, input + "max", wordAt(record, 36 + 4 * j) / 100.0);
        putNumber(tree, input + "average", wordAt(record, 48 + 4 * j) / 100.0);
    }
}

// The document of a product already known to be a WARN product with consistent event data.
inline std::string warnDocument(orva::Product &product) {
    orva::Properties tree = product.getProperties(0);
    const int count = tree.get<int>("data.count");
    const std::uint8_t *events = product.getData(0);
    for (int i = 0; i < count; ++i) {
        putEvent(tree, "data.event" + std::to_string(i) + ".", events + i * 300);
    }
    std::ostringstream json;
    boost::property_tree::write_json(json, tree, true);
    return json.str();
}

}  // namespace azm::reference
