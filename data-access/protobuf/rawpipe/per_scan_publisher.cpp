// PerScanPublisher: reading the scan, identifiers, and the configuration envelopes.
#include "per_scan_publisher.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/format.hpp>

#include "filepublisher.h"
#include "pipe_check.h"
#include "pipe_conversions.h"

namespace azm {

namespace {

using DataType = pb::DataDescriptor::DataType;
using DataUnit = pb::DataDescriptor::DataUnit;

struct MomentTypeRow {
    int type;
    const char *name;
    DataType data_type;
};

// Row i describes raw moment type i.
const MomentTypeRow type_desc[MAX_RD] = {
    {RD_ANY, "Null", pb::DataDescriptor::UNKNOWN_TYPE},
    {RD_DBT, "T", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBTV, "TV", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBTE, "TE", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBZ, "Z", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBZV, "ZV", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBZE, "ZE", pb::DataDescriptor::REFLECTIVITY},
    {RD_DBZC, "ZC", pb::DataDescriptor::REFLECTIVITY},
    {RD_SNR, "SNR", pb::DataDescriptor::SIGNAL_TO_NOISE_RATIO},
    {RD_VEL, "V", pb::DataDescriptor::RADIAL_VELOCITY},
    {RD_VELC, "VC", pb::DataDescriptor::RADIAL_VELOCITY},
    {RD_WIDTH, "W", pb::DataDescriptor::SPECTRAL_WIDTH},
    {RD_SQI, "SQI", pb::DataDescriptor::SIGNAL_QUALITY_INDEX},
    {RD_ZDR, "ZDR", pb::DataDescriptor::ZDR},
    {RD_ZDRC, "ZDRC", pb::DataDescriptor::ZDR},
    {RD_RHOHV, "RHOHV", pb::DataDescriptor::CORRELATION},
    {RD_PHIDP, "PHIDP", pb::DataDescriptor::PHI},
    {RD_KDP, "KDP", pb::DataDescriptor::KDP},
    {RD_LDRH, "LDRH", pb::DataDescriptor::LDR},
    {RD_LDRV, "LDRV", pb::DataDescriptor::LDR},
    {RD_RHOH, "RHOH", pb::DataDescriptor::CORRELATION},
    {RD_RHOV, "RHOV", pb::DataDescriptor::CORRELATION},
    {RD_PHIH, "PHIH", pb::DataDescriptor::PHI},
    {RD_PHIV, "PHIV", pb::DataDescriptor::PHI},
    {RD_HCLASS, "HCLASS", pb::DataDescriptor::HYDRO_CLASS},
    {RD_CUSTOM, "CUSTOM", pb::DataDescriptor::CUSTOM_TYPE},
};

const MomentTypeRow &type_row(raw_data_type orva_moment) {
    AZM_CHECK(orva_moment > 0 && orva_moment < MAX_RD);
    const int table_index = orva_moment;
    AZM_CHECK(type_desc[table_index].type == orva_moment);
    return type_desc[table_index];
}

// Equal doubles, with NaN equal to NaN so that a mask or scale always finds itself again.
bool same_value(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// A hash consistent with same_value: -0.0 and every NaN hash alike.
std::size_t value_hash(double v) {
    if (std::isnan(v))
        return 0x7ff8;
    return std::hash<double>{}(v == 0.0 ? 0.0 : v);
}

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace

std::size_t RangeMaskHash::operator()(const dscan &mask) const {
    return combine(combine(value_hash(mask.start), value_hash(mask.step)), mask.count);
}

bool RangeMaskEqual::operator()(const dscan &a, const dscan &b) const {
    return same_value(a.start, b.start) && same_value(a.step, b.step) && a.count == b.count;
}

PublishedScale PublishedScale::of(const native_data_desc &scale, raw_data_type type,
                                  double nyquist) {
    PublishedScale published{scale};
    if (!published.cyclic())
        return published;
    published.cyclic_min = scale.min_value;
    published.cyclic_max = scale.max_value;
    const bool velocity =
        type > 0 && type < MAX_RD &&
        PerScanPublisher::to_data_type(type) == pb::DataDescriptor::RADIAL_VELOCITY;
    if (velocity && std::isfinite(nyquist) && nyquist > 0 && std::isfinite(scale.step) &&
        scale.step != 0) {
        const auto code_of = [&](double value) {
            const double code = std::floor((value - scale.offset) / scale.step + 0.5);
            return static_cast<std::int32_t>(std::clamp(code, static_cast<double>(scale.min_value),
                                                        static_cast<double>(scale.max_value)));
        };
        published.cyclic_min = code_of(-nyquist);
        published.cyclic_max = code_of(nyquist);
    }
    return published;
}

std::size_t DataScaleHash::operator()(const PublishedScale &published) const {
    const native_data_desc &s = published.scale;
    std::size_t h = combine(static_cast<std::size_t>(s.bin_format), s.max_value);
    h = combine(h, s.min_value);
    h = combine(h, value_hash(s.step));
    h = combine(h, value_hash(s.offset));
    h = combine(h, s.under_threshold);
    h = combine(h, s.not_scanned);
    h = combine(h, published.cyclic());
    h = combine(h, static_cast<std::size_t>(published.cyclic_min));
    return combine(h, static_cast<std::size_t>(published.cyclic_max));
}

bool DataScaleEqual::operator()(const PublishedScale &x, const PublishedScale &y) const {
    const native_data_desc &a = x.scale, &b = y.scale;
    return a.bin_format == b.bin_format && a.max_value == b.max_value &&
           a.min_value == b.min_value && same_value(a.step, b.step) &&
           same_value(a.offset, b.offset) && a.under_threshold == b.under_threshold &&
           a.not_scanned == b.not_scanned && x.cyclic() == y.cyclic() &&
           x.cyclic_min == y.cyclic_min && x.cyclic_max == y.cyclic_max;
}

// ---- construction --------------------------------------------------------------------------

PerScanPublisher::PerScanPublisher(Publisher *sink, const std::vector<std::string> &paths,
                                   double delay_multiplier, const boost::uuids::uuid &name_space,
                                   Mode mode)
    : sink_(sink), delay_multiplier_(delay_multiplier), mode_(mode) {
    std::string joined;
    std::vector<const char *> names;
    for (const std::string &path : paths) {
        joined += (joined.empty() ? "" : ",") + path;
        names.push_back(path.c_str());
    }
    default_raw_io *io =
        names.size() == 1 ? default_raw_io_new(names[0])
                          : default_raw_io_new_hybrid(names.data(), static_cast<int>(names.size()));
    if (io != nullptr)
        scan_.reset(pvol_new_from_raw2(io, default_raw_input, error_report, 1));
    default_raw_io_delete(io);
    if (scan_ == nullptr)
        throw std::runtime_error(
            (boost::format("Could not open scan file(s): %1%") % joined).str());
    assign_identifiers(name_space);
}

boost::uuids::uuid IdentifierSource::operator()() {
    if (!seeded_)
        return random_();
    return boost::uuids::name_generator_sha1(seed_)(std::to_string(++drawn_));
}

PerScanPublisher::PerScanPublisher(Publisher *sink, radar_scan *scan, double delay_multiplier,
                                   const boost::uuids::uuid &name_space, Mode mode,
                                   IdentifierSource ids)
    : sink_(sink),
      delay_multiplier_(delay_multiplier),
      mode_(mode),
      scan_(scan),
      generate_id_(std::move(ids)) {
    AZM_CHECK(scan != nullptr);
    assign_identifiers(name_space);
}

void PerScanPublisher::assign_identifiers(const boost::uuids::uuid &name_space) {
    char site[1024] = {};
    const bool has_site = pvol_get_site_name(scan_.get(), site, sizeof site - 1) != nullptr;
    radar_id_ = boost::uuids::name_generator_sha1(name_space)(has_site ? site : "");
    volume_config_id_ = generate_id_();
    volume_id_ = generate_id_();

    for (const radar_sweep_conf *sc = pvol_get_next_sweepconf(scan_.get(), nullptr); sc != nullptr;
         sc = pvol_get_next_sweepconf(scan_.get(), sc))
        sweep_conf_ids_[sc] = generate_id_();

    for (const radar_ray_conf *rc = pvol_get_next_rayconf(scan_.get(), nullptr); rc != nullptr;
         rc = pvol_get_next_rayconf(scan_.get(), rc)) {
        ray_conf_ids_[rc] = generate_id_();
        const int moments = static_cast<int>(rayconf_get_moments_count(rc));
        for (int j = 0; j < moments; ++j) {
            const radar_moment *moment = rayconf_get_moment(rc, j);
            if (moment == nullptr)
                continue;
            if (moment_ids_.count(moment) == 0)
                moment_ids_[moment] = generate_id_();
            dscan range_mask;
            if (rmoment_get_range_mask(moment, &range_mask) != nullptr &&
                range_mask_ids_.count(range_mask) == 0)
                range_mask_ids_[range_mask] = generate_id_();
            native_data_desc scale;
            if (rmoment_get_scale(moment, &scale) != nullptr) {
                const PublishedScale published = PublishedScale::of(
                    scale, static_cast<raw_data_type>(rmoment_get_raw_type(moment)),
                    rayconf_get_nyquist_vel(rc));
                moment_scales_.emplace(moment, published);
                if (data_scale_ids_.count(published) == 0)
                    data_scale_ids_[published] = generate_id_();
            }
        }
    }
}

void PerScanPublisher::set_selected_moment(const std::string &moment) {
    selected_moment_ = moment;
}

void PerScanPublisher::set_threads(unsigned threads) {
    AZM_CHECK(threads > 0);
    threads_ = threads;
}

void PerScanPublisher::send(pb::Payload &payload) {
    AZM_CHECK(queue_ != nullptr);
    queue_->send(payload);
}

// ---- tables --------------------------------------------------------------------------------

DataType PerScanPublisher::to_data_type(raw_data_type orva_moment) {
    return type_row(orva_moment).data_type;
}

std::string PerScanPublisher::to_moment_name(raw_data_type orva_moment) {
    return type_row(orva_moment).name;
}

DataUnit PerScanPublisher::to_unit(DataType type) {
    switch (type) {
        case pb::DataDescriptor::REFLECTIVITY:
            return pb::DataDescriptor::DBZ;
        case pb::DataDescriptor::SIGNAL_TO_NOISE_RATIO:
            return pb::DataDescriptor::RATIO;
        case pb::DataDescriptor::RADIAL_VELOCITY:
        case pb::DataDescriptor::SPECTRAL_WIDTH:
            return pb::DataDescriptor::METERS_PER_SECOND;
        case pb::DataDescriptor::SIGNAL_QUALITY_INDEX:
            return pb::DataDescriptor::SQI;
        case pb::DataDescriptor::ZDR:
        case pb::DataDescriptor::LDR:
            return pb::DataDescriptor::DB;
        case pb::DataDescriptor::CORRELATION:
            return pb::DataDescriptor::CORRELATION_COEFFICIENT;
        case pb::DataDescriptor::PHI:
            return pb::DataDescriptor::DEGREES;
        case pb::DataDescriptor::KDP:
            return pb::DataDescriptor::DEGREES_PER_KILOMETER;
        case pb::DataDescriptor::HYDRO_CLASS:
            return pb::DataDescriptor::HCLASS;
        case pb::DataDescriptor::CUSTOM_TYPE:
            return pb::DataDescriptor::CUSTOM_UNIT;
        default:
            return pb::DataDescriptor::UNKNOWN_UNIT;
    }
}

std::string PerScanPublisher::moment_name(const radar_moment *moment) {
    const char *own = rmoment_get_name(moment);
    if (own != nullptr)
        return own;
    return to_moment_name(static_cast<raw_data_type>(rmoment_get_raw_type(moment)));
}

std::vector<std::string> PerScanPublisher::moment_names(const radar_scan *scan) {
    std::vector<std::string> names;
    for (const radar_ray_conf *rc = pvol_get_next_rayconf(scan, nullptr); rc != nullptr;
         rc = pvol_get_next_rayconf(scan, rc)) {
        const int moments = static_cast<int>(rayconf_get_moments_count(rc));
        for (int j = 0; j < moments; ++j) {
            const radar_moment *moment = rayconf_get_moment(rc, j);
            if (moment == nullptr)
                continue;
            std::string name = moment_name(moment);
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(std::move(name));
        }
    }
    return names;
}

bool PerScanPublisher::moment_selected(const radar_moment *moment) const {
    return selected_moment_ == "all" || moment_name(moment) == selected_moment_;
}

const boost::uuids::uuid &PerScanPublisher::range_mask_id(const radar_moment *moment) const {
    dscan range_mask;
    const dscan *range_mask_ptr = rmoment_get_range_mask(moment, &range_mask);
    AZM_CHECK(range_mask_ptr != nullptr);
    return range_mask_ids_.at(range_mask);
}

const boost::uuids::uuid &PerScanPublisher::data_scale_id(const radar_moment *moment) const {
    const auto scale = moment_scales_.find(moment);
    AZM_CHECK(scale != moment_scales_.end());
    return data_scale_ids_.at(scale->second);
}

// ---- configuration envelopes ---------------------------------------------------------------

void PerScanPublisher::publish_radar_msg(const radar_scan *scan) {
    const rposition *position = pvol_get_position(scan);
    rposition_fixed fixed;
    if (position == nullptr || rposition_get_type(position) != RPOSITION_FIXED ||
        rposition_get_fixed(position, &fixed) == nullptr)
        throw std::runtime_error("Only fixed location radars are supported");

    pb::Payload payload;
    payload.set_type(pb::Payload::RADAR);
    pb::Radar &radar = *payload.mutable_radar();
    set_uuid(*radar.mutable_uuid(), radar_id_);
    radar.mutable_location()->set_latitude(rad2deg(fixed.latitude));
    radar.mutable_location()->set_longitude(rad2deg(fixed.longitude));
    radar.mutable_location()->set_altitude(fixed.altitude);
    radar.set_tower_height(fixed.ground_height);
    char site[1024] = {};
    if (pvol_get_site_name(scan, site, sizeof site - 1) != nullptr)
        radar.set_name(site);
    send(payload);
}

void PerScanPublisher::publish_range_mask(const dscan &range_mask) {
    pb::Payload payload;
    payload.set_type(pb::Payload::RANGE_MASK);
    pb::RangeMask &message = *payload.mutable_range_mask();
    set_uuid(*message.mutable_uuid(), range_mask_ids_.at(range_mask));
    pb::StepScale &range = *message.add_range();
    range.set_count(static_cast<std::int32_t>(range_mask.count));
    range.set_start(range_mask.start);
    range.set_step(range_mask.step);
    send(payload);
}

void PerScanPublisher::publish_data_scale(const PublishedScale &published) {
    const native_data_desc &scale = published.scale;
    pb::Payload payload;
    payload.set_type(pb::Payload::DATA_SCALE);
    pb::DataScale &message = *payload.mutable_data_scale();
    set_uuid(*message.mutable_uuid(), data_scale_ids_.at(published));
    message.set_type(pb::DataScale::LINEAR);
    pb::LinearDataScale &linear = *message.mutable_linear_scale();
    linear.set_under_threshold(scale.under_threshold);
    linear.set_not_scanned(scale.not_scanned);
    linear.set_offset(scale.offset);
    linear.set_step(scale.step);
    linear.set_cyclic(published.cyclic());
    linear.set_max_value(scale.max_value);
    linear.set_min_value(scale.min_value);
    if (published.cyclic()) {
        linear.set_cyclic_min_value(published.cyclic_min);
        linear.set_cyclic_max_value(published.cyclic_max);
    }
    send(payload);
}

void PerScanPublisher::publish_moment_descriptor(const radar_moment *moment) {
    pb::Payload payload;
    payload.set_type(pb::Payload::MOMENT_DESCRIPTOR);
    pb::MomentDescriptor &message = *payload.mutable_moment_descriptor();
    set_uuid(*message.mutable_uuid(), moment_ids_.at(moment));
    pb::DataDescriptor &descriptor = *message.mutable_data_descriptor();
    const DataType type = to_data_type(static_cast<raw_data_type>(rmoment_get_raw_type(moment)));
    descriptor.set_data_type(type);
    descriptor.set_data_unit(to_unit(type));
    descriptor.set_label(moment_name(moment));
    set_uuid(*descriptor.mutable_data_scale_ref(), data_scale_id(moment));
    set_uuid(*message.mutable_range_mask_ref(), range_mask_id(moment));
    send(payload);
}

void PerScanPublisher::publish_ray_config(const radar_ray_conf *ray_conf) {
    pb::Payload payload;
    payload.set_type(pb::Payload::RAY_CONFIG);
    pb::RayConfig &message = *payload.mutable_ray_config();
    set_uuid(*message.mutable_uuid(), ray_conf_ids_.at(ray_conf));
    message.set_unamb_velocity(rayconf_get_nyquist_vel(ray_conf));
    message.set_unamb_range(rayconf_get_unamb_range(ray_conf));
    message.set_pulse_count(static_cast<std::uint32_t>(rayconf_get_pulses_per_ray(ray_conf)));
    const int moments = static_cast<int>(rayconf_get_moments_count(ray_conf));
    for (int j = 0; j < moments; ++j) {
        if (const radar_moment *moment = rayconf_get_moment(ray_conf, j))
            set_uuid(*message.add_moment_descriptor_ref(), moment_ids_.at(moment));
    }
    send(payload);
}

void PerScanPublisher::publish_sweep_config(const radar_sweep_conf *sc) {
    AZM_CHECK(sweepconf_get_rayconf_count(sc) == 1);
    pb::Payload payload;
    payload.set_type(pb::Payload::SWEEP_CONFIG);
    pb::SweepConfig &message = *payload.mutable_sweep_config();
    set_uuid(*message.mutable_uuid(), sweep_conf_ids_.at(sc));
    switch (sweepconf_get_type(sc)) {
        case SWEEP_PPI:
            message.set_type(pb::SweepConfig::PPI_SWEEP);
            break;
        case SWEEP_RHI:
            message.set_type(pb::SweepConfig::RHI_SWEEP);
            break;
        case SWEEP_MANUAL:
            message.set_type(pb::SweepConfig::MANUAL_SWEEP);
            break;
        default:
            break;
    }
    dscan sector{NAN, NAN, 0};
    sweepconf_get_sector(sc, &sector);
    pb::StepScale &out = *message.mutable_sector();
    out.set_count(static_cast<std::int32_t>(sector.count));
    out.set_start(rad2deg(sector.start));
    out.set_step(rad2deg(sector.step));
    set_uuid(*message.add_ray_config_ref(),
             ray_conf_ids_.at(sweepconf_get_next_rayconf(sc, nullptr)));
    send(payload);
}

void PerScanPublisher::publish_volume_config(const radar_scan *scan) {
    publish_radar_msg(scan);
    for (const auto &entry : range_mask_ids_)
        publish_range_mask(entry.first);
    for (const auto &entry : data_scale_ids_)
        publish_data_scale(entry.first);
    for (const auto &entry : moment_ids_)
        publish_moment_descriptor(entry.first);
    for (const auto &entry : ray_conf_ids_)
        publish_ray_config(entry.first);
    for (const auto &entry : sweep_conf_ids_)
        publish_sweep_config(entry.first);

    pb::Payload payload;
    payload.set_type(pb::Payload::VOLUME_CONFIG);
    pb::VolumeConfig &message = *payload.mutable_volume_config();
    set_uuid(*message.mutable_uuid(), volume_config_id_);
    char name[1024] = {};
    if (pvol_get_name(scan, name, sizeof name - 1) != nullptr)
        message.set_name(name);
    for (const radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep)) {
        set_uuid(*message.add_sweep_config_ref(), sweep_conf_ids_.at(rsweep_get_config(sweep)));
        message.add_fixed_angle(rad2deg(rsweep_get_fixed_angle(sweep)));
    }
    send(payload);
}

}  // namespace azm
