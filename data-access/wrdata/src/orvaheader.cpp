#include "wrdata/orvaheader.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <istream>
#include <limits>
#include <numbers>
#include <optional>
#include <ostream>

#include <boost/property_tree/ptree.hpp>

#include "pvol/orva_records.h"
#include "pvol/orva_utils.h"
#include "pvol/radar_utils.h"
#include "wrdata/orvaproduct.h"

namespace azm::orva {

namespace {

// Byte offsets of the product header fields this model touches: the named fields of the shared
// layout, and the parameters whose meaning depends on the product type.
namespace at {
constexpr std::size_t hdr_id = offsetof(product_header, hdr.id);
constexpr std::size_t hdr_version = offsetof(product_header, hdr.iversion);
constexpr std::size_t hdr_bytes = offsetof(product_header, hdr.ibytes);
constexpr std::size_t hdr_flags = offsetof(product_header, hdr.iflags);
constexpr std::size_t pcf_id = offsetof(product_header, pcf.hdr.id);
constexpr std::size_t pcf_version = offsetof(product_header, pcf.hdr.iversion);
constexpr std::size_t pcf_bytes = offsetof(product_header, pcf.hdr.ibytes);
constexpr std::size_t pcf_flags = offsetof(product_header, pcf.hdr.iflags);
constexpr std::size_t product_type = offsetof(product_header, pcf.iptype);
constexpr std::size_t gen_time = offsetof(product_header, pcf.gen_time);
constexpr std::size_t sweep_time = offsetof(product_header, pcf.sweep_time);
constexpr std::size_t prod_name = offsetof(product_header, pcf.prod_name);
constexpr std::size_t task_name = offsetof(product_header, pcf.task_name);
constexpr std::size_t x_size = offsetof(product_header, pcf.ixsize);
constexpr std::size_t y_size = offsetof(product_header, pcf.iysize);
constexpr std::size_t z_size = 120;
constexpr std::size_t data_type = 142;  // uint16 ORVA data type code of the product's data
constexpr std::size_t ppi_angle = 176;  // bin2 elevation of a PPI product
constexpr std::size_t psp_180 = 180;
constexpr std::size_t psp_182 = 182;
constexpr std::size_t psp_186 = 186;
constexpr std::size_t psp_220 = 220;
constexpr std::size_t prod_site = offsetof(product_header, pend.prod_site);
constexpr std::size_t version = offsetof(product_header, pend.version);
constexpr std::size_t ing_version = offsetof(product_header, pend.ing_version);
constexpr std::size_t hw_name = offsetof(product_header, pend.hw_name);
constexpr std::size_t site_name = offsetof(product_header, pend.site_name);
constexpr std::size_t prf = offsetof(product_header, pend.iprf);
constexpr std::size_t trig_rate = offsetof(product_header, pend.itrig_rate);
constexpr std::size_t dsp_778 = offsetof(product_header, pend.dsp_778);
constexpr std::size_t wavelength = offsetof(product_header, pend.iwavelength);
constexpr std::size_t pend_flags = offsetof(product_header, pend.iflags);
constexpr std::size_t polarization = offsetof(product_header, pend.ipolarization);
constexpr std::size_t event_count = 618;  // int16 of event products
constexpr std::size_t radar_height = offsetof(product_header, pend.iradar_hgt);
constexpr std::size_t ground_height = offsetof(product_header, pend.iground_hgt);
constexpr std::size_t earth_radius = offsetof(product_header, pend.iearth_radius);  // cm
constexpr std::size_t inverse_flattening = offsetof(product_header, pend.iellipse_param);
constexpr std::size_t extended_header = offsetof(product_header, pend.ixhdr_offset);
}  // namespace at

constexpr std::size_t name_width = sizeof(product_configuration::prod_name);
constexpr std::size_t site_width = sizeof(product_end::site_name);
constexpr std::size_t version_width = sizeof(product_end::version);
static_assert(sizeof(product_header) == Header::base_size);

enum ProductTypeCode : int {
    kPpi = 1,
    kTrack = 6,
    kRain1 = 7,
    kRainN = 8,
    kWarn = 12,
    kCatch = 13,
    kRaw = 15,
    kStat = 20,
    kSline = 21,
    kTdwr = 29,
    kSws = 39,
};

struct ProductTypeRow {
    int type;
    const char *name;
    int kind;  // geometry class
    bool scalar;
};

// Searched in this order; the last row is the fallback.
constexpr ProductTypeRow product_types[] = {
    {33, "BASE", 2, true},  {23, "BEAM", 4, true},   {31, "DWELL", 2, true},
    {3, "CAPPI", 2, true},  {13, "CATCH", 6, false}, {28, "COMP", 9, false},
    {4, "XSECT", 3, true},  {25, "FCAST", 2, false}, {30, "GAGE", 5, false},
    {39, "SWS", 5, false},  {34, "HMAX", 2, true},   {27, "IMAGE", 4, false},
    {38, "LAYER", 2, true}, {16, "MAX", 2, true},    {40, "MLHGT", 2, true},
    {26, "NDOP", 2, false}, {19, "OTHER", 8, false}, {1, "PPI", 2, true},
    {7, "RAIN1", 2, true},  {8, "RAINN", 2, true},   {15, "RAW", 0, false},
    {2, "RHI", 3, true},    {14, "RTI", 4, true},    {37, "SAT", 2, true},
    {11, "SHEAR", 2, true}, {21, "SLINE", 6, false}, {32, "SRI", 2, true},
    {20, "STAT", 7, false}, {29, "TDWR", 6, false},  {24, "TEXT", 7, false},
    {36, "THICK", 2, true}, {5, "TOPS", 2, true},    {6, "TRACK", 6, false},
    {17, "USER", 2, true},  {18, "VUSER", 3, true},  {35, "VAD", 8, false},
    {10, "VIL", 2, true},   {9, "VVP", 8, false},    {22, "WIND", 1, false},
    {12, "WARN", 6, false}, {0, "NONE", 9, false},
};

const ProductTypeRow &productTypeRow(int type) {
    for (const auto &row : product_types) {
        if (row.type == type) {
            return row;
        }
    }
    return product_types[std::size(product_types) - 1];
}

struct DataTypeRow {
    int code;
    int bits;
    const char *name;
    const char *unit;
    const char *storage;  // literal texts of the format
};

// Searched in this order up to the "Null" row, which ends the table.
constexpr DataTypeRow data_types[] = {
    {31, 32, "Float", "none", "float"},
    {44, 16, "Axis", "deg", "unit16_t"},
    {35, 8, "Shear", "m/s/km", "unit8_t"},
    {40, 16, "Deform", "10**-4", "unit16_t"},
    {36, 16, "Diverg", "10**-4", "unit16_t"},
    {37, 16, "Rain", "mm", "unit16_t"},
    {43, 16, "Direct", "deg", "unit16_t"},
    {67, 8, "Albedo", "%", "unit8_t"},
    {68, 16, "Albedo", "%", "unit16_t"},
    {59, 16, "Temp", "C\xC2\xB0", "unit16_t"},
    {70, 16, "Turb", "cm^(2/3)/s", "unit16_t"},
    {54, 16, "User", "", "unit16_t"},
    {38, 8, "User", "", "unit8_t"},
    {39, 8, "Other", "", "unit8_t"},
    {6, 8, "OldR", "?", "unit8_t"},
    {29, 8, "Flags", "Bit", "unit8_t"},
    {30, 16, "Flags", "Bit", "unit16_t"},
    {65, 8, "SNR", "dB", "unit8_t"},
    {66, 16, "SNR", "dB", "unit16_t"},
    {1, 8, "T", "dBZ", "unit8_t"},
    {8, 16, "T", "dBZ", "unit16_t"},
    {61, 8, "Tv", "dBZ", "unit8_t"},
    {62, 16, "Tv", "dBZ", "unit16_t"},
    {71, 8, "Te", "dBZ", "unit8_t"},
    {72, 16, "Te", "dBZ", "unit16_t"},
    {2, 8, "Z", "dBZ", "unit8_t"},
    {9, 16, "Z", "dBZ", "unit16_t"},
    {7, 8, "Zc", "dBZ", "unit8_t"},
    {21, 16, "Zc", "dBZ", "unit16_t"},
    {63, 8, "Zv", "dBZ", "unit8_t"},
    {64, 16, "Zv", "dBZ", "unit16_t"},
    {73, 8, "Ze", "dBZ", "unit8_t"},
    {74, 16, "Ze", "dBZ", "unit16_t"},
    {3, 8, "V", "m/s", "unit8_t"},
    {10, 16, "V", "m/s", "unit16_t"},
    {17, 8, "Vc", "m/s", "unit8_t"},
    {22, 16, "Vc", "m/s", "unit16_t"},
    {4, 8, "W", "m/s", "unit8_t"},
    {11, 16, "W", "m/s", "unit16_t"},
    {5, 8, "ZDR", "dB", "unit8_t"},
    {12, 16, "ZDR", "dB", "unit16_t"},
    {57, 8, "ZDRc", "dB", "unit8_t"},
    {58, 16, "ZDRc", "dB", "unit16_t"},
    {14, 8, "KDP", "deg/km", "unit8_t"},
    {15, 16, "KDP", "deg/km", "unit16_t"},
    {16, 8, "PhiDP", "deg", "unit8_t"},
    {24, 16, "PhiDP", "deg", "unit16_t"},
    {50, 8, "PhiH", "deg", "unit8_t"},
    {51, 16, "PhiH", "deg", "unit16_t"},
    {52, 8, "PhiV", "deg", "unit8_t"},
    {53, 16, "PhiV", "deg", "unit16_t"},
    {19, 8, "RhoHV", "", "unit8_t"},
    {20, 16, "RhoHV", "", "unit16_t"},
    {46, 8, "RhoH", "", "unit8_t"},
    {47, 16, "RhoH", "", "unit16_t"},
    {48, 8, "RhoV", "", "unit8_t"},
    {49, 16, "RhoV", "", "unit16_t"},
    {25, 8, "LDRH", "dB", "unit8_t"},
    {26, 16, "LDRH", "dB", "unit16_t"},
    {27, 8, "LDRV", "dB", "unit8_t"},
    {28, 16, "LDRV", "dB", "unit16_t"},
    {13, 16, "R", "mm/h", "unit16_t"},
    {18, 8, "SQI", "", "unit8_t"},
    {23, 16, "SQI", "", "unit16_t"},
    {45, 16, "Time", "min", "unit16_t"},
    {32, 8, "Height", "km", "uint8_t"},
    {33, 16, "VIL", "mm", "unit16_t"},
    {69, 16, "VILDen", "mm/km", "unit16_t"},
    {60, 16, "VIR", "dBZ km", "unit16_t"},
    {41, 16, "VertV", "m/s", "unit16_t"},
    {42, 16, "HorizV", "m/s", "unit16_t"},
    {55, 8, "HClass", "", "unit8_t"},
    {56, 16, "HClass", "", "unit16_t"},
    {0, 0, "Xhdr", "???", "none"},
    {34, 0, "Null", "???", "none"},
};
constexpr int null_data_type = 34;

const DataTypeRow &dataTypeRow(int code) {
    for (const auto &row : data_types) {
        if (row.code == code) {
            return row;
        }
    }
    return data_types[std::size(data_types) - 1];
}

// Copies a text into a NUL-padded field, keeping room for a terminator.
void putPaddedText(std::uint8_t *field, std::size_t width, const char *text) {
    std::memset(field, 0, width);
    std::memcpy(field, text, std::min(std::strlen(text), width - 1));
}

}  // namespace

Header::Header() {
    reset();
}

void Header::reset() {
    bytes_.assign(base_size, 0);
    store<std::int16_t>(at::hdr_id, 27);
    store<std::int16_t>(at::hdr_version, 8);
    store<std::int32_t>(at::hdr_bytes, static_cast<std::int32_t>(base_size));
    store<std::int16_t>(at::hdr_flags, 1);
    store<std::int16_t>(at::pcf_id, 26);
    store<std::int16_t>(at::pcf_version, 6);
    store<std::int32_t>(at::pcf_bytes, 320);
    store<std::int16_t>(at::pcf_flags, 1);
    setText(at::prod_name, name_width, "DEFAULT");
    setText(at::task_name, name_width, "DEFAULT");
    setText(at::prod_site, site_width, "Unknown");
    setText(at::hw_name, site_width, "Unknown");
    setText(at::site_name, site_width, "Unknown");
    putPaddedText(bytes_.data() + at::version, version_width, "8.13");
    putPaddedText(bytes_.data() + at::ing_version, version_width, "8.13");
    setText(at::dsp_778, 12, "");
    store<std::int32_t>(at::prf, 500);
    store<std::int16_t>(at::trig_rate, 0);
    store<std::int32_t>(at::wavelength, 500);
    store<std::int16_t>(at::pend_flags, 1);
    store<std::int16_t>(at::polarization, 0);
}

int Header::productType() const {
    return load<std::int16_t>(at::product_type);
}

std::size_t Header::size() const {
    switch (productType()) {
        case kTrack:
        case kWarn:
        case kSline:
        case kTdwr:
            return 1664;
        case kRaw:
            return 12288;
        default:
            return base_size;
    }
}

void Header::fitToType() {
    bytes_.resize(size(), 0);
}

void Header::fitToTypeAfterStore(std::size_t offset, std::size_t width) {
    if (offset < at::product_type + sizeof(std::int16_t) && offset + width > at::product_type) {
        fitToType();
    }
}

void Header::read(std::istream &input) {
    reset();
    input.read(reinterpret_cast<char *>(bytes_.data()), base_size);
    if (input.gcount() != static_cast<std::streamsize>(base_size)) {
        reset();
        throw std::domain_error("the product header is truncated");
    }
    fitToType();
    const std::size_t rest = bytes_.size() - base_size;
    if (rest > 0) {
        input.read(reinterpret_cast<char *>(bytes_.data() + base_size),
                   static_cast<std::streamsize>(rest));
        if (input.gcount() != static_cast<std::streamsize>(rest)) {
            reset();
            throw std::domain_error("the product header is truncated");
        }
    }
}

void Header::write(std::ostream &output) const {
    // The buffer always has the type's size; writing what it holds keeps that true of the file
    // without ever reading past it.
    output.write(reinterpret_cast<const char *>(bytes_.data()),
                 static_cast<std::streamsize>(bytes_.size()));
}

void Header::set(const std::uint8_t *data, std::size_t length) {
    if (data == nullptr || length < base_size) {
        return;
    }
    bytes_.assign(data, data + base_size);
    fitToType();
    if (bytes_.size() > base_size && length >= bytes_.size()) {
        std::memcpy(bytes_.data() + base_size, data + base_size, bytes_.size() - base_size);
    }
}

std::int32_t Header::getTotalSize() const {
    return load<std::int32_t>(at::hdr_bytes);
}
void Header::setTotalSize(std::int32_t bytes) {
    store<std::int32_t>(at::hdr_bytes, bytes);
}

std::uint32_t Header::getExtendedHeaderOffset() const {
    return load<std::uint32_t>(at::extended_header);
}
void Header::setExtendedHeaderOffset(std::uint32_t offset) {
    store<std::uint32_t>(at::extended_header, offset);
}

std::string Header::getProductType() const {
    return ProductType(productType());
}

void Header::setProductType(const std::string &name) {
    int type = 0;
    for (const auto &row : product_types) {
        if (name == row.name) {
            type = row.type;
            break;
        }
    }
    store<std::int16_t>(at::product_type, static_cast<std::int16_t>(type));
    fitToType();
}

std::string Header::ProductType(int type) {
    return productTypeRow(type).name;
}

std::string Header::text(std::size_t offset, std::size_t width) const {
    if (offset > bytes_.size() || bytes_.size() - offset < width) {
        throw std::out_of_range("product header field beyond the header");
    }
    std::vector<char> buffer(width + 1);
    fstr2cstr(buffer.data(), reinterpret_cast<const char *>(bytes_.data() + offset), width);
    return buffer.data();
}

void Header::setText(std::size_t offset, std::size_t width, const std::string &value) {
    if (offset > bytes_.size() || bytes_.size() - offset < width) {
        throw std::out_of_range("product header field beyond the header");
    }
    cstr2fstr(reinterpret_cast<char *>(bytes_.data() + offset), value.c_str(), width);
}

std::string Header::getProductConfigName() const {
    return text(at::prod_name, name_width);
}
void Header::setProductConfigName(const std::string &name) {
    setText(at::prod_name, name_width, name);
}

double Header::getPspPpiAngle() const {
    if (productType() != kPpi) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return fElDegFromBin2(load<std::uint16_t>(at::ppi_angle));
}

void Header::setPspPpiAngle(double degrees) {
    if (productType() == kPpi) {
        store<std::uint16_t>(at::ppi_angle, static_cast<std::uint16_t>(iBin2FromFDeg(degrees)));
    }
}

double Header::getPspTimeSpanMinutes() const {
    double seconds;
    switch (productType()) {
        case kRain1: {
            const std::uint16_t span = load<std::uint16_t>(at::psp_182);
            seconds = span == 0 ? 3600 : span;
            break;
        }
        case kRainN:
            seconds = load<std::int16_t>(at::psp_186) * 3600.0 + load<std::uint16_t>(at::psp_182);
            break;
        case kCatch:
            seconds = load<std::int32_t>(at::psp_180) * 3600.0 + load<std::int32_t>(at::psp_220);
            break;
        default:
            return std::numeric_limits<double>::quiet_NaN();
    }
    return seconds / 60.0;
}

void Header::setPspTimeSpanMinutes(double minutes) {
    if (!std::isfinite(minutes)) {
        return;
    }
    // A negative span has no meaning; the hours fields bound the longest one.
    const double limit = productType() == kRainN ? 32767.0 * 3600 + 3599 : 2147483647.0;
    const auto seconds =
        static_cast<std::int64_t>(std::clamp(std::floor(60.0 * minutes + 0.5), 0.0, limit));
    switch (productType()) {
        case kRain1:
            store<std::uint16_t>(at::psp_182,
                                 static_cast<std::uint16_t>(std::min<std::int64_t>(seconds, 3600)));
            break;
        case kRainN:
            store<std::int16_t>(at::psp_186, static_cast<std::int16_t>(seconds / 3600));
            store<std::uint16_t>(at::psp_182, static_cast<std::uint16_t>(seconds % 3600));
            break;
        case kCatch:
            store<std::int32_t>(at::psp_180, static_cast<std::int32_t>(seconds / 3600));
            store<std::int32_t>(at::psp_220, static_cast<std::int32_t>(seconds % 3600));
            break;
        default:
            break;
    }
}

std::uint32_t Header::getPspUncompressedSize() const {
    return productType() == kSws ? load<std::uint32_t>(at::psp_180) : 0;
}

void Header::setPspUncompressedSize(std::uint32_t bytes) {
    if (productType() == kSws) {
        store<std::uint32_t>(at::psp_180, bytes);
    }
}

namespace {
bool countsEvents(int type) {
    return type == kTrack || type == kWarn || type == kStat || type == kSline;
}
}  // namespace

int Header::getPspEventCount() const {
    return countsEvents(productType()) ? load<std::int16_t>(at::event_count) : 0;
}

void Header::setPspEventCount(int count) {
    if (countsEvents(productType())) {
        store<std::int16_t>(at::event_count, static_cast<std::int16_t>(count));
    }
}

bool Header::isScalar() const {
    return productTypeRow(productType()).scalar;
}

bool Header::isGeoReferenced() const {
    const int kind = productTypeRow(productType()).kind;
    return kind == 1 || kind == 2 || kind == 5 || kind == 6;
}

bool Header::isEvent() const {
    const int type = productType();
    return type == kTrack || type == kWarn || type == kSline || type == kTdwr;
}

bool Header::isRaw() const {
    return productType() == kRaw;
}

Storage Header::getStorage() const {
    const DataTypeRow &row = dataTypeRow(load<std::uint16_t>(at::data_type));
    return {row.storage, row.bits, row.code};
}

std::pair<std::string, std::string> Header::getDataType() const {
    const DataTypeRow &row = dataTypeRow(load<std::uint16_t>(at::data_type));
    return {row.name, row.unit};
}

void Header::setOrvaType(const std::string &name, int bits) {
    int code = null_data_type;
    for (const auto &row : data_types) {
        if (name == row.name) {
            code = row.code;
            if (row.bits == bits) {
                break;
            }
        }
    }
    store<std::uint16_t>(at::data_type, static_cast<std::uint16_t>(code));
}

std::array<int, 3> Header::getDim() const {
    return {load<std::int32_t>(at::x_size), load<std::int32_t>(at::y_size),
            load<std::int32_t>(at::z_size)};
}

void Header::setDim(int x, int y, int z) {
    store<std::int32_t>(at::x_size, x);
    store<std::int32_t>(at::y_size, y);
    store<std::int32_t>(at::z_size, z);
}

YMDHHMMSS Header::ymdhhmmss(std::size_t offset) const {
    const std::int32_t seconds = load<std::int32_t>(offset + offsetof(ymds_time, seconds));
    YMDHHMMSS time;
    time.year = load<std::int16_t>(offset + offsetof(ymds_time, year));
    time.mon = load<std::int16_t>(offset + offsetof(ymds_time, month));
    time.day = load<std::int16_t>(offset + offsetof(ymds_time, day));
    time.hour = seconds / 3600;
    time.min = seconds / 60 % 60;
    time.sec = seconds % 60;
    return time;
}

void Header::setYmdhhmmss(std::size_t offset, const YMDHHMMSS &time) {
    store<std::int16_t>(offset + offsetof(ymds_time, year), static_cast<std::int16_t>(time.year));
    store<std::int16_t>(offset + offsetof(ymds_time, month), static_cast<std::int16_t>(time.mon));
    store<std::int16_t>(offset + offsetof(ymds_time, day), static_cast<std::int16_t>(time.day));
    store<std::int32_t>(offset + offsetof(ymds_time, seconds),
                        time.hour * 3600 + time.min * 60 + time.sec);
}

YMDHHMMSS Header::getIngestYMDHHMMSS() const {
    return ymdhhmmss(at::sweep_time);
}
void Header::setIngestYMDHHMMSS(const YMDHHMMSS &time) {
    setYmdhhmmss(at::sweep_time, time);
}
YMDHHMMSS Header::getAnalysisYMDHHMMSS() const {
    return ymdhhmmss(at::gen_time);
}
void Header::setAnalysisYMDHHMMSS(const YMDHHMMSS &time) {
    setYmdhhmmss(at::gen_time, time);
}

std::string Header::getIngestHardwareName() const {
    return text(at::hw_name, site_width);
}
void Header::setIngestHardwareName(const std::string &name) {
    setText(at::hw_name, site_width, name);
}
std::string Header::getSiteName() const {
    return text(at::site_name, site_width);
}
void Header::setSiteName(const std::string &name) {
    setText(at::site_name, site_width, name);
}

void Header::adjustPRF(double nyquist_velocity) {
    const std::int32_t wavelength = load<std::int32_t>(at::wavelength);
    if (wavelength <= 0) {
        return;
    }
    const double prf = fPrfFromNyquistVelocity(nyquist_velocity, load<std::int16_t>(at::trig_rate),
                                               wavelength, load<std::int16_t>(at::polarization));
    const double rounded = std::floor(prf + 0.5);
    if (std::isfinite(rounded) && rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max()) {
        store<std::int32_t>(at::prf, static_cast<std::int32_t>(rounded));
    }
}

RadarParameters Header::getRadarParameters() const {
    return {load<std::int32_t>(at::prf), load<std::int16_t>(at::trig_rate),
            load<std::int32_t>(at::wavelength), load<std::int16_t>(at::polarization)};
}

namespace {

constexpr double degrees_per_radian = 180.0 / std::numbers::pi;
constexpr double radians_per_degree = std::numbers::pi / 180.0;

struct Ellipsoid {
    const char *name;
    double radius;  // equatorial, metres
    double radius_tolerance;
    double inverse_flattening;
    double inverse_flattening_tolerance;
};

// Searched in this order; a header figure takes the name of the first row it matches.
constexpr Ellipsoid ellipsoids[] = {
    {"Sphere", 6371000.0, 0.1, 0.0, 10000.0},
    {"Bessel", 6377397.16, 0.01, 299.152813, 0.000001},
    {"GRS80", 6378137.0, 0.1, 298.257222, 0.000001},
    {"International", 6378388.0, 0.1, 297.0, 0.1},
    {"WGS84", 6378137.0, 0.1, 298.257224, 0.000001},
};
constexpr const Ellipsoid &wgs84 = ellipsoids[4];
constexpr double min_custom_radius = 6300000.0;
constexpr double max_custom_radius = 6400000.0;

std::string ellipsoidName(double radius, double inverse_flattening) {
    for (const auto &row : ellipsoids) {
        if (std::fabs(radius - row.radius) < row.radius_tolerance &&
            std::fabs(inverse_flattening - row.inverse_flattening) <
                row.inverse_flattening_tolerance) {
            return row.name;
        }
    }
    if (radius > max_custom_radius || radius < min_custom_radius) {
        return "WGS84";
    }
    if (inverse_flattening > 400.0 || inverse_flattening < 200.0) {
        return "Sphere";
    }
    return "Custom";
}

// Radius (m) and inverse flattening named by "gcs.name" and, for "Custom", its own keys.
std::pair<double, double> ellipsoidOf(const Properties &tree) {
    const std::string name = tree.get<std::string>("gcs.name", "");
    if (name == "Custom") {
        double radius = tree.get<double>("gcs.radius", wgs84.radius, NumberTranslator());
        if (!(radius > min_custom_radius && radius < max_custom_radius)) {
            radius = wgs84.radius;
        }
        return {radius,
                tree.get<double>("gcs.invflat", wgs84.inverse_flattening, NumberTranslator())};
    }
    for (const auto &row : ellipsoids) {
        if (name == row.name) {
            return {row.radius, row.inverse_flattening};
        }
    }
    return {wgs84.radius, wgs84.inverse_flattening};
}

// The perspective projection views the earth from geostationary height above the 6371 km sphere.
constexpr double satellite_height = 35784000.0;  // m
constexpr double utm_scale_factor = 0.9996;

constexpr std::pair<int, const char *> projection_names[] = {
    {AZIMUTHAL, "Azimuthal_Equidistant"},
    {MERCATOR, "Mercator_1SP"},
    {POLSTEREO, "Polar_Stereographic"},
    {UTM, "Transverse_Mercator"},
    {PERSPECTIVE, "Geostationary_Satellite"},
    {EDC, "Equidistant_Cylindrical"},
    {GNOMONIC, "Gnomonic"},
    {GAUSS, "Transverse_Mercator"},
    {LAMBERT, "Lambert_Conformal_Conic_2SP"},
};

double degrees(double radians) {
    return radians * degrees_per_radian;
}

double longitudeDegrees(double radians) {
    return degrees(fNormalizeAngle(radians));
}

double getNumber(const Properties &tree, const std::string &path) {
    return tree.get<double>(path, NumberTranslator());
}

std::optional<double> findNumber(const Properties &tree, const std::string &path) {
    if (!tree.get_child_optional(path)) {
        return std::nullopt;
    }
    return getNumber(tree, path);
}

void putProjection(Properties &tree, const map_proj &proj) {
    const double latitude = degrees(proj.reference.latitude);
    const double longitude = longitudeDegrees(proj.reference.longitude);
    if (proj.type >= std::size(projection_names)) {
        std::cerr << "Unknown projection code " << int{proj.type} << " !" << std::endl;
        return;
    }
    tree.put("projection.name", projection_names[proj.type].second);
    if (proj.type == AZIMUTHAL) {
        putNumber(tree, "projection.latitude_of_center", latitude);
        putNumber(tree, "projection.longitude_of_center", longitude);
        return;
    }
    putNumber(tree, "projection.central_meridian", longitude);
    if (proj.type == PERSPECTIVE) {
        putNumber(tree, "projection.satellite_height", satellite_height);
        return;
    }
    putNumber(tree, "projection.latitude_of_origin", latitude);
    if (proj.type == UTM || proj.type == GAUSS) {
        putNumber(tree, "projection.scale_factor", proj.type == UTM ? utm_scale_factor : 1.0);
    } else if (proj.type == LAMBERT) {
        putNumber(tree, "projection.standard_parallel1", degrees(proj.std_parallel1));
        putNumber(tree, "projection.standard_parallel2", degrees(proj.std_parallel2));
    }
}

// The projection named in the tree with its parameters; false for a name the table lacks.
bool readProjection(const Properties &tree, map_proj &proj) {
    const std::string name = tree.get<std::string>("projection.name");
    const auto row = std::find_if(std::begin(projection_names), std::end(projection_names),
                                  [&](const auto &entry) { return name == entry.second; });
    if (row == std::end(projection_names)) {
        return false;
    }
    proj.type = static_cast<std::uint8_t>(row->first);
    if (proj.type == AZIMUTHAL) {
        proj.reference.latitude =
            getNumber(tree, "projection.latitude_of_center") * radians_per_degree;
        proj.reference.longitude =
            getNumber(tree, "projection.longitude_of_center") * radians_per_degree;
        return true;
    }
    proj.reference.longitude = getNumber(tree, "projection.central_meridian") * radians_per_degree;
    if (proj.type == PERSPECTIVE) {
        return true;  // the satellite stands over the equator at a fixed height
    }
    proj.reference.latitude = getNumber(tree, "projection.latitude_of_origin") * radians_per_degree;
    if (proj.type == UTM) {
        // One name covers both scales; a scale of 1 is the projection without reduction.
        const auto scale = findNumber(tree, "projection.scale_factor");
        if (scale && std::fabs(*scale - 1.0) < 1e-9) {
            proj.type = GAUSS;
        }
    } else if (proj.type == LAMBERT) {
        proj.std_parallel1 = getNumber(tree, "projection.standard_parallel1") * radians_per_degree;
        proj.std_parallel2 = getNumber(tree, "projection.standard_parallel2") * radians_per_degree;
    }
    return true;
}

// A header integer of a value from the keys: nearest, clamped to the field, 0 for NaN.
std::int32_t roundedField(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double limit = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::floor(value + 0.5), -limit, limit));
}

