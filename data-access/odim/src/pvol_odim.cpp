// The ODIM_H5 writer: the mapping of the volume model onto the ODIM groups and attributes, and
// the C entry point.
#include "pvol_odim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "hdf5_handle.h"
#include "hdf5_write.h"
#include "pvol_boundary.h"
#include "pvol_handles.h"
#include "pvol/orva_records.h"
#include "pvol/radar_utils.h"
#include "ray_order.h"

namespace odim {
namespace {

constexpr double kDegreesPerRadian = 180.0 / M_PI;
constexpr const char *kIngestHeaderKey = "ORVA Sweep Ingest Header";

// Data values of moments written as floats: outside the range of every quantity.
constexpr double kFloatNodata = -9999.0;
constexpr double kFloatUndetect = -8888.0;

// ODIM quantity of each moment type 1 to 24; types without one keep the toolkit's label.
const char *const kQuantities[] = {nullptr, "TH",    "TV",    "dBTE",   "DBZH",  "DBZV", "dBZE",
                                   "DBZHC", "SNRH",  "VRADH", "VRADDH", "WRADH", "SQIH", "ZDR",
                                   "ZDRc",  "RHOHV", "PHIDP", "KDP",    "LDR",   "LDRV", "RhoH",
                                   "RhoV",  "PhiH",  "PhiV",  "CLASS"};
static_assert(std::size(kQuantities) == RD_HCLASS + 1);

// ---- times ----------------------------------------------------------------------------------

double epoch_seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

bool earlier(const timeval &a, const timeval &b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_usec < b.tv_usec;
}

// ---- the volume -----------------------------------------------------------------------------

// The ingest header the RAW reader keeps with a sweep's configuration, when it does.
bool sweep_ingest_header(const radar_sweep *sweep, ingest_header *out) {
    const radar_sweep_conf *sconf = rsweep_get_config(sweep);
    uint64_t length = sizeof *out;
    if (!sweepconf_is_defined(sconf, kIngestHeaderKey) ||
        sweepconf_get_buf(sconf, kIngestHeaderKey, out, &length) == nullptr)
        return false;
    return length == sizeof *out;
}

std::vector<const radar_sweep *> sweeps_in_time_order(const radar_scan *scan) {
    std::vector<const radar_sweep *> sweeps;
    for (const radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s != nullptr;
         s = pvol_get_next_sweep(scan, s))
        sweeps.push_back(s);
    std::stable_sort(sweeps.begin(), sweeps.end(), [](const radar_sweep *a, const radar_sweep *b) {
        timeval ta{}, tb{};
        return earlier(*rsweep_get_time(a, &ta), *rsweep_get_time(b, &tb));
    });
    return sweeps;
}

std::string moment_label(const radar_moment *moment) {
    const int type = rmoment_get_raw_type(moment);
    if (const char *name = rmoment_get_name(moment))
        return name;
    const char *quantity = pvol_odim_quantity(type);
    return quantity != nullptr ? quantity : "type" + std::to_string(type);
}

// Whether name picks moment: its ODIM quantity, or either of the toolkit's short names.
bool names_moment(const std::string &name, const radar_moment *moment) {
    if (name == moment_label(moment))
        return true;
    const int type = rmoment_get_raw_type(moment);
    if (type < RD_DBT || type > RD_HCLASS)
        return false;
    const raw_data_type_desc &row = raw_data_types[type + 1];
    return name == row.name_8 || name == row.name_16;
}

// How one moment's bins become data values.
struct Encoding {
    enum Kind { kCodes8, kCodes16, kFloats } kind;
    double gain = 1, offset = 0, nodata = kFloatNodata, undetect = kFloatUndetect;
    int orva_code = -1;  // for kFloats from codes: the ORVA data type code that decodes them
    const data_convert *conv = nullptr;  // and the radar settings its decoding needs
};

// True when every valid code of the moment decodes to code x step + offset (the scale's own
// reading), that is when the scale describes the codes exactly.
bool codes_are_linear(const native_data_desc &scale, int orva_code, const data_convert *conv) {
    const double tolerance = 1e-6 * std::fabs(scale.step);
    for (unsigned c = scale.min_value; c <= scale.max_value; ++c) {
        if (c == scale.not_scanned || c == scale.under_threshold)
            continue;
        const double linear = c * scale.step + scale.offset;
        if (!(std::fabs(fdata_to_user(static_cast<uint16_t>(c), orva_code, conv) - linear) <=
              tolerance))
            return false;
    }
    return true;
}

Encoding encoding_of(const radar_moment *moment, const data_convert *conv) {
    native_data_desc scale{};
    rmoment_get_scale(moment, &scale);
    const int type = rmoment_get_raw_type(moment);
    Encoding e{Encoding::kFloats};
    if (scale.bin_format != BITS_8 && scale.bin_format != BITS_16)
        return e;
    const bool narrow = scale.bin_format == BITS_8;
    // The ORVA meaning of the codes needs the radar settings of the ingest header; a sweep
    // without one (not read from ORVA files) is taken at its scale.
    if (conv != nullptr && type >= RD_DBT && type <= RD_HCLASS) {
        const raw_data_type_desc &row = raw_data_types[type + 1];
        const int orva_code = narrow ? row.orva_code_8 : row.orva_code_16;
        if (!codes_are_linear(scale, orva_code, conv)) {
            e.orva_code = orva_code;
            e.conv = conv;
            return e;
        }
    }
    e.kind = narrow ? Encoding::kCodes8 : Encoding::kCodes16;
    e.gain = scale.step;
    e.offset = scale.offset;
    e.nodata = scale.not_scanned;
    e.undetect = scale.under_threshold;
    return e;
}

class VolumeWriter {
  public:
    VolumeWriter(const radar_scan *scan, const pvol_odim_options &options)
        : scan_(scan), options_(options) {}

