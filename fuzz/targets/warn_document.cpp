// warnpipe's conversion of a product read from memory into its JSON document. warnpipe reports
// every exception as a refusal, so any exception here is a clean refusal too. A document that is
// written must be byte for byte the property tree writer's document of the same product.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

#include "warn_document.h"
#include "warn_reference.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    azm::orva::Product product;
    std::ostringstream written;
    try {
        std::istringstream input(std::string(reinterpret_cast<const char *>(data), size));
        product.read(input);
        const auto document = azm::WarnDocument::of(product);
        if (!document) {
            return 0;
        }
        document->write(written);
    } catch (const std::exception &) {
        return 0;
    }
    if (written.str() != azm::reference::warnDocument(product)) {
        std::fprintf(stderr, "the document differs from the property tree writer's\n");
        std::abort();
    }
    return 1;
}
