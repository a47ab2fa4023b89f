// The JSON document of a WARN product, as warnpipe writes it.
#pragma once

#include <stdexcept>
#include <string>

#include "wrdata/orvaproduct.h"

namespace azm {

// Bad input: reported on one line, nothing is written.
struct BadProduct : std::domain_error {
    using std::domain_error::domain_error;
};

// The JSON document of a WARN product; an empty result means the product is not one. Throws
// BadProduct when the event data contradict the event count, and
// boost::property_tree::ptree_bad_path when a property it needs is missing.
std::string warnDocument(orva::Product &product);

}  // namespace azm
