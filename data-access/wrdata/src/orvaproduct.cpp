#include "wrdata/orvaproduct.h"

#include <cmath>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>

#include <boost/property_tree/ini_parser.hpp>

#include "pvol/radar_utils.h"

namespace azm::orva {

namespace {

constexpr std::uint8_t section_marker = 0xFF;

// Bytes left in a stream that can tell its position and end; none when it cannot.
std::optional<std::uint64_t> bytesLeft(std::istream &input) {
    const std::streampos here = input.tellg();
    if (here < 0 || !input.seekg(0, std::ios::end)) {
        input.clear();
        return std::nullopt;
    }
    const std::streampos end = input.tellg();
    input.seekg(here);
    if (end < here || !input) {
        input.clear();
        input.seekg(here);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end - here);
}

// Reads exactly n bytes into the buffer. A size promised by a header never allocates more than
// the stream actually holds: when the stream tells that it holds them, they are read at once;
// otherwise in bounded chunks, each allocated when the bytes before it have arrived.
void readExactly(std::istream &input, std::vector<std::uint8_t> &buffer, std::size_t n,
                 const char *what) {
    constexpr std::size_t chunk = std::size_t{1} << 20;
    buffer.clear();
    const std::optional<std::uint64_t> left = n > chunk ? bytesLeft(input) : std::nullopt;
    if (left && *left >= n) {
        buffer.resize(n);
        input.read(reinterpret_cast<char *>(buffer.data()), static_cast<std::streamsize>(n));
        if (static_cast<std::size_t>(input.gcount()) != n) {
            throw std::domain_error(std::string("the product file ends inside ") + what);
        }
        return;
    }
    while (buffer.size() < n) {
        const std::size_t have = buffer.size();
        const std::size_t step = std::min(chunk, n - have);
        buffer.resize(have + step);
        input.read(reinterpret_cast<char *>(buffer.data() + have),
                   static_cast<std::streamsize>(step));
        if (static_cast<std::size_t>(input.gcount()) != step) {
            throw std::domain_error(std::string("the product file ends inside ") + what);
        }
    }
}

// Byte reader over the appended sections, bounded by the file size of the header.
class SectionReader {
  public:
    SectionReader(std::istream &input, std::uint64_t position, std::uint64_t total)
        : input_(input), position_(position), total_(total) {}

    std::uint64_t position() const { return position_; }
    std::uint64_t left() const { return total_ - position_; }

    // The next byte, or -1 at the end of the product.
    int next() {
        if (position_ >= total_) {
            return -1;
        }
        const int c = input_.get();
        if (c == std::char_traits<char>::eof()) {
            throw std::domain_error("the product file ends inside an appended section");
        }
        ++position_;
        return c;
    }

    void read(std::vector<std::uint8_t> &buffer, std::size_t n) {
        readExactly(input_, buffer, n, "the data of an appended section");
        position_ += n;
    }

