// warnpipe's conversion of a product read from memory into its JSON document. warnpipe reports
// every exception as a refusal, so any exception here is a clean refusal too.
#include <exception>
#include <sstream>
#include <cstdint>
#include <string>

#include "warn_document.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    try {
        std::istringstream input(std::string(reinterpret_cast<const char *>(data), size));
        azm::orva::Product product(input);
        return azm::warnDocument(product).empty() ? 0 : 1;
    } catch (const std::exception &) {
        return 0;
    }
}
