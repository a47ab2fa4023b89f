// Product types, and the region, projection and radar position of a product header.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "pvol/orva_records.h"
#include "pvol/orva_utils.h"
#include "orva_utils_internal.h"
#include "pvol/radar_utils.h"

using namespace pvol_internal;

namespace {

// Offsets in the product-specific area that starts at product header offset 176.
constexpr std::size_t kParamsOffset = 176;
constexpr std::size_t kParam180 = 180 - kParamsOffset;
constexpr std::size_t kParam188 = 188 - kParamsOffset;
static_assert(offsetof(product_header, pcf) + offsetof(product_configuration, mask0) ==
              kParamsOffset);

// Versions of the product format that changed how the header describes a projection.
constexpr double kFirstProjectionVersion = 5.495;
constexpr double kExplicitCentreVersion = 8.115;

// The product types whose header has no pixel size, and the sizes of their special cases.
constexpr int kTypeRangeFromMask = 16;  // pixels reduced by the int32 at offset 188
constexpr int kTypeFixedImage = 22;     // always 720 x 720 pixels
constexpr int kFixedImagePixels = 720;
constexpr int kMaxProductType = 40;

// Fields of the product-specific area; a missing area reads as zeros.
int32_t param_i32(const void *params, std::size_t offset) {
    int32_t value = 0;
    if (!params)
        return value;
    std::memcpy(&value, static_cast<const unsigned char *>(params) + offset, sizeof value);
    return value;
}

uint32_t param_u32(const void *params, std::size_t offset) {
    uint32_t value = 0;
    if (!params)
        return value;
    std::memcpy(&value, static_cast<const unsigned char *>(params) + offset, sizeof value);
    return value;
}

bool has_no_range(int type) {
    return type == 0 || type == 19 || type == 20 || type == 24 || type == 28 || type == 31;
}

// floor(value + 0.5) as a stored int32; values beyond its range are clamped, NaN stores 0.
int32_t rounded_i32(double value) {
    const double r = std::floor(value + 0.5);
    if (!(r == r))
        return 0;
    if (r <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (r >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(r);
}

product_header load(const void *hdr) {
    product_header h;
    std::memcpy(&h, hdr, sizeof h);
    return h;
}

product_configuration load_pcf(const void *pcf) {
    product_configuration c;
    std::memcpy(&c, pcf, sizeof c);
    return c;
}

// The leading decimal number of the NUL-padded format version text, if there is one.
bool format_version(const product_end &pend, double *version) {
    char text[sizeof pend.version + 1] = {};
    std::memcpy(text, pend.version, sizeof pend.version);
    const char *end = text + std::strlen(text);
    const std::from_chars_result parsed = std::from_chars(text, end, *version);
    return parsed.ec == std::errc() && parsed.ptr != text;
}

earth_pos radar_of(const product_end &pend) {
    return earth_pos{fRadianFromBin4(pend.ilat), fRadianFromBin4(pend.ilon), 0};
}

}  // namespace

extern "C" {

short lProductHasPixSize(int product_type) {
    return !(product_type == 9 || product_type == 22 || product_type == 35);
}

int iProductGeometry(int product_type) {
    switch (product_type) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 3:
        case 26:
            return 5;
        case 4:
        case 18:
            return 4;
        case 14:
            return 8;
        case 23:
            return 7;
        case 5:
        case 6:
        case 7:
        case 8:
        case 10:
        case 11:
        case 12:
        case 13:
        case 16:
        case 17:
        case 21:
        case 22:
        case 25:
        case 29:
        case 30:
        case 32:
        case 33:
        case 34:
        case 36:
        case 37:
        case 38:
        case 39:
        case 40:
            return 3;
        default:
            return 6;
    }
}

int lProductIsGeoRef(int product_type) {
    const int geometry = iProductGeometry(product_type);
    return geometry == 1 || geometry == 3 || geometry == 5;
}

double fMaxRangeFromArgs(int product_type, int xsize, int xscale, int ysize, int yscale,
                         const void *params) {
    if (product_type > kMaxProductType || has_no_range(product_type))
        return 0.0;
    // Centimetres; products of sizes and scales can pass the range of a 32-bit int.
    double cm;
    switch (product_type) {
        case 2:
        case 4:
        case 18:
            cm = static_cast<double>(xsize) * xscale;
            break;
        case 9:
        case 15:
            cm = param_i32(params, kParam180);
            break;
        case 14:
            cm = static_cast<double>(ysize) * yscale;
            break;
        case kTypeRangeFromMask:
            cm = (static_cast<double>(xsize) - param_i32(params, kParam188)) * xscale / 2.0;
            break;
        case kTypeFixedImage:
            cm = param_i32(params, kParam188);
            break;
        case 23:
            cm = param_u32(params, kParam180);
            break;
        case 35:
            cm = (static_cast<double>(param_i32(params, kParam180)) + param_i32(params, 0)) / 2.0;
            break;
        default:
            cm = static_cast<double>(xsize) * xscale / 2.0;
            break;
    }
    return cm / 100000.0;
}

double fMaxRangeFromPCF(const void *pcf) {
    const product_configuration c = load_pcf(pcf);
    const unsigned char *params =
        static_cast<const unsigned char *>(pcf) + offsetof(product_configuration, mask0);
    return fMaxRangeFromArgs(c.iptype, c.ixsize, c.ixscale, c.iysize, c.iyscale, params);
}

double fMaxNorthFromPCF(const void *pcf) {
    const product_configuration c = load_pcf(pcf);
    const int type = c.iptype;
    if (type > kMaxProductType || has_no_range(type))
        return 0.0;
    const unsigned char *params =
        static_cast<const unsigned char *>(pcf) + offsetof(product_configuration, mask0);
    const int64_t scale = c.iyscale != 0 ? c.iyscale : c.ixscale;
    // Centimetres, halved as whole numbers.
    int64_t cm;
    switch (type) {
        case 2:
        case 4:
        case 14:
        case 18:
            cm = scale * c.iysize;
            break;
        case 9:
        case 15:
        case 23:
        case 29:
        case 35:
            cm = param_i32(params, kParam180);
            break;
        case kTypeRangeFromMask:
            cm = scale * (static_cast<int64_t>(c.iysize) - param_i32(params, kParam188)) / 2;
            break;
        case kTypeFixedImage:
            cm = param_i32(params, kParam188);
            break;
        default:
            cm = scale * c.iysize / 2;
            break;
    }
    return static_cast<double>(cm) / 100000.0;
}

int phdr_pin_region(map_proj *proj, map_region *r, const void *product_header_bytes,
                    const int *pixels) {
    const product_header h = load(product_header_bytes);
    const product_configuration &pcf = h.pcf;
    const product_end &pend = h.pend;

    std::memset(proj, 0, sizeof *proj);
    double version = 0.0;
    const bool versioned = format_version(pend, &version);
    if (lProductHasPixSize(pcf.iptype) && versioned && version > kFirstProjectionVersion) {
        proj->type = pcf.iproj_type;
        proj->reference.latitude = fRadianFromBin4(pend.iproj_lat);
        proj->reference.longitude = fRadianFromBin4(pend.iproj_lon);
        proj->std_parallel1 = fRadianFromBin4(pend.iproj_angle1);
        proj->std_parallel2 = fRadianFromBin4(pend.iproj_angle2);
        proj->earth_radius = pend.iearth_radius / 100000.0;
        proj->inverse_flattening = pend.iellipse_param / 1000000.0;
        // Older products left the centre of these projections implicit.
        if (proj->reference.latitude == 0.0 && version < kExplicitCentreVersion) {
            if (proj->type == MERCATOR)
                proj->reference.latitude = fRadianFromBin4(pend.ilat);
            if (proj->type == POLSTEREO)
                proj->reference.latitude = kHalfPi;
        }
    } else {
        proj->type = AZIMUTHAL;
        proj->reference = radar_of(pend);
        proj->earth_radius = kEarthRadiusKm;
    }

    std::memset(r, 0, sizeof *r);
    r->centre = radar_of(pend);
    const unsigned char *pcf_bytes =
        static_cast<const unsigned char *>(product_header_bytes) + offsetof(product_header, pcf);
    r->earth_east_km = fMaxRangeFromPCF(pcf_bytes);
    r->earth_north_km = fMaxNorthFromPCF(pcf_bytes);

    if (pixels) {
        r->pixels_x = pixels[0];
        r->pixels_y = pixels[1];
    } else if (pcf.iptype == kTypeFixedImage) {
        r->pixels_x = r->pixels_y = kFixedImagePixels;
    } else {
        r->pixels_x = pcf.ixsize;
        r->pixels_y = pcf.iysize;
        const int32_t margin =
            param_i32(pcf_bytes + offsetof(product_configuration, mask0), kParam188);
        if (pcf.iptype == kTypeRangeFromMask && static_cast<int64_t>(margin) + 10 < pcf.ixsize &&
            static_cast<int64_t>(margin) + 10 < pcf.iysize) {
            r->pixels_x = static_cast<double>(pcf.ixsize) - margin;
            r->pixels_y = static_cast<double>(pcf.iysize) - margin;
        }
    }
    return mpj_pin_region_xy(proj, r,
                             MPJ_CENTRE_EARTH | MPJ_EARTH_NORTH_DIST | MPJ_EARTH_EAST_DIST);
}

int RadPosFromPheader(const void *product_header_bytes, earth_pos *radar) {
    const product_header h = load(product_header_bytes);
    const int type = h.pcf.iptype;
    if (lProductIsGeoRef(type) && lProductHasPixSize(type)) {
        *radar = earth_pos{0.0, 0.0, 0};
        map_proj proj;
        map_region r;
        const int status = phdr_pin_region(&proj, &r, product_header_bytes, nullptr);
        if (status != MPJ_OK)
            return status;
        const double pixel[2] = {h.pcf.iradx / 1000.0, h.pcf.irady / 1000.0};
        return mpj_pixel_to_earth(&proj, &r, pixel, radar);
    }
    *radar = radar_of(h.pend);
    return MPJ_OK;
}

void phdr_from_proj_region(void *product_header_bytes, const map_proj *proj, const map_region *r) {
    product_header h = load(product_header_bytes);
    h.pend.ilat = iBin4FromRadian(r->centre.latitude);
    h.pend.ilon = iBin4FromRadian(r->centre.longitude);
    h.pcf.iproj_type = proj->type;
    h.pend.iellipse_param = rounded_i32(1000000.0 * proj->inverse_flattening);
    h.pend.iproj_lat = iBin4FromRadian(proj->reference.latitude);
    h.pend.iproj_lon = iBin4FromRadian(proj->reference.longitude);
    h.pend.iproj_angle1 = iBin4FromRadian(proj->std_parallel1);
    h.pend.iproj_angle2 = iBin4FromRadian(proj->std_parallel2);
    h.pend.iearth_radius = rounded_i32(100000.0 * proj->earth_radius);
    h.pcf.ixscale = rounded_i32(mpj_get_earth_scale_e(r) * 100000.0);
    h.pcf.iyscale = rounded_i32(mpj_get_earth_scale_n(r) * 100000.0);
    std::memcpy(product_header_bytes, &h, sizeof h);
}

int phdr_from_radpos(void *product_header_bytes, int product_type, const map_proj *proj,
                     const map_region *r, const earth_pos *radar) {
    product_header h = load(product_header_bytes);
    int status = MPJ_OK;
    bool radar_placed = false;
    if (radar && !lProductIsGeoRef(product_type)) {
        h.pend.ilat = iBin4FromRadian(radar->latitude);
        h.pend.ilon = iBin4FromRadian(radar->longitude);
        radar_placed = true;
    } else if (radar) {
        double pixel[2];
        char visible = 0;
        status = mpj_earth_to_pixel(proj, r, radar, pixel, &visible);
        if (status == MPJ_OK && visible) {
            h.pcf.iradx = rounded_i32(1000.0 * pixel[0]);
            h.pcf.irady = rounded_i32(1000.0 * pixel[1]);
            radar_placed = true;
        }
    }
    if (!radar_placed) {  // the image centre
        h.pcf.iradx = rounded_i32(500.0 * r->pixels_x);
        h.pcf.irady = rounded_i32(500.0 * r->pixels_y);
    }
    std::memcpy(product_header_bytes, &h, sizeof h);
    return status;
}

}  // extern "C"
