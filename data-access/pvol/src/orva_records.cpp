// Builders of the ORVA product and ingest headers.
#include <sys/time.h>

#include <cmath>
#include <cstring>

#include "orva_header_ops.h"
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

int16_t round_to_i16(double value) {
    return static_cast<int16_t>(pvol_internal::round_half_up_to_int(value));
}

}  // namespace

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