bool knownPosition(const earth_pos &pos) {
    return std::isfinite(pos.latitude) && std::isfinite(pos.longitude) &&
           (pos.flags & EARTH_POS_OFF_EARTH) == 0;
}

void putPosition(Properties &tree, const std::string &latitude_key,
                 const std::string &longitude_key, const earth_pos &pos) {
    if (knownPosition(pos)) {
        putNumber(tree, latitude_key, degrees(pos.latitude));
        putNumber(tree, longitude_key, longitudeDegrees(pos.longitude));
    }
}

// The position under a latitude and longitude key pair, when both are present.
std::optional<earth_pos> findPosition(const Properties &tree, const std::string &latitude_key,
                                      const std::string &longitude_key) {
    const auto latitude = findNumber(tree, latitude_key);
    const auto longitude = findNumber(tree, longitude_key);
    if (!latitude || !longitude) {
        return std::nullopt;
    }
    return earth_pos{*latitude * radians_per_degree, *longitude * radians_per_degree, 0};
}

void putRegion(Properties &tree, const map_region &region, const std::array<int, 3> &dim) {
    const long pixels_x = std::lround(region.pixels_x);
    const long pixels_y = std::lround(region.pixels_y);
    if (pixels_x != dim[0] || pixels_y != dim[1]) {
        tree.put("bbox.maxxpix", pixels_x);
        tree.put("bbox.maxypix", pixels_y);
    }
    // Each axis over its own pixel count, so that the value reads back for any aspect.
    putNumber(tree, "bbox.resx", std::round(2000.0 * region.earth_east_km / region.pixels_x));
    putNumber(tree, "bbox.resy", 2000.0 * region.earth_north_km / region.pixels_y);
    putPosition(tree, "bbox.minlat", "bbox.minlon", region.corner0);
    putPosition(tree, "bbox.centlat", "bbox.centlon", region.centre);
    putPosition(tree, "bbox.maxlat", "bbox.maxlon", region.corner2);
}

}  // namespace

