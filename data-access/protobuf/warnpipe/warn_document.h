// The JSON document of a WARN product, as warnpipe writes it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>

#include "wrdata/orvaproduct.h"

namespace azm {

// Bad input: reported on one line, nothing is written.
struct BadProduct : std::domain_error {
    using std::domain_error::domain_error;
};

// A WARN product checked for conversion: its header properties and its event records. It refers
// to the product, which must outlive it.
class WarnDocument {
  public:
    // The document of a product; none when the product is not a single-section WARN event
    // product. Throws BadProduct when the event data contradict the event count, and
    // boost::property_tree::ptree_bad_path when a property it needs is missing.
    static std::optional<WarnDocument> of(orva::Product &product);

    // Writes the document to the stream as it is produced: the header properties with one object
    // per event under "data", laid out byte for byte as the property tree's pretty JSON writer
    // lays out the tree holding them (every value a string, numbers with 16 significant digits),
    // and a final newline. A stream error shows in the stream's state.
    void write(std::ostream &output) const;

    int eventCount() const { return count_; }

  private:
    WarnDocument(const orva::Properties &header, const std::uint8_t *events, int count)
        : header_(&header), events_(events), count_(count) {}

    const orva::Properties *header_;
    const std::uint8_t *events_;
    int count_;
};

}  // namespace azm
