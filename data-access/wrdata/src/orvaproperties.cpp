// The product header as properties: section 0 of a product, the INI text of appended sections
// and the top of the WARN pipe's document use the same keys.
#include <cmath>
#include <locale>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "wrdata/orvaproduct.h"

namespace azm::orva {

namespace {

// Header fields of a WARN product's generator parameters.
constexpr std::size_t warn_event_name = 200;
constexpr std::size_t warn_input_type = 248;       // one byte per input; 0 = input not used
constexpr std::size_t warn_input_name = 212;       // 12 characters per input
constexpr std::size_t warn_input_threshold = 180;  // int32 per input, hundredths
constexpr std::size_t warn_input_time = 192;       // int16 per input, seconds
constexpr int warn_inputs = 3;

const char *const time_keys[] = {"year", "mon", "day", "hour", "min", "sec"};

void putTime(Properties &tree, const std::string &prefix, const YMDHHMMSS &time) {
    tree.put(prefix + ".year", time.year);
    tree.put(prefix + ".mon", time.mon);
    tree.put(prefix + ".day", time.day);
    tree.put(prefix + ".hour", time.hour);
    tree.put(prefix + ".min", time.min);
    tree.put(prefix + ".sec", time.sec);
}

bool has(const Properties &tree, const std::string &path) {
    return static_cast<bool>(tree.get_child_optional(path));
}

// The time under prefix when all six of its keys are present.
std::optional<YMDHHMMSS> getTime(const Properties &tree, const std::string &prefix) {
    for (const char *key : time_keys) {
        if (!has(tree, prefix + "." + key)) {
            return std::nullopt;
        }
    }
    YMDHHMMSS time;
    time.year = tree.get<int>(prefix + ".year");
    time.mon = tree.get<int>(prefix + ".mon");
    time.day = tree.get<int>(prefix + ".day");
    time.hour = tree.get<int>(prefix + ".hour");
    time.min = tree.get<int>(prefix + ".min");
    time.sec = tree.get<int>(prefix + ".sec");
    return time;
}

const char *category(const Header &header) {
    if (header.isScalar()) {
        return "Scalar";
    }
    if (header.isRaw()) {
        return "Raw";
    }
    if (header.isEvent()) {
        return "Event";
    }
    return "Other";
}

void putWarnParameters(Properties &tree, const Header &header) {
    tree.put("event_name", header.text(warn_event_name, 12));
    for (int i = 0; i < warn_inputs; ++i) {
        const auto type = header.load<std::uint8_t>(warn_input_type + i);
        if (type == 0) {
            continue;
        }
        const std::string prefix = "input" + std::to_string(i) + ".";
        tree.put(prefix + "product_type", Header::ProductType(type));
        tree.put(prefix + "product_name", header.text(warn_input_name + 12 * i, 12));
        putNumber(tree, prefix + "threshold",
                  header.load<std::int32_t>(warn_input_threshold + 4 * i) / 100.0);
        tree.put(prefix + "time_sec", header.load<std::int16_t>(warn_input_time + 2 * i));
    }
    tree.put("data.count", header.getPspEventCount());
}

// Sets the grid and geo-reference of the header; absent sizes keep the header's values.
void putGeometry(Header &header, const Properties &tree) {
    const auto dim = header.getDim();
    header.setDim(tree.get<int>("data.x_size", dim[0]), tree.get<int>("data.y_size", dim[1]),
                  tree.get<int>("data.z_size", dim[2]));
    header.setGeoReference(tree);
}

}  // namespace

boost::optional<std::string> NumberTranslator::put_value(double value) const {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(16);
    text << value;
    return text.str();
}

boost::optional<double> NumberTranslator::get_value(const std::string &text) const {
    std::istringstream input(text);
    input.imbue(std::locale::classic());
    double value;
    input >> value;
    if (input.fail()) {
        return boost::none;
    }
    input >> std::ws;
    if (!input.eof()) {
        return boost::none;
    }
    return value;
}

void putNumber(Properties &tree, const std::string &path, double value) {
    tree.put(path, value, NumberTranslator());
}

std::int64_t scalarDataSize(const Header &header) {
    const auto dim = header.getDim();
    const std::int64_t z = dim[2] > 0 ? dim[2] : 1;
    // The grid comes from the file: a product of three 32-bit counts can exceed 64 bits.
    std::int64_t bits = 0;
    if (__builtin_mul_overflow(std::int64_t{dim[0]}, std::int64_t{dim[1]}, &bits) ||
        __builtin_mul_overflow(bits, z, &bits) ||
        __builtin_mul_overflow(bits, std::int64_t{header.getStorage().bits}, &bits)) {
        throw std::domain_error(
            "the product header gives a grid of more bytes than any file holds");
    }
    return bits / 8;
}

void orva_header2properties(Properties &tree, const Header &header) {
    tree.put("product_type", header.getProductType());
    tree.put("config_name", header.getProductConfigName());
    tree.put("radar.hardware_name", header.getIngestHardwareName());
    tree.put("radar.site_name", header.getSiteName());
    putTime(tree, "ingest_time", header.getIngestYMDHHMMSS());
    putTime(tree, "analysis_time", header.getAnalysisYMDHHMMSS());
    const double span = header.getPspTimeSpanMinutes();
    if (!std::isnan(span)) {
        putNumber(tree, "psp.time_span_minutes", span);
    }
    const std::string kind = category(header);
    tree.put("category", kind);
    if (kind == "Scalar") {
        const Storage storage = header.getStorage();
        const auto [name, unit] = header.getDataType();
        tree.put("data.storage", storage.name);
        tree.put("data.pack_bits", storage.bits);
        tree.put("data.type", name);
        tree.put("data.units", unit);
        tree.put("data.orva_code", storage.code);
        tree.put("data.size", scalarDataSize(header));
        header.getGeoReference(tree);
        const double angle = header.getPspPpiAngle();
        if (!std::isnan(angle)) {
            putNumber(tree, "psp.ppi.constant_angle", angle);
        }
    } else if (kind == "Raw" || kind == "Other") {
        tree.put("data.size", 0);
    } else if (header.getProductType() == "WARN") {
        putWarnParameters(tree, header);
    }
    if (kind == "Other" && header.getPspUncompressedSize() != 0) {
        tree.put("psp.uncompressed_size", header.getPspUncompressedSize());
    }
}

void properties2orva_header(Header &header, const Properties &tree) {
    if (has(tree, "data.type")) {
        const char *bits_key = has(tree, "data.pack_bits") ? "data.pack_bits" : "data.bits";
        if (has(tree, bits_key)) {
            header.setOrvaType(tree.get<std::string>("data.type"), tree.get<int>(bits_key));
        }
    }
    if (has(tree, "radar.fixed_nyquist")) {
        header.adjustPRF(tree.get<double>("radar.fixed_nyquist"));
    }
    if (has(tree, "product_type")) {
        header.setProductType(tree.get<std::string>("product_type"));
    }
    if (has(tree, "config_name")) {
        header.setProductConfigName(tree.get<std::string>("config_name"));
    }
    if (has(tree, "psp.ppi.constant_angle")) {
        header.setPspPpiAngle(tree.get<double>("psp.ppi.constant_angle"));
    }
    if (has(tree, "psp.time_span_minutes")) {
        header.setPspTimeSpanMinutes(tree.get<double>("psp.time_span_minutes"));
    }
    if (has(tree, "radar.site_name")) {
        header.setSiteName(tree.get<std::string>("radar.site_name"));
    }
    if (has(tree, "radar.hardware_name")) {
        header.setIngestHardwareName(tree.get<std::string>("radar.hardware_name"));
    }
    const auto ingest = getTime(tree, "ingest_time");
    if (ingest) {
        header.setIngestYMDHHMMSS(*ingest);
    }
    if (const auto analysis = getTime(tree, "analysis_time")) {
        header.setAnalysisYMDHHMMSS(*analysis);
    } else if (ingest) {
        header.setAnalysisYMDHHMMSS(*ingest);
    }
    const std::string kind = tree.get<std::string>("category", "");
    if (kind == "Scalar" || kind == "Raw" ||
        (kind == "Other" && tree.get<std::string>("product_type", "") == "SWS")) {
        putGeometry(header, tree);
    }
    if (has(tree, "psp.uncompressed_size")) {
        header.setPspUncompressedSize(tree.get<std::uint32_t>("psp.uncompressed_size"));
    }
}

}  // namespace azm::orva