    void write(hid_t file) {
        const std::vector<const radar_sweep *> sweeps = sweeps_in_time_order(scan_);
        if (sweeps.empty())
            throw WriteError("the volume holds no sweep");
        check_moment_names(sweeps);
        write_string(file, "Conventions", "ODIM_H5/V2_4");
        write_root(file, sweeps);
        for (size_t i = 0; i < sweeps.size(); ++i) {
            Handle group = make_group(file, "dataset" + std::to_string(i + 1));
            write_sweep(group.get(), sweeps[i], static_cast<int>(i),
                        static_cast<int>(sweeps.size()));
        }
    }

  private:
    bool selected(const radar_moment *moment) const {
        if (options_.moments == nullptr || options_.moment_count <= 0)
            return true;
        for (int i = 0; i < options_.moment_count; ++i) {
            if (options_.moments[i] != nullptr && names_moment(options_.moments[i], moment))
                return true;
        }
        return false;
    }

    // Every name asked for must pick a moment somewhere in the volume.
    void check_moment_names(const std::vector<const radar_sweep *> &sweeps) const {
        if (options_.moments == nullptr)
            return;
        for (int i = 0; i < options_.moment_count; ++i) {
            const char *name = options_.moments[i];
            bool found = false;
            for (const radar_sweep *sweep : sweeps) {
                const radar_ray_conf *rconf = ray_config(sweep);
                for (int m = 0;
                     rconf != nullptr && m < static_cast<int>(rayconf_get_moments_count(rconf));
                     ++m)
                    found = found ||
                            (name != nullptr && names_moment(name, rayconf_get_moment(rconf, m)));
            }
            if (!found)
                throw WriteError(std::string("the volume has no moment ") +
                                 (name ? name : "(null)"));
        }
    }

    static const radar_ray_conf *ray_config(const radar_sweep *sweep) {
        if (const radar_ray *ray = rsweep_get_first_ray(sweep))
            return rray_get_config(ray);
        return sweepconf_get_next_rayconf(rsweep_get_config(sweep), nullptr);
    }