  private:
    std::istream &input_;
    std::uint64_t position_;
    std::uint64_t total_;
};

// A section size must be a plain decimal number.
std::optional<std::uint64_t> parseSize(const std::string &text) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

std::size_t alignmentUnit(const Properties &properties) {
    const auto bits = properties.get_optional<int>("data.bits");
    return bits && *bits >= 8 ? static_cast<std::size_t>(*bits / 8) : 1;
}

std::uint16_t loadCode(const std::uint8_t *data, std::size_t index, int bits) {
    if (bits == 8) {
        return data[index];
    }
    std::uint16_t code;
    std::memcpy(&code, data + 2 * index, sizeof code);
    return code;
}

void storeCode(std::uint8_t *data, std::size_t index, int bits, std::uint16_t code) {
    if (bits == 8) {
        data[index] = static_cast<std::uint8_t>(code);
    } else {
        std::memcpy(data + 2 * index, &code, sizeof code);
    }
}

double loadValue(const std::uint8_t *data, std::size_t index, int bits) {
    if (bits == 32) {
        float value;
        std::memcpy(&value, data + 4 * index, sizeof value);
        return value;
    }
    double value;
    std::memcpy(&value, data + 8 * index, sizeof value);
    return value;
}

void storeValue(std::uint8_t *data, std::size_t index, int bits, double value) {
    if (bits == 32) {
        const auto narrow = static_cast<float>(value);
        std::memcpy(data + 4 * index, &narrow, sizeof narrow);
    } else {
        std::memcpy(data + 8 * index, &value, sizeof value);
    }
}

data_convert conversionContext(const Header &header) {
    const RadarParameters radar = header.getRadarParameters();
    data_convert conv;
    FillDataConvert(&conv, radar.prf, radar.trig_rate, radar.wavelength, radar.polarization, 0);
    return conv;
}

bool sameSpecialValue(double value, double special) {
    return value == special || (std::isnan(value) && std::isnan(special));
}

}  // namespace

ProductStore::ProductStore() {
    reset();
}

void ProductStore::reset() {
    header.reset();
    sections.assign(1, ProductSection());
    orva_header2properties(sections[0].properties(), header);
    correct_storage();
}

void ProductStore::correct_storage() {
    if (!header.isScalar()) {
        return;
    }
    const int bits = header.getStorage().bits;
    Properties &properties = sections.at(0).properties();
    properties.put("data.bits", bits);
    properties.put("data.pack_bits", bits);
    properties.put("data.size", scalarDataSize(header));
}

Product::Product(std::istream &input) {
    read(input);
}

void Product::read(std::istream &input) {
    store_.reset();
    const std::streamoff start = input.tellg();  // -1 when the stream cannot tell
    Header &header = store_.header;
    header.read(input);
    const std::int64_t total = header.getTotalSize();
    std::int64_t ext = header.getExtendedHeaderOffset();
    Properties &properties = store_.sections[0].properties();
    properties.clear();
    orva_header2properties(properties, header);
    store_.correct_storage();

    if (ext == 0 || ext > total) {
        ext = total;
    }
    const auto header_size = static_cast<std::int64_t>(header.size());
    if (ext < header_size) {
        throw std::domain_error("the product header gives a file size of " + std::to_string(total) +
                                " bytes, less than the header itself (" +
                                std::to_string(header_size) + " bytes)");
    }
    std::vector<std::uint8_t> data;
    readExactly(input, data, static_cast<std::size_t>(ext - header_size), "the product data");
    store_.sections[0].setData(std::move(data));
    if (start >= 0 && input.tellg() != start + ext) {
        throw std::domain_error("the product data do not end at the extended header offset");
    }

    SectionReader reader(input, static_cast<std::uint64_t>(ext), static_cast<std::uint64_t>(total));
    while (reader.left() > 0) {
        ProductSection section;
        std::string text;
        int c;
        while ((c = reader.next()) > 0) {
            text.push_back(static_cast<char>(c));
        }
        std::istringstream ini(text);
        try {
            boost::property_tree::read_ini(ini, section.properties());
        } catch (const boost::property_tree::ini_parser_error &error) {
            throw std::domain_error("bad properties of appended section " +
                                    std::to_string(store_.sections.size()) + ": " +
                                    error.message());
        }
        while (c == 0) {
            c = reader.next();
        }
        if (c != section_marker) {
            break;  // not a section: what follows is left unread
        }
        const auto size_text = section.properties().get_optional<std::string>("data.size");
        if (!size_text) {
            break;
        }
        const auto size = parseSize(*size_text);
        if (!size || *size > reader.left()) {
            throw std::domain_error("appended section " + std::to_string(store_.sections.size()) +
                                    " claims " + *size_text + " bytes of data, the file holds " +
                                    std::to_string(reader.left()));
        }
        std::vector<std::uint8_t> bytes;
        reader.read(bytes, static_cast<std::size_t>(*size));
        section.setData(std::move(bytes));
        store_.sections.push_back(std::move(section));
    }
}

void Product::write(std::ostream &output) {
    Header &header = store_.header;
    properties2orva_header(header, store_.sections[0].properties());
    header.setTotalSize(0);
    std::uint64_t extended = 0;
    if (store_.sections.size() > 1) {
        extended = header.size() + store_.sections[0].size();
        if (extended > std::numeric_limits<std::uint32_t>::max()) {
            throw std::runtime_error("the product data are too large for the file format");
        }
    }
    header.setExtendedHeaderOffset(static_cast<std::uint32_t>(extended));

    const std::streamoff start = output.tellp();
    if (start < 0) {
        throw std::runtime_error("a product can only be written to a seekable stream");
    }
    header.write(output);
    const auto writeBytes = [&output](const ProductSection &section) {
        output.write(reinterpret_cast<const char *>(section.data()),
                     static_cast<std::streamsize>(section.size()));
    };
    writeBytes(store_.sections[0]);
    for (std::size_t i = 1; i < store_.sections.size(); ++i) {
        ProductSection &section = store_.sections[i];
        section.properties().put("data.size", section.size());
        boost::property_tree::write_ini(output, section.properties());
        output.put('\0');
        const std::size_t unit = alignmentUnit(section.properties());
        for (auto at = static_cast<std::uint64_t>(output.tellp() - start); (at + 1) % unit != 0;
             ++at) {
            output.put('\0');
        }
        output.put(static_cast<char>(section_marker));
        writeBytes(section);
    }
    const std::streamoff end = output.tellp();
    if (!output || end < start) {
        throw std::runtime_error("writing the product failed");
    }
    if (end - start > std::numeric_limits<std::int32_t>::max()) {
        throw std::runtime_error("the product is too large for the file format");
    }
    header.setTotalSize(static_cast<std::int32_t>(end - start));
    output.seekp(start);
    header.write(output);
    output.seekp(end);
    if (!output) {
        throw std::runtime_error("writing the product failed");
    }
}

const std::vector<std::uint8_t> &Product::getOrvaHeader() {
    properties2orva_header(store_.header, store_.sections[0].properties());
    return store_.header.get();
}

void Product::setOrvaHeader(const std::uint8_t *data, std::size_t length) {
    store_.header.set(data, length);
    // Section 0's properties mirror the header: keys of another product type must not linger.
    store_.sections[0].properties().clear();
    orva_header2properties(store_.sections[0].properties(), store_.header);
    store_.correct_storage();
}

std::size_t Product::addSection(std::size_t size) {
    store_.sections.emplace_back(size);
    return store_.sections.size() - 1;
}

ProductSection *Product::section(std::size_t index) {
    return index < store_.sections.size() ? &store_.sections[index] : nullptr;
}

void Product::resizeSection(std::size_t index, std::size_t size) {
    if (ProductSection *s = section(index)) {
        s->setSize(size);
    }
}

Properties &Product::getProperties(std::size_t index) {
    if (ProductSection *s = section(index)) {
        return s->properties();
    }
    no_properties_.clear();
    return no_properties_;
}

std::uint8_t *Product::getData(std::size_t index) {
    ProductSection *s = section(index);
    return s != nullptr ? s->data() : nullptr;
}

std::size_t Product::getDataSize(std::size_t index) const {
    return index < store_.sections.size() ? store_.sections[index].size() : 0;
}

bool Product::is_data_threshold(double value) const {
    return sameSpecialValue(value, store_.threshold);
}

bool Product::is_data_noscan(double value) const {
    return sameSpecialValue(value, store_.noscan);
}

void Product::unpackData(std::size_t index) {
    ProductSection *s = section(index);
    if (s == nullptr) {
        return;
    }
    Properties &properties = s->properties();
    const auto bits = properties.get_optional<int>("data.bits");
    const auto unpack_bits = properties.get_optional<int>("data.unpack_bits");
    if (!bits || (*bits != 8 && *bits != 16) || !unpack_bits ||
        (*unpack_bits != 32 && *unpack_bits != 64)) {
        return;
    }
    const int type = properties.get<int>("data.orva_code");
    const data_convert conv = conversionContext(store_.header);
    const std::uint16_t noscan_code = *bits == 8 ? 0xFF : 0xFFFF;
    const std::size_t count = s->size() / (*bits / 8);
    std::vector<std::uint8_t> values(count * (*unpack_bits / 8));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t code = loadCode(s->data(), i, *bits);
        double value;
        if (code == 0) {
            value = store_.threshold;
        } else if (code == noscan_code) {
            value = store_.noscan;
        } else {
            value = fdata_to_user(code, type, &conv);
        }
        storeValue(values.data(), i, *unpack_bits, value);
    }
    s->setData(std::move(values));
    properties.put("data.bits", *unpack_bits);
}

