// The ORVA product header as raw bytes with typed accessors at the layout offsets.
#ifndef WRDATA_ORVAHEADER_H
#define WRDATA_ORVAHEADER_H

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree_fwd.hpp>

static_assert(std::endian::native == std::endian::little,
              "the product header is little-endian and is accessed in place");

namespace azm::orva {

// Date and time of day as the product header keeps them (seconds of the day split up).
struct YMDHHMMSS {
    int year = 0;
    int mon = 0;
    int day = 0;
    int hour = 0;
    int min = 0;
    int sec = 0;
    bool operator==(const YMDHHMMSS &) const = default;
};

// Storage of the product's data type: storage name, bits per stored value, ORVA data type code.
struct Storage {
    std::string name;
    int bits = 0;
    int code = 0;
    bool operator==(const Storage &) const = default;
};

// Radar parameters that the data code conversions depend on, as the header stores them.
struct RadarParameters {
    int prf = 0;           // Hz
    int trig_rate = 0;     // multi-PRF mode
    int wavelength = 0;    // hundredths of a centimetre
    int polarization = 0;  // polarization code
};

class Header {
  public:
    // Size of the classic product header; every product type has at least these bytes.
    static constexpr std::size_t base_size = 640;

    Header();  // a blank header

    // Replaces the buffer by a blank header: product type "NONE", default names and radar values.
    void reset();

    // Header size of the current product type: 640, 1664 for event products, 12288 for RAW.
    std::size_t size() const;

    // Reads a header: 640 bytes, then the rest of the type's header size. A stream that ends early
    // raises std::domain_error (the header is then blank).
    void read(std::istream &input);
    // Writes size() bytes.
    void write(std::ostream &output) const;

    // Takes a raw header: ignored when shorter than 640 bytes; otherwise the first 640 bytes and,
    // when the type needs more and length suffices, the rest up to size(). Missing bytes are zero.
    void set(const std::uint8_t *data, std::size_t length);
    // The raw buffer, size() bytes long.
    const std::vector<std::uint8_t> &get() const { return bytes_; }

    // hdr.ibytes: the total size of the product file.
    std::int32_t getTotalSize() const;
    void setTotalSize(std::int32_t bytes);
    // Byte position where the appended sections start (0 = none).
    std::uint32_t getExtendedHeaderOffset() const;
    void setExtendedHeaderOffset(std::uint32_t offset);

    // Product type name of pcf.iptype ("NONE" for a type the table lacks).
    std::string getProductType() const;
    // Sets pcf.iptype from its name; an unknown name sets type 0 ("NONE").
    void setProductType(const std::string &name);
    static std::string ProductType(int type);

    std::string getProductConfigName() const;
    void setProductConfigName(const std::string &name);

    // Elevation of a PPI product in degrees; NaN for other types, whose writes are ignored.
    double getPspPpiAngle() const;
    void setPspPpiAngle(double degrees);

    // Accumulation time span of RAIN1, RAINN and CATCH products; NaN for other types.
    double getPspTimeSpanMinutes() const;
    void setPspTimeSpanMinutes(double minutes);

    // Uncompressed size of an SWS product; 0 for other types.
    std::uint32_t getPspUncompressedSize() const;
    void setPspUncompressedSize(std::uint32_t bytes);

    // Number of events of TRACK, WARN, STAT and SLINE products; 0 for other types.
    int getPspEventCount() const;
    void setPspEventCount(int count);

    bool isScalar() const;
    bool isGeoReferenced() const;
    bool isEvent() const;
    bool isRaw() const;

    // Storage of the data type code; the "Null" row for a code the table lacks.
    Storage getStorage() const;
    // (name, unit) of the data type.
    std::pair<std::string, std::string> getDataType() const;
    // Sets the data type code of the row with this name and bits; without such a row, the last
    // row of that name; without any row of that name, the "Null" code 34.
    void setOrvaType(const std::string &name, int bits);

    // Grid sizes along x, y, z.
    std::array<int, 3> getDim() const;
    void setDim(int x, int y, int z);

    YMDHHMMSS getIngestYMDHHMMSS() const;
    void setIngestYMDHHMMSS(const YMDHHMMSS &time);
    YMDHHMMSS getAnalysisYMDHHMMSS() const;
    void setAnalysisYMDHHMMSS(const YMDHHMMSS &time);

    std::string getIngestHardwareName() const;
    void setIngestHardwareName(const std::string &name);
    std::string getSiteName() const;
    void setSiteName(const std::string &name);

    // Sets the PRF that gives this Nyquist velocity with the header's multi-PRF mode, wavelength
    // and polarization. A header without a usable wavelength keeps its PRF.
    void adjustPRF(double nyquist_velocity);
    RadarParameters getRadarParameters() const;

    // Geo-reference keys of the product: ellipsoid ("gcs"), grid sizes, and for geo-referenced
    // kinds the pinned region ("bbox"), the projection and the radar position. Geometry failures
    // are reported on standard error and leave their keys unwritten (or the header unchanged);
    // setGeoReference raises the property tree's error for a missing required key.
    void getGeoReference(boost::property_tree::ptree &tree) const;
    void setGeoReference(const boost::property_tree::ptree &tree);

    // Typed access to the raw bytes at a byte offset (little-endian, unaligned). A store that
    // changes the product type resizes the buffer to the new type's header size, as
    // setProductType does.
    template <typename T>
    T load(std::size_t offset) const;
    template <typename T>
    void store(std::size_t offset, T value);
    // A fixed-width text field with trailing blanks removed; blank-padded when written.
    std::string text(std::size_t offset, std::size_t width) const;
    void setText(std::size_t offset, std::size_t width, const std::string &value);

  private:
    int productType() const;
    void fitToType();  // keeps the buffer at the size of the current product type
    // After a raw store of width bytes at offset: refits the buffer if they hold the type.
    void fitToTypeAfterStore(std::size_t offset, std::size_t width);
    YMDHHMMSS ymdhhmmss(std::size_t offset) const;
    void setYmdhhmmss(std::size_t offset, const YMDHHMMSS &time);

    std::vector<std::uint8_t> bytes_;
};

template <typename T>
T Header::load(std::size_t offset) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) {
        throw std::out_of_range("product header field beyond the header");
    }
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
}

template <typename T>
void Header::store(std::size_t offset, T value) {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) {
        throw std::out_of_range("product header field beyond the header");
    }
    std::memcpy(bytes_.data() + offset, &value, sizeof(T));
    fitToTypeAfterStore(offset, sizeof(T));
}

}  // namespace azm::orva

#endif  // WRDATA_ORVAHEADER_H
