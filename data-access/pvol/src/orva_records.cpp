// Builders of the ORVA product and ingest headers.
#include <sys/time.h>

#include <cmath>
#include <cstring>

#include "orva_header_ops.h"
#include "pvol/pvol_save.h"
#include "pvol_check.h"
#include "radar_utils_internal.h"

namespace {

constexpr size_t kSiteNameWidth = 16;
constexpr size_t kShortTaskName = 8;  // names up to this length get the "_RAW" suffix

void set_structure_header(structure_header *hdr, int16_t id, int16_t version, int32_t bytes,
                          int16_t flags) {
    hdr->id = id;
    hdr->iversion = version;
    hdr->ibytes = bytes;
    hdr->ireserved = 0;
    hdr->iflags = flags;
}

// A 16-byte name field whose last byte is set is copied as it is (it fills the whole field);
// otherwise it is a text and is stored blank-padded.
void copy_name_field(char *dst, const char *src) {
    if (src[kSiteNameWidth - 1] != '\0') {
        std::memcpy(dst, src, kSiteNameWidth);
    } else {
        cstr2fstr(dst, src, kSiteNameWidth);
    }
}

constexpr double kPi = 3.14159265358979323846;
constexpr double kSpeedOfLight = 2.997925e12;  // hundredths of a centimetre per second

int16_t round_to_i16(double value) {
    return static_cast<int16_t>(pvol_internal::round_half_up_to_int(value));
}

int32_t round_to_i32(double value) {
    return pvol_internal::round_half_up_to_int(value);
}

// Truncates toward zero; the NaN of a sector that is not given counts as 0. A value within a
// millionth of a whole number is that number: a step read as whole thousandths of a degree
// comes back as a few units in the last place below them, and must give those thousandths again.
int truncate_to_int(double value) {
    if (std::isnan(value))
        return 0;
    const double nearest = std::round(value);
    if (std::fabs(value - nearest) < 1e-6)
        value = nearest;
    if (value >= 2147483647.0)
        return 2147483647;
    if (value <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<int>(value);
}

uint16_t bin2_of_radians(double radians) {
    return static_cast<uint16_t>(iBin2FromRadian(radians));
}

// Scan mode and sector start of a sweep kind: the sector modes when the sector starts away from 0
// or covers less than the full turn of its kind.
void set_scan_mode(task_scan_info *scan, int kind, const dscan &sector) {
    if (kind == SWEEP_MANUAL) {
        scan->imode = SCAN_MANUAL;
        return;
    }
    PVOL_CHECK(kind == SWEEP_PPI || kind == SWEEP_RHI);
    const double full_turn = kind == SWEEP_PPI ? 2.0 * kPi : kPi / 2.0;
    if (sector.start != 0 || (static_cast<double>(sector.count) + 1.0) * sector.step < full_turn) {
        scan->imode = kind == SWEEP_PPI ? SCAN_PPI_SECTOR : SCAN_RHI_SECTOR;
        scan->istart = bin2_of_radians(sector.start);
    } else {
        scan->imode = kind == SWEEP_PPI ? SCAN_PPI_FULL : SCAN_RHI_FULL;
    }
}

}  // namespace

int16_t orva_polarization_code(int tx_polarization, double *factor) {
    if (factor)
        *factor = 1.0;
    switch (tx_polarization) {
        case 3:
            return 3;
        case 4:
            if (factor)
                *factor = 2.0;
            return 2;
        case 2:
            return 1;
        default:
            return 0;
    }
}

void __product_header(product_header *out, const ingest_header *in, const char *site) {
    std::memset(out, 0, sizeof *out);
    set_structure_header(&out->hdr, ST_PRODUCT_HDR, ST_PRODUCT_HDR_VERSION, 0, 0);

    product_configuration &pcf = out->pcf;
    set_structure_header(&pcf.hdr, ST_PRODUCT_CONF, ST_PRODUCT_CONF_VERSION, PRODUCT_CONF_SIZE, 1);
    pcf.iptype = PROD_RAW;
    pcf.sweep_time = in->icf.vol_time;
    pcf.file_time = in->icf.vol_time;
    std::memcpy(pcf.task_name, in->tcf.end.task_name, sizeof pcf.task_name);

    char name[sizeof pcf.prod_name + 1];
    fstr2cstr(name, in->tcf.end.task_name, sizeof in->tcf.end.task_name);
    if (std::strlen(name) <= kShortTaskName)
        std::strcat(name, "_RAW");
    cstr2fstr(pcf.prod_name, name, sizeof pcf.prod_name);

    struct timeval now;
    gettimeofday(&now, nullptr);
    timeval2ymds(&pcf.gen_time, &now);
    pcf.isched = 0;
    pcf.iseconds = 0;

    const dsp_data_mask &mask = in->tcf.dsp.mask;
    pcf.mask0 = mask.mask_word_0;
    pcf.mask1[0] = mask.mask_xhdr;
    pcf.mask1[1] = mask.mask_word_1;
    pcf.mask1[2] = mask.mask_word_2;
    pcf.mask1[3] = mask.mask_word_3;
    pcf.mask1[4] = mask.mask_word_4;
    pcf.irange_last = in->tcf.rng.irange_last;
    pcf.iing_130 = in->icf.i_130;

    product_end &pend = out->pend;
    cstr2fstr(pend.prod_site, site, sizeof pend.prod_site);
    std::strncpy(pend.version, PRODUCT_FORMAT_VERSION, sizeof pend.version - 1);
    std::memcpy(pend.ing_version, in->icf.version, sizeof pend.ing_version - 1);
    pend.ing_time = in->icf.vol_time;
    pend.itz_offset = in->icf.itz_offset;
    copy_name_field(pend.hw_name, in->icf.hw_name);
    copy_name_field(pend.site_name, in->icf.site_name);

    pend.imin_west = in->icf.imin_west;
    pend.ilat = in->icf.ilat;
    pend.ilon = in->icf.ilon;
    pend.iradar_hgt = in->icf.iradar_hgt;
    pend.iground_hgt = in->icf.iground_hgt;
    pend.iprf = in->tcf.dsp.iprf;
    pend.ipulse_width = in->tcf.dsp.ipulse_width;
    pend.idsp_type = in->tcf.dsp.idsp_type;
    pend.itrig_rate = in->tcf.dsp.itrig_rate;
    pend.isamples = in->tcf.dsp.isamples;
    std::memcpy(pend.dsp_778, in->tcf.dsp.b_778, sizeof pend.dsp_778);
    pend.dsp_790 = in->tcf.dsp.b_790;
    pend.iwavelength = in->tcf.misc.iwavelength;
    pend.imisc_1772 = in->tcf.misc.i_1772;
    pend.irange_first = in->tcf.rng.irange_first;
    pend.irange_last = in->tcf.rng.irange_last;
    pend.ibins = in->tcf.rng.ibins_out;
    pend.iflags = 1;
    pend.ipolarization = in->tcf.misc.ipolarization;
    pend.cal_992 = in->tcf.cal.i_992;
    pend.cal_996 = in->tcf.cal.i_996;
    pend.iradar_const = in->tcf.cal.iradar_const;
    pend.cal_1004 = in->tcf.cal.i_1004;
    pend.cal_984 = in->tcf.cal.i_984;
    pend.cal_980 = in->tcf.cal.i_980;
    pend.cal_1006 = in->tcf.cal.i_1006;
    pend.icf_228 = in->icf.i_228;
    pend.dsp_791 = in->tcf.dsp.b_791;
    pend.dsp_796 = in->tcf.dsp.i_796;
    pend.res_580 = 0;
    pend.iisotherm = in->icf.iisotherm;
    std::memcpy(pend.tz_name, in->icf.tz_name, sizeof pend.tz_name);

    const unsigned char *status = INGEST_PROC_STATUS(in);
    pend.inoise_1 = round_to_i16(100.0 * fdsptype_noise_power(in->tcf.dsp.idsp_type, 1, status));
    pend.inoise_0 = round_to_i16(100.0 * fdsptype_noise_power(in->tcf.dsp.idsp_type, 0, status));
    pend.cal_986 = round_to_i16(in->tcf.cal.i_986 * 6.25);
    pend.ialtitude = static_cast<int16_t>(pend.iradar_hgt + pend.iground_hgt);
}

void __ingest_header_set_defaults(ingest_header *ih) {
    set_structure_header(&ih->hdr, ST_INGEST_HDR, ST_INGEST_HDR_VERSION, INGEST_HDR_SIZE, 1);
    set_structure_header(&ih->tcf.hdr, ST_TASK_CONF, ST_TASK_CONF_VERSION, TASK_CONF_SIZE, 1);
    ih->tcf.dsp.imajor_mode = 0;
    ih->tcf.dsp.itrig_rate = 0;
    ih->tcf.dsp.iprf = 1000;
    ih->tcf.misc.i_1772 = 2147483647;
    ih->tcf.end.ihybrid = 1;
}

void __ingest_header_set(ingest_header *ih, int bin_format, const radar_sweep *sweep,
                         const radar_ray_conf *rconf) {
    const radar_sweep_conf *sconf = rsweep_get_config(sweep);
    PVOL_CHECK(sweepconf_get_rayconf_count(sconf) == 1);
    PVOL_CHECK(sweepconf_get_next_rayconf(sconf, nullptr) == rconf);
    PVOL_CHECK(bin_format == BITS_8 || bin_format == BITS_16);

    const int kind = sweepconf_get_type(sconf);
    dscan sector = {NAN, NAN, 0};
    sweepconf_get_sector(sconf, &sector);

    task_dsp_info &dsp = ih->tcf.dsp;
    dsp.iprf = round_to_i32(rayconf_get_prf(rconf));
    ih->tcf.misc.iwavelength = round_to_i32(kSpeedOfLight / rayconf_get_rf_freq(rconf));

    double factor;
    ih->tcf.misc.ipolarization =
        orva_polarization_code(rayconf_get_tx_polarization(rconf), &factor);
    const double single_prf_velocity =
        dsp.iprf * static_cast<double>(ih->tcf.misc.iwavelength) / 40000.0;
    switch (round_to_i32(factor * rayconf_get_nyquist_vel(rconf) / single_prf_velocity)) {
        case 2:
            dsp.itrig_rate = 1;
            break;
        case 3:
            dsp.itrig_rate = 2;
            break;
        case 4:
            dsp.itrig_rate = 3;
            break;
        default:
            dsp.itrig_rate = 0;
            break;
    }

    dsp.igas_atten = static_cast<int16_t>(
        iCode16FromFGasAtten(static_cast<float>(rayconf_get_gas_atten(rconf))));
    ih->tcf.cal.ical_ref = round_to_i16(rayconf_get_calib_const(rconf) * 16.0);
    ih->tcf.cal.iradar_const = round_to_i16(rayconf_get_radar_const(rconf) * 100.0);
    dsp.ipulse_width = round_to_i32(rayconf_get_pulse_width(rconf) / 1e-8);
    dsp.isamples = static_cast<int16_t>(rayconf_get_pulses_per_ray(rconf));

    // The file has one range for all types: moments on differing ranges are written on the range
    // that covers them all, the bins outside a moment's own range holding no data.
    DspMaskClearAll(&dsp.mask);
    dscan range_mask = {0, 0, 0};
    const uint64_t moments = rayconf_get_moments_count(rconf);
    for (uint64_t i = 0; i < moments; ++i) {
        const radar_moment *moment = rayconf_get_moment(rconf, static_cast<int>(i));
        if (i == 0) {
            rmoment_get_range_mask(moment, &range_mask);
        } else {
            dscan tmp_range_mask;
            rmoment_get_range_mask(moment, &tmp_range_mask);
            dscan_merge(&range_mask, &tmp_range_mask);
        }
        // Custom moments have no ORVA code and cannot be recorded.
        const int type = rmoment_get_raw_type(moment);
        if (type < RD_DBT || type > RD_HCLASS)
            continue;
        const raw_data_type_desc &row = raw_data_types[type + 1];
        PVOL_CHECK(row.type == type);
        DspMaskSet(&dsp.mask, bin_format == BITS_8 ? row.orva_code_8 : row.orva_code_16);
    }
    if (rayconf_get_exthdr_size(rconf) != 0)
        DspMaskSet(&dsp.mask, DATA_TYPE_XHDR);

    task_range_info &rng = ih->tcf.rng;
    rng.irange_first = round_to_i32(100.0 * range_mask.start);
    rng.istep_out = round_to_i32(100.0 * range_mask.step);
    rng.istep_in = rng.istep_out;
    rng.ibins_out = static_cast<int16_t>(range_mask.count);
    rng.ibins_in = rng.ibins_out;
    rng.irange_last =
        static_cast<int32_t>(int64_t{rng.irange_first} + int64_t{rng.ibins_in - 1} * rng.istep_in);

    ih->tcf.scan.ires = static_cast<int16_t>(truncate_to_int(180000.0 * sector.step / kPi));
    set_scan_mode(&ih->tcf.scan, kind, sector);
    ih->icf.irays_full = static_cast<int16_t>(truncate_to_int(2.0 * kPi / sector.step));
    ih->icf.ifirst_ray = static_cast<int16_t>(truncate_to_int(sector.start / sector.step));
    ih->icf.irays = static_cast<int16_t>(sector.count);
    ih->ical_ref2 = ih->tcf.cal.ical_ref;

    if (sweepconf_is_defined(sconf, "ORVA Sweep Scan Speed"))
        ih->tcf.scan.ispeed = static_cast<uint16_t>(
            iBin2FromFDeg(sweepconf_get_double(sconf, "ORVA Sweep Scan Speed")));
    if (rayconf_is_defined(rconf, "ORVA Ray Log Threshold"))
        ih->tcf.cal.ilog_thresh =
            round_to_i16(16.0 * rayconf_get_double(rconf, "ORVA Ray Log Threshold"));
    if (rayconf_is_defined(rconf, "ORVA Ray SQI Threshold"))
        ih->tcf.cal.isqi_thresh =
            round_to_i16(256.0 * rayconf_get_double(rconf, "ORVA Ray SQI Threshold"));
}

int ingest_header_update(ingest_header *ih, const radar_sweep *sweep, int index) {
    if (index == 0) {
        struct timeval time;
        rsweep_get_time(sweep, &time);
        timeval2ymds(&ih->icf.vol_time, &time);
    }
    const int kind = sweepconf_get_type(rsweep_get_config(sweep));
    if (kind != SWEEP_PPI && kind != SWEEP_RHI)
        return 0;
    // The angle list ends at the wavelength; further sweeps of one run have no slot.
    if (index < 0 || index >= TASK_MAX_SWEEP_ANGLES)
        return 1;
    ih->tcf.scan.iangles[index] = bin2_of_radians(rsweep_get_fixed_angle(sweep));
    return 0;
}