void Header::getGeoReference(boost::property_tree::ptree &tree) const {
    const double radius = load<std::int32_t>(at::earth_radius) / 100.0;
    const double flattening = load<std::int32_t>(at::inverse_flattening) / 1000000.0;
    const std::string name = ellipsoidName(radius, flattening);
    tree.put("gcs.name", name);
    if (name == "Sphere" || name == "Custom") {
        putNumber(tree, "gcs.radius", radius);
    }
    if (name == "Custom") {
        putNumber(tree, "gcs.invflat", flattening);
    }

    const int kind = productTypeRow(productType()).kind;
    const auto dim = getDim();
    const bool geo_referenced = isGeoReferenced();
    if ((kind >= 2 && kind <= 4) || geo_referenced) {
        tree.put("data.x_size", dim[0]);
        tree.put("data.y_size", dim[1]);
    }
    if (kind >= 2 && kind <= 4 && dim[2] > 1) {
        tree.put("data.z_size", dim[2]);
    }
    if (!geo_referenced) {
        return;
    }

    map_proj proj;
    map_region region;
    const int status = phdr_pin_region(&proj, &region, bytes_.data(), nullptr);
    if (status != MPJ_OK) {
        std::cerr << "Error: phdr_pin_region() failed with status " << status << " !" << std::endl;
    } else if (region.pixels_x < 1.0 || region.pixels_y < 1.0) {
        // Without a pixel there is no resolution, and setGeoReference requires one: the keys stay
        // out, so that writing the product back keeps the header's region as it is.
        std::cerr << "Error: the product's region is less than one pixel across !" << std::endl;
    } else {
        putRegion(tree, region, dim);
        putProjection(tree, proj);
        earth_pos radar;
        if (RadPosFromPheader(bytes_.data(), &radar) == MPJ_OK) {
            putPosition(tree, "radar.latitude", "radar.longitude", radar);
        }
    }
    const int ground = load<std::int16_t>(at::ground_height);
    tree.put("radar.altitude", load<std::int16_t>(at::radar_height) + ground);
    tree.put("radar.tower_height", ground);
}

