// A scratch directory for tests that need real files; removed with its files at the end.
#ifndef PVOL_TESTS_TEMP_DIR_H
#define PVOL_TESTS_TEMP_DIR_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pvol-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // Full path of a file in the directory.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

    // Writes bytes to the file name and returns its full path.
    std::string write(const std::string &name, const std::vector<unsigned char> &bytes) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static std::string read_text(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static bool exists(const std::string &path) { return std::filesystem::exists(path); }

  private:
    std::string path_;
};

#endif  // PVOL_TESTS_TEMP_DIR_H