    void write_root(hid_t file, const std::vector<const radar_sweep *> &sweeps) {
        timeval start{};
        pvol_get_time_stamp(scan_, &start);
        char site[129] = "";
        pvol_get_site_name(scan_, site, sizeof site - 1);
        {
            Handle what = make_group(file, "what");
            write_string(what.get(), "object", sweeps.size() == 1 ? "SCAN" : "PVOL");
            write_string(what.get(), "version", "H5rad 2.4");
            write_string(what.get(), "date", utc_text(start.tv_sec, "%Y%m%d"));
            write_string(what.get(), "time", utc_text(start.tv_sec, "%H%M%S"));
            write_string(what.get(), "source",
                         options_.source != nullptr ? std::string(options_.source)
                                                    : std::string("PLC:") + site);
        }
        {
            rposition_fixed fixed{};
            if (rposition_get_fixed(pvol_get_position(scan_), &fixed) == nullptr)
                throw WriteError("the volume's radar position is not fixed");
            Handle where = make_group(file, "where");
            write_double(where.get(), "lon", fixed.longitude * kDegreesPerRadian);
            write_double(where.get(), "lat", fixed.latitude * kDegreesPerRadian);
            write_double(where.get(), "height", fixed.altitude);
        }
        Handle how = make_group(file, "how");
        ingest_header ih{};
        for (const radar_sweep *sweep : sweeps) {
            if (!sweep_ingest_header(sweep, &ih))
                continue;
            if (ih.tcf.misc.iwavelength > 0)
                write_double(how.get(), "wavelength", ih.tcf.misc.iwavelength / 100.0);
            if (ih.tcf.dsp.ipulse_width > 0)
                write_double(how.get(), "pulsewidth", ih.tcf.dsp.ipulse_width / 100.0);
            // Antenna speed in binary angle units per second; a full turn is 65536 units.
            if (ih.tcf.scan.ispeed > 0)
                write_double(how.get(), "rpm", ih.tcf.scan.ispeed * 60.0 / 65536.0);
            break;
        }
        char task[129] = "";
        if (pvol_get_name(scan_, task, sizeof task - 1) != nullptr)
            write_string(how.get(), "task", task);
        write_string(how.get(), "software", "azm_radar");
        write_string(how.get(), "sw_version", ODIM_SOFTWARE_VERSION);
        timeval end = start;
        for (const radar_sweep *sweep : sweeps) {
            timeval stop{};
            if (rsweep_get_stoptime(sweep, &stop)->tv_sec >= 0 && earlier(end, stop))
                end = stop;
        }
        write_int(how.get(), "startepochs", start.tv_sec);
        write_int(how.get(), "endepochs", end.tv_sec);
    }

    void write_sweep(hid_t group, const radar_sweep *sweep, int index, int count) {
        const radar_sweep_conf *sconf = rsweep_get_config(sweep);
        const bool rhi = sweepconf_get_type(sconf) == SWEEP_RHI;
        const radar_ray_conf *rconf = ray_config(sweep);
        if (rconf == nullptr)
            throw WriteError("sweep " + std::to_string(index + 1) + " has no ray configuration");
        for (uint64_t i = 0; i < rsweep_get_ray_count(sweep); ++i) {
            const radar_ray *ray = rsweep_get_ray(sweep, static_cast<int>(i));
            if (ray != nullptr && rray_get_config(ray) != rconf)
                throw WriteError("sweep " + std::to_string(index + 1) +
                                 " mixes rays of several configurations");
        }
        const RayOrder order = order_rays(sweep, rhi);

        std::vector<int> moments;
        dscan range{0, 0, 0};
        for (int m = 0; m < static_cast<int>(rayconf_get_moments_count(rconf)); ++m) {
            const radar_moment *moment = rayconf_get_moment(rconf, m);
            if (!selected(moment))
                continue;
            dscan r{};
            rmoment_get_range_mask(moment, &r);
            if (moments.empty()) {
                range = r;
            } else if (r.start != range.start || r.step != range.step) {
                throw WriteError("the moments of sweep " + std::to_string(index + 1) +
                                 " lie on different range bins");
            }
            range.count = std::max(range.count, r.count);
            moments.push_back(m);
        }

        timeval start{}, stop{};
        rsweep_get_starttime(sweep, &start);
        rsweep_get_stoptime(sweep, &stop);
        if (start.tv_sec < 0)
            rsweep_get_time(sweep, &start);
        if (stop.tv_sec < 0)
            stop = start;
        {
            Handle what = make_group(group, "what");
            write_string(what.get(), "product", rhi ? "RHI" : "SCAN");
            write_string(what.get(), "startdate", utc_text(start.tv_sec, "%Y%m%d"));
            write_string(what.get(), "starttime", utc_text(start.tv_sec, "%H%M%S"));
            write_string(what.get(), "enddate", utc_text(stop.tv_sec, "%Y%m%d"));
            write_string(what.get(), "endtime", utc_text(stop.tv_sec, "%H%M%S"));
        }
        {
            Handle where = make_group(group, "where");
            const double fixed = rsweep_get_fixed_angle(sweep) * kDegreesPerRadian;
            write_double(where.get(), rhi ? "az_angle" : "elangle", fixed);
            write_int(where.get(), "nbins", static_cast<int64_t>(range.count));
            // The model places bins by their centres; ODIM by where the first bin begins.
            write_double(where.get(), "rstart", (range.start - range.step / 2) / 1000.0);
            write_double(where.get(), "rscale", range.step);
            write_int(where.get(), "nrays", static_cast<int64_t>(order.slots.size()));
            write_int(where.get(), "a1gate", order.a1gate);
        }
        ingest_header ih{};
        const bool has_header = sweep_ingest_header(sweep, &ih);
        data_convert conv{};
        if (has_header)
            FillDataConvert(&conv, ih.tcf.dsp.iprf, ih.tcf.dsp.itrig_rate, ih.tcf.misc.iwavelength,
                            ih.tcf.misc.ipolarization, 0);
        write_sweep_how(group, sweep, order, rconf, has_header ? &ih : nullptr, index, count);

        for (size_t j = 0; j < moments.size(); ++j) {
            Handle data = make_group(group, "data" + std::to_string(j + 1));
            write_moment(data.get(), sweep, order, rconf, moments[j], range.count,
                         has_header ? &conv : nullptr);
        }
    }

