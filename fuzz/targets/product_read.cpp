// The product model's read, appended INI sections included. A product that reads must write and
// read back with the same sections and data.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

#include "wrdata/orvaproduct.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    using azm::orva::Product;
    Product product;
    try {
        std::istringstream input(std::string(reinterpret_cast<const char *>(data), size));
        product.read(input);
    } catch (const std::domain_error &) {
        return 0;
    }
    std::stringstream written;
    product.write(written);
    Product again;
    try {
        again.read(written);
    } catch (const std::domain_error &error) {
        std::fprintf(stderr, "product does not read back: %s\n", error.what());
        std::abort();
    }
    if (again.getSectionCount() != product.getSectionCount()) {
        std::fprintf(stderr, "product reads back with other sections\n");
        std::abort();
    }
    for (size_t s = 0; s < product.getSectionCount(); ++s) {
        const size_t length = product.getDataSize(s);
        if (again.getDataSize(s) != length ||
            (length > 0 && std::memcmp(again.getData(s), product.getData(s), length) != 0)) {
            std::fprintf(stderr, "section %zu reads back with other data\n", s);
            std::abort();
        }
    }
    return 1;
}