void Product::packData(std::size_t index) {
    ProductSection *s = section(index);
    if (s == nullptr) {
        return;
    }
    getOrvaHeader();
    Properties &properties = s->properties();
    orva_header2properties(properties, store_.header);
    const auto bits = properties.get_optional<int>("data.bits");
    const auto pack_bits = properties.get_optional<int>("data.pack_bits");
    if (!bits || (*bits != 32 && *bits != 64) || !pack_bits ||
        (*pack_bits != 8 && *pack_bits != 16)) {
        return;
    }
    const int type = properties.get<int>("data.orva_code");
    const data_convert conv = conversionContext(store_.header);
    const std::uint16_t noscan_code = *pack_bits == 8 ? 0xFF : 0xFFFF;
    const std::size_t count = s->size() / (*bits / 8);
    std::vector<std::uint8_t> codes(count * (*pack_bits / 8));
    for (std::size_t i = 0; i < count; ++i) {
        const double value = loadValue(s->data(), i, *bits);
        std::uint16_t code;
        if (is_data_threshold(value)) {
            code = 0;
        } else if (is_data_noscan(value)) {
            code = noscan_code;
        } else {
            code = iuser_to_data(value, type, &conv);
        }
        storeCode(codes.data(), i, *pack_bits, code);
    }
    s->setData(std::move(codes));
    properties.put("data.bits", *pack_bits);
}

}  // namespace azm::orva