    void write_sweep_how(hid_t group, const radar_sweep *sweep, const RayOrder &order,
                         const radar_ray_conf *rconf, const ingest_header *ih, int index,
                         int count) {
        Handle how = make_group(group, "how");
        const size_t rows = order.slots.size();
        std::vector<double> start_az(rows, NAN), stop_az(rows, NAN), start_el(rows, NAN),
            stop_el(rows, NAN), times(rows, NAN);
        for (size_t row = 0; row < rows; ++row) {
            const radar_ray *ray =
                order.slots[row] >= 0 ? rsweep_get_ray(sweep, order.slots[row]) : nullptr;
            if (ray == nullptr)
                continue;
            const angle_interval az = rray_get_azimuth(ray);
            const angle_interval el = rray_get_elevation(ray);
            start_az[row] = std::fmod(az.start * kDegreesPerRadian + 360.0, 360.0);
            stop_az[row] = std::fmod(az.stop * kDegreesPerRadian + 360.0, 360.0);
            start_el[row] = el.start * kDegreesPerRadian;
            stop_el[row] = el.stop * kDegreesPerRadian;
            timeval t{};
            times[row] = epoch_seconds(*rray_get_time(ray, &t));
        }
        if (rows > 0) {
            write_doubles(how.get(), "startazA", start_az);
            write_doubles(how.get(), "stopazA", stop_az);
            write_doubles(how.get(), "startelA", start_el);
            write_doubles(how.get(), "stopelA", stop_el);
            // The model keeps one time per ray: when the ray was taken.
            write_doubles(how.get(), "startazT", times);
        }
        write_double(how.get(), "NI", rayconf_get_nyquist_vel(rconf));
        const double prf = rayconf_get_prf(rconf);
        write_double(how.get(), "highprf", prf);
        // Dual-PRF modes 1 to 3 run the low PRF at 2/3, 3/4 or 4/5 of the high one.
        const int unfold = ih != nullptr ? ih->tcf.dsp.itrig_rate : 0;
        const double low = unfold >= 1 && unfold <= 3 ? prf * (unfold + 1) / (unfold + 2) : prf;
        write_double(how.get(), "lowprf", low);
        write_int(how.get(), "scan_index", index + 1);
        write_int(how.get(), "scan_count", count);
    }

    void write_moment(hid_t group, const radar_sweep *sweep, const RayOrder &order,
                      const radar_ray_conf *rconf, int slot, uint64_t bins,
                      const data_convert *conv) {
        const radar_moment *moment = rayconf_get_moment(rconf, slot);
        const Encoding e = encoding_of(moment, conv);
        {
            Handle what = make_group(group, "what");
            write_string(what.get(), "quantity", moment_label(moment));
            write_double(what.get(), "gain", e.gain);
            write_double(what.get(), "offset", e.offset);
            write_double(what.get(), "nodata", e.nodata);
            write_double(what.get(), "undetect", e.undetect);
        }
        switch (e.kind) {
            case Encoding::kCodes8:
                write_rows<uint8_t>(group, sweep, order, slot, bins, e, H5T_STD_U8LE,
                                    H5T_NATIVE_UINT8);
                break;
            case Encoding::kCodes16:
                write_rows<uint16_t>(group, sweep, order, slot, bins, e, H5T_STD_U16LE,
                                     H5T_NATIVE_UINT16);
                break;
            case Encoding::kFloats:
                write_rows<float>(group, sweep, order, slot, bins, e, H5T_IEEE_F32LE,
                                  H5T_NATIVE_FLOAT);
                break;
        }
    }

