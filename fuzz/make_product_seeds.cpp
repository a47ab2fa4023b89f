// Writes seed products of the product-model fuzz target through the product model:
//
//   fuzz_make_product_seeds FUZZ_FOLDER
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "wrdata/orvaproduct.h"

namespace {

std::string bytes_of(azm::orva::Product &product) {
    std::ostringstream output;
    product.write(output);
    return output.str();
}

void save(const std::string &bytes, const std::filesystem::path &path) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FUZZ_FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / "corpus" / "product_read";
    std::filesystem::create_directories(dir);

    azm::orva::Product sections;
    sections.getProperties(0).put("product_type", "WARN");
    sections.resizeSection(0, 7);
    std::memcpy(sections.getData(0), "abcdefg", 7);
    const std::size_t extra = sections.addSection(6);
    std::memcpy(sections.getData(extra), "\x01\x02\x03\x04\x05\x06", 6);
    sections.getProperties(extra).put("name", "echo tops");
    sections.getProperties(extra).put("data.bits", 16);
    sections.getProperties(extra).put("data.unit", "km");
    const std::string two = bytes_of(sections);
    save(two, dir / "two_sections");

    azm::orva::Product plain;
    plain.resizeSection(0, 300);
    save(bytes_of(plain), dir / "one_section");

    // Refusals: cut inside the header, the data and the appended section; a file size below the
    // header; a section claiming more data than the file holds.
    const std::filesystem::path reject =
        std::filesystem::path(argv[1]) / "must_reject" / "product_read";
    std::filesystem::create_directories(reject);
    save("", reject / "empty");
    save(two.substr(0, 700), reject / "cut_in_header");
    save(two.substr(0, two.size() - 1), reject / "cut_in_section");
    std::string small = two;
    const std::int32_t tiny = 100;
    std::memcpy(small.data() + 4, &tiny, 4);
    save(small, reject / "size_below_header");
    std::string greedy = two;
    greedy.replace(greedy.find("size=6"), 6, "size=9");
    save(greedy, reject / "section_beyond_file");
    return 0;
}
