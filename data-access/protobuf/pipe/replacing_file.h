// A program's output file that takes its name only when it is complete.
#pragma once

#include <string>

namespace azm {

// Written under a temporary name in the target's folder and renamed onto the target by commit(),
// so that a reader never sees half a file: a run that fails before commit() removes the temporary
// file and leaves an older file of the target's name untouched. The result keeps an existing
// target's permissions, or gets those of a new file (0666 less the umask). A symbolic link to a
// file is kept and its file replaced. A target that exists and is not a regular file (a device
// such as /dev/null, a named pipe) is written in place, since renaming onto it would replace the
// device itself.
//
// Failures throw std::system_error whose text names the file or folder and the system's reason.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string &target);
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~ReplacingFile();

    // Where to write now: the temporary file, or the target when it is written in place.
    const std::string &path() const { return path_; }
    // Open for writing at path(); -1 after release_descriptor().
    int descriptor() const { return descriptor_; }
    // Closes the descriptor, for writers that open path() by name themselves (HDF5).
    void release_descriptor();

    // Closes the descriptor and gives the file the target's name.
    void commit();

  private:
    std::string target_;
    std::string path_;
    int descriptor_ = -1;
    bool in_place_ = false;
    bool committed_ = false;
};

}  // namespace azm