    // One row per ray of order, absent rays and bins beyond a ray's data as nodata.
    template <typename T>
    void write_rows(hid_t group, const radar_sweep *sweep, const RayOrder &order, int slot,
                    uint64_t bins, const Encoding &e, hid_t file_type, hid_t memory_type) {
        const size_t rows = order.slots.size();
        std::vector<T> values(rows * bins, static_cast<T>(e.nodata));
        const RayDataHandle buffer(radar_ray_data_new());
        if (buffer == nullptr)
            throw WriteError("out of memory");
        for (size_t row = 0; row < rows; ++row) {
            const radar_ray *ray =
                order.slots[row] >= 0 ? rsweep_get_ray(sweep, order.slots[row]) : nullptr;
            if (ray != nullptr)
                fill_row(ray, slot, buffer.get(), e, &values[row * bins], bins);
        }
        write_image(group, values.data(), rows, bins, sizeof(T), file_type, memory_type,
                    options_.compression);
    }

    template <typename T>
    static void fill_row(const radar_ray *ray, int slot, radar_ray_data *buffer, const Encoding &e,
                         T *out, uint64_t bins) {
        native_data_desc scale{};
        rmoment_get_scale(rayconf_get_moment(rray_get_config(ray), slot), &scale);
        if (scale.bin_format == BITS_8 || scale.bin_format == BITS_16) {
            if (rray_get_native(ray, slot, buffer) == nullptr)
                throw WriteError("out of memory");
            const uint64_t n = std::min<uint64_t>(bins, buffer->bins);
            for (uint64_t b = 0; b < n; ++b) {
                const unsigned code = scale.bin_format == BITS_8
                                          ? static_cast<const uint8_t *>(buffer->data)[b]
                                          : static_cast<const uint16_t *>(buffer->data)[b];
                if (code == scale.not_scanned ||
                    (code != scale.under_threshold &&
                     (code < scale.min_value || code > scale.max_value))) {
                    // Codes outside the scale (the upper half of a half-scale differential
                    // phase) stand for no value either.
                    out[b] = static_cast<T>(e.nodata);
                } else if (e.kind != Encoding::kFloats) {
                    out[b] = static_cast<T>(code);
                } else if (code == scale.under_threshold) {
                    out[b] = static_cast<T>(e.undetect);
                } else {
                    out[b] = static_cast<T>(
                        fdata_to_user(static_cast<uint16_t>(code), e.orva_code, e.conv));
                }
            }
            return;
        }
        if (rray_get_dat(ray, slot, buffer) == nullptr)
            throw WriteError("out of memory");
        const uint64_t n = std::min<uint64_t>(bins, buffer->bins);
        for (uint64_t b = 0; b < n; ++b) {
            const double v = static_cast<const double *>(buffer->data)[b];
            out[b] = static_cast<T>(std::isnan(v)                                   ? e.nodata
                                    : v == -std::numeric_limits<double>::infinity() ? e.undetect
                                                                                    : v);
        }
    }

    const radar_scan *scan_;
    const pvol_odim_options &options_;
};

void save(const radar_scan *scan, const std::string &path, const pvol_odim_options &options) {
    if (options.compression < 0 || options.compression > 9)
        throw WriteError("compression level " + std::to_string(options.compression) +
                         " is outside 0 to 9");
    write_file(path, [&](hid_t file) { VolumeWriter(scan, options).write(file); });
}

void report(pvol_message_callback message, const std::string &text) {
    if (message != nullptr)
        message((text + "\n").c_str());
}

}  // namespace
}  // namespace odim

extern "C" {

void pvol_odim_options_init(pvol_odim_options *options) {
    if (options == nullptr)
        return;
    options->source = nullptr;
    options->compression = 6;
    options->moments = nullptr;
    options->moment_count = 0;
}

const char *pvol_odim_quantity(int raw_type) {
    if (raw_type < RD_DBT || raw_type > RD_HCLASS)
        return nullptr;
    return odim::kQuantities[raw_type];
}

int pvol_save_odim(const radar_scan *scan, const char *path, const pvol_odim_options *options,
                   pvol_message_callback message) {
    if (scan == nullptr || path == nullptr || *path == '\0') {
        odim::report(message, "pvol_save_odim: no scan or no path");
        return 1;
    }
    pvol_odim_options defaults;
    pvol_odim_options_init(&defaults);
    return pvol_boundary::no_throw(1, message, path, [&] {
        odim::save(scan, path, options != nullptr ? *options : defaults);
        return 0;
    });
}

}  // extern "C"
