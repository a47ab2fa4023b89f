// ORVA product files: the product header and the product's data as a list of sections.
//
// Section 0 is the classic product: header plus data. Further sections are appended after the
// classic data, each as INI text with its properties, a NUL, alignment padding, a 0xFF marker and
// its bytes. The header offset 632 tells where they start.
#ifndef WRDATA_ORVAPRODUCT_H
#define WRDATA_ORVAPRODUCT_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>

#include "wrdata/orvaheader.h"

namespace azm::orva {

using Properties = boost::property_tree::ptree;

// Writes numbers into properties with 16 significant digits, so that 0.1 stays "0.1" and 45.0
// becomes "45"; reads them back like the default translation.
struct NumberTranslator {
    using internal_type = std::string;
    using external_type = double;
    boost::optional<std::string> put_value(double value) const;
    boost::optional<double> get_value(const std::string &text) const;
};

// Puts a number at a dotted path with 16 significant digits.
void putNumber(Properties &tree, const std::string &path, double value);

// Bytes of a scalar product's data from its grid and storage: x * y * z * bits / 8, z at least 1.
// Raises std::domain_error when that number does not fit 64 bits.
std::int64_t scalarDataSize(const Header &header);

// Fills a tree with the properties of a product header.
void orva_header2properties(Properties &tree, const Header &header);
// Writes the properties of a tree into a product header; absent keys leave their fields alone.
// A required key that is missing raises boost::property_tree::ptree_bad_path.
void properties2orva_header(Header &header, const Properties &tree);

class ProductSection {
  public:
    ProductSection() = default;
    explicit ProductSection(std::size_t size) : data_(size, 0) {}

    Properties &properties() { return properties_; }
    const Properties &properties() const { return properties_; }
    std::uint8_t *data() { return data_.data(); }
    const std::uint8_t *data() const { return data_.data(); }
    std::size_t size() const { return data_.size(); }
    // Reallocates the buffer to n bytes, keeping the leading bytes.
    void setSize(std::size_t n) { data_.resize(n, 0); }
    // Replaces the buffer.
    void setData(std::vector<std::uint8_t> data) { data_ = std::move(data); }

  private:
    Properties properties_;
    std::vector<std::uint8_t> data_;
};

// The state of one product: header, sections (always at least section 0) and the two special
// values of unpacked data.
class ProductStore {
  public:
    ProductStore();

    // A blank header and one section whose properties come from the header.
    void reset();
    // Sets the storage properties of section 0 of a scalar product from its header.
    void correct_storage();

    Header header;
    std::vector<ProductSection> sections;
    double threshold = -1000000.0;
    double noscan = -1001000.0;
};

class Product {
  public:
    Product() = default;
    // Reads a product from the stream; see read().
    explicit Product(std::istream &input);

    // Reads a whole product file. A file that ends before its header promised, or whose header
    // contradicts its length, raises std::domain_error.
    void read(std::istream &input);
    // Writes the whole product; the stream must be seekable. Raises std::runtime_error when the
    // stream fails.
    void write(std::ostream &output);

    // Section 0's properties written into the header, which is returned raw.
    const std::vector<std::uint8_t> &getOrvaHeader();
    // Takes a raw header (see Header::set) and refreshes section 0's properties from it.
    void setOrvaHeader(const std::uint8_t *data, std::size_t length);

    // Appends a section with a zeroed buffer of this size; returns its index.
    std::size_t addSection(std::size_t size);
    std::size_t getSectionCount() const { return store_.sections.size(); }
    void resizeSection(std::size_t section, std::size_t size);
    // The section's properties; an empty tree for a bad index.
    Properties &getProperties(std::size_t section);
    // The section's buffer and its size; null and 0 for a bad index.
    std::uint8_t *getData(std::size_t section);
    std::size_t getDataSize(std::size_t section) const;

    // Replaces the 8- or 16-bit codes of a section by 32- or 64-bit floating-point values
    // ("data.bits" to "data.unpack_bits"), and back ("data.bits" to "data.pack_bits").
    void unpackData(std::size_t section);
    void packData(std::size_t section);

    double data_threshold() const { return store_.threshold; }
    void set_data_threshold(double value) { store_.threshold = value; }
    double data_noscan() const { return store_.noscan; }
    void set_data_noscan(double value) { store_.noscan = value; }
    // Equality with the special value; a NaN special value matches a NaN.
    bool is_data_threshold(double value) const;
    bool is_data_noscan(double value) const;

  private:
    ProductSection *section(std::size_t index);

    ProductStore store_;
    Properties no_properties_;  // handed out for a bad section index
};

}  // namespace azm::orva

#endif  // WRDATA_ORVAPRODUCT_H
