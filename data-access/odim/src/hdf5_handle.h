// Owning wrappers of HDF5 identifiers, and the checks every HDF5 call of the writer goes through.
#pragma once

#include <hdf5.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace odim {

// Every failure of the writer: its text becomes the message of the C entry point.
class WriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One HDF5 identifier and the call that closes it. Move-only; an invalid identifier (negative)
// is never stored, so a live Handle always holds something to close.
class Handle {
  public:
    using Closer = herr_t (*)(hid_t);

    // Takes ownership of id; a negative id (a failed HDF5 call) throws WriteError naming what.
    Handle(hid_t id, Closer close, const std::string &what) : id_(id), close_(close) {
        if (id_ < 0)
            throw WriteError("HDF5 cannot " + what);
    }
    Handle(Handle &&other) noexcept
        : id_(std::exchange(other.id_, H5I_INVALID_HID)), close_(other.close_) {}
    Handle &operator=(Handle &&other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, H5I_INVALID_HID);
            close_ = other.close_;
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { reset(); }

    hid_t get() const { return id_; }

    // Closes now, reporting a failed close (for the file, where closing flushes the data).
    void close(const std::string &what) {
        const herr_t status = close_(std::exchange(id_, H5I_INVALID_HID));
        if (status < 0)
            throw WriteError("HDF5 cannot " + what);
    }

  private:
    void reset() {
        if (id_ >= 0)
            close_(std::exchange(id_, H5I_INVALID_HID));
    }

    hid_t id_;
    Closer close_;
};

// Throws WriteError naming what when an HDF5 call returned a failure status.
inline void check(herr_t status, const std::string &what) {
    if (status < 0)
        throw WriteError("HDF5 cannot " + what);
}

// Keeps HDF5 from printing its own error stack for the lifetime of the object, and restores the
// caller's setting afterwards: failures are reported in the writer's words.
class QuietErrors {
  public:
    QuietErrors() {
        H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    QuietErrors(const QuietErrors &) = delete;
    QuietErrors &operator=(const QuietErrors &) = delete;
    ~QuietErrors() { H5Eset_auto2(H5E_DEFAULT, function_, data_); }

  private:
    H5E_auto2_t function_ = nullptr;
    void *data_ = nullptr;
};

}  // namespace odim