void Header::setGeoReference(const boost::property_tree::ptree &tree) {
    const auto [radius, flattening] = ellipsoidOf(tree);
    store<std::int32_t>(at::earth_radius, roundedField(radius * 100.0));
    store<std::int32_t>(at::inverse_flattening, roundedField(flattening * 1000000.0));
    if (!tree.get_child_optional("projection.name")) {
        return;
    }

    map_proj proj{};
    if (!readProjection(tree, proj)) {
        std::cerr << "Unknown projection name " << tree.get<std::string>("projection.name") << " !"
                  << std::endl;
        return;
    }
    proj.earth_radius = radius / 1000.0;
    proj.inverse_flattening = flattening;

    map_region region{};
    region.pixels_x = tree.get<double>("bbox.maxxpix", tree.get<int>("data.x_size"));
    region.pixels_y = tree.get<double>("bbox.maxypix", tree.get<int>("data.y_size"));
    const double resx = getNumber(tree, "bbox.resx");
    const double resy = getNumber(tree, "bbox.resy");
    const auto centre = findPosition(tree, "bbox.centlat", "bbox.centlon");
    const auto corner0 = findPosition(tree, "bbox.minlat", "bbox.minlon");
    const auto corner2 = findPosition(tree, "bbox.maxlat", "bbox.maxlon");
    unsigned known;
    if (centre) {
        // The header keeps the centre and the scales, so these facts take precedence.
        region.centre = *centre;
        region.earth_east_km = resx * region.pixels_x / 2000.0;
        region.earth_north_km = resy * region.pixels_y / 2000.0;
        known = MPJ_CENTRE_EARTH | MPJ_EARTH_EAST_DIST | MPJ_EARTH_NORTH_DIST;
    } else if (corner0 && corner2) {
        region.corner0 = *corner0;
        region.corner2 = *corner2;
        known = MPJ_CORNER0_EARTH | MPJ_CORNER2_EARTH;
    } else {
        std::cerr << "Bounding box not specified well enough!" << std::endl;
        return;
    }
    const int status = mpj_pin_region_xy(&proj, &region, static_cast<int>(known));
    if (status != MPJ_OK) {
        std::cerr << "Error: mpj_pin_region_xy() failed with status " << status << " !"
                  << std::endl;
        return;
    }
    phdr_from_proj_region(bytes_.data(), &proj, &region);
    const auto radar = findPosition(tree, "radar.latitude", "radar.longitude");
    phdr_from_radpos(bytes_.data(), productType(), &proj, &region, radar ? &*radar : nullptr);
}

}  // namespace azm::orva
