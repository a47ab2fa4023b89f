#include "replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

namespace azm {

namespace {

[[noreturn]] void fail(int error, const std::string &what) {
    throw std::system_error(error, std::generic_category(), what);
}

std::string folder_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a symbolic link at path leads to; path itself when it is none (or leads nowhere).
std::string followed(const std::string &path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

ReplacingFile::ReplacingFile(const std::string &target) : target_(followed(target)) {
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        in_place_ = true;
        path_ = target_;
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (descriptor_ < 0)
            fail(errno, "cannot open " + path_);
        return;
    }

    // A new name beside the target: hidden, and never one that exists (O_EXCL), so that two runs
    // writing the same target cannot meet.
    const std::size_t slash = target_.rfind('/');
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    const std::string folder = folder_of(target_);
    std::random_device random;
    int error = 0;
    for (int attempt = 0; attempt < 100 && descriptor_ < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        path_ = folder + "/." + name + suffix;
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        error = errno;
        if (descriptor_ < 0 && error != EEXIST)
            break;
    }
    if (descriptor_ < 0)
        fail(error, "cannot create a file in " + folder);
    if (exists && ::fchmod(descriptor_, existing.st_mode & 07777) != 0) {
        error = errno;
        ::close(descriptor_);
        ::unlink(path_.c_str());
        fail(error, "cannot give a new file the permissions of " + target_);
    }
}

ReplacingFile::~ReplacingFile() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
    if (!committed_ && !in_place_)
        ::unlink(path_.c_str());
}

void ReplacingFile::release_descriptor() {
    if (descriptor_ >= 0 && ::close(descriptor_) != 0) {
        descriptor_ = -1;
        fail(errno, "cannot write " + path_);
    }
    descriptor_ = -1;
}

void ReplacingFile::commit() {
    release_descriptor();
    if (!in_place_ && std::rename(path_.c_str(), target_.c_str()) != 0)
        fail(errno, "cannot rename " + path_ + " to " + target_);
    committed_ = true;
}

}  // namespace azm
