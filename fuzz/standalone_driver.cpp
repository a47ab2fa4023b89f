// Runs a fuzz target over files without libFuzzer, so that the corpora and the must-reject files
// run as ordinary tests with any compiler.
//
//   fuzz_<target> [--reject] PATH...
//
// Each PATH is a file or a folder whose files are run in name order. With --reject every file
// must be refused by the reader; otherwise the files only have to run without fault.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_input.h"

namespace {

std::vector<std::filesystem::path> files_under(const std::filesystem::path &path) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
        for (const auto &entry : std::filesystem::recursive_directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    return files;
}

}  // namespace

int main(int argc, char **argv) {
    bool expect_refusal = false;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reject") == 0) {
            expect_refusal = true;
            continue;
        }
        if (!std::filesystem::exists(argv[i])) {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
        for (auto &file : files_under(argv[i]))
            files.push_back(std::move(file));
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s [--reject] PATH...\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (const auto &file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "%s: cannot read\n", file.c_str());
            ++failures;
            continue;
        }
        const int accepted = fuzz_one_input(bytes.data(), bytes.size());
        if (expect_refusal && accepted != 0) {
            std::fprintf(stderr, "%s: accepted, expected a refusal\n", file.c_str());
            ++failures;
        }
    }
    std::printf("%zu file(s), %d failure(s)\n", files.size(), failures);
    return failures == 0 ? 0 : 1;
}
