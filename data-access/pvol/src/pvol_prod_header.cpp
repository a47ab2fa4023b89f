// Scan-dependent fields of ORVA product headers.
#include "pvol/pvol_prod_header.h"

#include <cmath>
#include <cstring>

#include "orva_header_ops.h"
#include "pvol_check.h"
#include "radar_utils_internal.h"

namespace {

using pvol_internal::round_half_up_to_int;

constexpr uint16_t kKeptProductFlags = 0x6082;
constexpr int kHeightProductType = 2;  // products whose Y axis is height
constexpr size_t kNameTaken = 19;      // characters of a scan text looked at

constexpr double kSpeedOfLight = 2.997925e12;  // wavelength (hundredths of a cm) times Hz

void fill_radar(product_end &pend, const radar_ray_conf *rconf) {
    pend.iprf = round_half_up_to_int(rayconf_get_prf(rconf));
    pend.isamples = static_cast<int16_t>(rayconf_get_pulses_per_ray(rconf));
    pend.ipulse_width = round_half_up_to_int(rayconf_get_pulse_width(rconf) * 1e8);
    const double frequency = rayconf_get_rf_freq(rconf);
    if (frequency > 0)  // false for NaN too
        pend.iwavelength = round_half_up_to_int(kSpeedOfLight / frequency);
    pend.ipolarization = orva_polarization_code(rayconf_get_tx_polarization(rconf), nullptr);
}

}  // namespace

extern "C" {

void pvol_fill_prod_header(product_header *header, const radar_scan *scan, const char *site,
                           int height_offset) {
    PVOL_CHECK(header != nullptr);
    PVOL_CHECK(scan != nullptr);
    product_configuration &pcf = header->pcf;
    product_end &pend = header->pend;

    header->hdr.id = ST_PRODUCT_HDR;
    header->hdr.ibytes = 0;
    header->hdr.iversion = ST_PRODUCT_HDR_VERSION;
    pcf.iflags &= kKeptProductFlags;

    char text[kNameTaken + 1] = {};
    pvol_get_name(scan, text, kNameTaken);
    cstr2fstr(pcf.task_name, text, sizeof pcf.task_name);
    if (site != nullptr)
        std::memcpy(pend.prod_site, site, sizeof pend.prod_site);
    std::memset(pend.version, 0, sizeof pend.version);
    std::strncpy(pend.version, PRODUCT_FORMAT_VERSION, sizeof pend.version - 1);
    std::memset(text, 0, sizeof text);
    pvol_get_site_name(scan, text, kNameTaken);
    cstr2fstr(pend.site_name, text, sizeof pend.site_name);

    rposition_fixed fixed;
    if (rposition_get_fixed(pvol_get_position(scan), &fixed) != nullptr) {
        pend.iground_hgt = static_cast<int16_t>(round_half_up_to_int(fixed.ground_height));
        pend.iradar_hgt =
            static_cast<int16_t>(round_half_up_to_int(fixed.altitude - fixed.ground_height));
    }
    const radar_ray_conf *rconf = pvol_get_next_rayconf(scan, nullptr);
    if (rconf != nullptr)
        fill_radar(pend, rconf);
    pend.iflags = 1;
    pend.ialtitude = static_cast<int16_t>(pend.iradar_hgt + pend.iground_hgt - height_offset);

    // The radar's height in thousandths of a Y pixel; without a pixel size there is no pixel to
    // count in, and the field stays the caller's.
    if (pcf.iptype == kHeightProductType && pcf.iyscale != 0) {
        const double pixels = static_cast<uint16_t>(pend.ialtitude) * 100.0 / pcf.iyscale;
        pcf.irady = round_half_up_to_int(1000 * pixels);
    }
}

product_header *pvol_fill_prod_radpos(product_header *header, const radar_scan *scan) {
    PVOL_CHECK(header != nullptr);
    PVOL_CHECK(scan != nullptr);
    header->pcf.iradx = 0;
    header->pcf.irady = 0;
    rposition_fixed fixed;
    if (rposition_get_fixed(pvol_get_position(scan), &fixed) != nullptr) {
        header->pend.ilat = iBin4FromRadian(fixed.latitude);
        header->pend.ilon = iBin4FromRadian(fixed.longitude);
    }
    header->pcf.iproj_type = 0;
    std::memset(header->pcf.b_144, 0, sizeof header->pcf.b_144);
    header->pend.iproj_lat = 0;
    header->pend.iproj_lon = 0;
    header->pend.iproj_angle1 = 0;
    header->pend.iproj_angle2 = 0;
    header->pend.iearth_radius = 0;
    header->pend.iellipse_param = 0;
    return header;
}

}  // extern "C"
