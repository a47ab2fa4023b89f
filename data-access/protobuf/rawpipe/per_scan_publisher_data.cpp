// PerScanPublisher: the volume, its sweeps, rays and moment data.
#include <unistd.h>

#include <lz4.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "per_scan_publisher.h"
#include "pipe_check.h"
#include "pipe_conversions.h"

namespace azm {

namespace {

static_assert(std::endian::native == std::endian::little,
              "16-bit codes are published in the byte order of the machine, which must be little");

RayDataHandle new_ray_data() {
    RayDataHandle data(radar_ray_data_new());
    if (!data)
        throw std::bad_alloc();
    return data;
}

bool earlier(const timeval &a, const timeval &b) {
    const timeval x = normalized(a), y = normalized(b);
    return x.tv_sec < y.tv_sec || (x.tv_sec == y.tv_sec && x.tv_usec < y.tv_usec);
}

timeval ray_time(const radar_ray *ray) {
    timeval time{};
    rray_get_time(ray, &time);
    return time;
}

// Bytes of one code of an 8- or 16-bit format.
std::size_t code_width(int bin_format) {
    if (bin_format == BITS_8)
        return 1;
    if (bin_format == BITS_16)
        return 2;
    throw std::runtime_error("Unhandled data format (not 8- or 16-bit int)");
}

void set_angles(pb::AngInterval &out, const angle_interval &angles) {
    out.set_start(rad2deg(angles.start));
    out.set_between(rad2deg(angles.between));
    out.set_stop(rad2deg(angles.stop));
}

// The rays a sweep holds, in slot order, empty slots left out. A ray's position in this list is
// its published index, so that the rows of the sweep data and the ray headers agree.
std::vector<const radar_ray *> rays_of(const radar_sweep *sweep) {
    std::vector<const radar_ray *> rays;
    const int count = static_cast<int>(rsweep_get_ray_count(sweep));
    for (int i = 0; i < count; ++i) {
        if (const radar_ray *ray = rsweep_get_ray(sweep, i))
            rays.push_back(ray);
    }
    return rays;
}

// Next index around a sweep of count rays in the given direction.
int step_around(int index, int direction, int count) {
    index += direction;
    if (index < 0)
        return count - 1;
    if (index >= count)
        return 0;
    return index;
}

}  // namespace

// ---- ray order -----------------------------------------------------------------------------

int PerScanPublisher::determine_ray_order(const radar_sweep *sweep) {
    const auto rays = rays_of(sweep);
    int vote = 0;
    for (std::size_t i = 1; i < rays.size(); ++i) {
        // Ray times have whole seconds, so neighbours often share one: such a pair says nothing
        // about the direction.
        const timeval before = ray_time(rays[i - 1]), after = ray_time(rays[i]);
        if (earlier(before, after))
            ++vote;
        else if (earlier(after, before))
            --vote;
    }
    return vote > 0 ? 1 : -1;
}

int PerScanPublisher::earliest_ray_index(const radar_sweep *sweep, int order) {
    const auto rays = rays_of(sweep);
    const int count = static_cast<int>(rays.size());
    const auto time_of = [&](int index) { return ray_time(rays[static_cast<std::size_t>(index)]); };
    int result = -1;
    timeval best{};
    int index = 0;
    for (int visited = 0; visited < count; ++visited) {
        const timeval time = time_of(index);
        if (result < 0 || !earlier(best, time)) {
            best = time;
            result = index;
        }
        index = step_around(index, -order, count);
    }
    // Several rays share the earliest second: the sweep starts with the first of their run in
    // the ray order, the one whose predecessor is later. Only when every ray shares it does the
    // ray met last stand.
    const auto is_best = [&](int i) {
        const timeval time = time_of(i);
        return !earlier(best, time) && !earlier(time, best);
    };
    index = 0;
    for (int visited = 0; visited < count; ++visited) {
        if (is_best(index) && !is_best(step_around(index, -order, count)))
            return index;
        index = step_around(index, -order, count);
    }
    return result;
}

// ---- the volume ----------------------------------------------------------------------------

void PerScanPublisher::publish() {
    if (scan_ == nullptr)
        return;
    ray_data_ = new_ray_data();
    queue_ = std::make_unique<EnvelopeQueue>(sink_, threads_);
    try {
        publish_volume();
        queue_->flush();
    } catch (const std::runtime_error &) {
        // What was published before the failure is sent before the failure is reported.
        queue_->flush();
        throw;
    }
    queue_.reset();
}

void PerScanPublisher::publish_volume() {
    pvol_get_time_stamp(scan_.get(), &volume_start_time_);
    publish_volume_config(scan_.get());
    publish_volume_header_msg();

    timeval end_time = volume_start_time_;
    int sweep_index = 0;
    for (const radar_sweep *sweep = pvol_get_next_sweep(scan_.get(), nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan_.get(), sweep), ++sweep_index) {
        timeval stop{};
        rsweep_get_stoptime(sweep, &stop);
        if (earlier(end_time, stop))
            end_time = stop;
        switch (mode_) {
            case PER_RAY:
            case PER_RAY_ALT:
                publish_sweep_as_rays(sweep, sweep_index);
                break;
            case PER_SWEEP:
            case PER_SWEEP_LZ4:
                publish_sweep(sweep, sweep_index);
                break;
        }
    }
    publish_volume_end_msg(end_time);
}

void PerScanPublisher::publish_volume_header_msg() {
    pb::Payload payload;
    payload.set_type(pb::Payload::VOLUME_HEADER);
    pb::VolumeHeader &message = *payload.mutable_volume_header();
    set_uuid(*message.mutable_uuid(), volume_id_);
    set_uuid(*message.mutable_volume_config_ref(), volume_config_id_);
    set_uuid(*message.mutable_radar_ref(), radar_id_);
    set_timeval(*message.mutable_start_time(), volume_start_time_);
    send(payload);
}

void PerScanPublisher::publish_volume_end_msg(const timeval &end_time) {
    pb::Payload payload;
    payload.set_type(pb::Payload::VOLUME_END);
    pb::VolumeEnd &message = *payload.mutable_volume_end();
    set_uuid(*message.mutable_uuid(), volume_id_);
    set_timeval(*message.mutable_end_time(), end_time);
    send(payload);
}

// ---- sweeps --------------------------------------------------------------------------------

void PerScanPublisher::publish_sweep_header_msg(const boost::uuids::uuid &sweep_id,
                                                const radar_sweep *sweep, int sweep_index) {
    pb::Payload payload;
    payload.set_type(pb::Payload::SWEEP_HEADER);
    pb::SweepHeader &message = *payload.mutable_sweep_header();
    set_uuid(*message.mutable_uuid(), sweep_id);
    set_uuid(*message.mutable_volume_ref(), volume_config_id_);
    set_uuid(*message.mutable_sweep_config_ref(), sweep_conf_ids_.at(rsweep_get_config(sweep)));
    timeval start{};
    rsweep_get_starttime(sweep, &start);
    set_timeval(*message.mutable_start_time(), start);
    message.set_index(sweep_index);
    send(payload);
}

void PerScanPublisher::publish_sweep_end_msg(const boost::uuids::uuid &sweep_id,
                                             const radar_sweep *sweep) {
    pb::Payload payload;
    payload.set_type(pb::Payload::SWEEP_END);
    pb::SweepEnd &message = *payload.mutable_sweep_end();
    set_uuid(*message.mutable_uuid(), sweep_id);
    timeval stop{};
    rsweep_get_stoptime(sweep, &stop);
    set_timeval(*message.mutable_end_time(), stop);
    send(payload);
}

void PerScanPublisher::publish_sweep(const radar_sweep *sweep, int sweep_index) {
    const boost::uuids::uuid sweep_id = generate_id_();
    publish_sweep_header_msg(sweep_id, sweep, sweep_index);
    const boost::uuids::name_generator_sha1 ray_id_of(sweep_id);

    // Every ray of a sweep shares one ray configuration; a sweep without rays has the single
    // one of its sweep configuration.
    const auto rays = rays_of(sweep);
    const radar_ray_conf *sweep_rconf = nullptr;
    pb::Payload payload;
    payload.set_type(pb::Payload::RAY_HEADER);
    pb::RayHeader &header = *payload.mutable_ray_header();
    for (std::size_t index = 0; index < rays.size(); ++index) {
        const radar_ray *ray = rays[index];
        const radar_ray_conf *rconf = rray_get_config(ray);
        if (sweep_rconf == nullptr)
            sweep_rconf = rconf;
        AZM_CHECK(sweep_rconf == rconf);

        header.set_index(static_cast<std::int32_t>(index));
        set_angles(*header.mutable_az_range(), rray_get_azimuth(ray));
        set_angles(*header.mutable_el_range(), rray_get_elevation(ray));
        set_timeval(*header.mutable_start_time(), ray_time(ray));
        send(payload);
    }
    if (sweep_rconf == nullptr) {
        const radar_sweep_conf *sc = rsweep_get_config(sweep);
        AZM_CHECK(sweepconf_get_rayconf_count(sc) == 1);
        sweep_rconf = sweepconf_get_next_rayconf(sc, nullptr);
    }

    const int moments = static_cast<int>(rayconf_get_moments_count(sweep_rconf));
    for (int j = 0; j < moments; ++j) {
        const radar_moment *moment = rayconf_get_moment(sweep_rconf, j);
        if (moment == nullptr || !moment_selected(moment))
            continue;
        dscan range_mask;
        const dscan *range_mask_ptr = rmoment_get_range_mask(moment, &range_mask);
        AZM_CHECK(range_mask_ptr != nullptr);
        native_data_desc scale;
        const native_data_desc *scale_ptr = rmoment_get_scale(moment, &scale);
        AZM_CHECK(scale_ptr != nullptr);
        const std::size_t width = code_width(scale.bin_format);
        const std::uint64_t bins = range_mask.count;
        if (bins > static_cast<std::uint64_t>(LZ4_MAX_INPUT_SIZE) / width /
                       std::max<std::size_t>(rays.size(), 1))
            throw std::runtime_error("Sweep data too large for one data buffer");

        // The envelope and its buffer come with the storage of an earlier sweep's.
        std::unique_ptr<EnvelopeQueue::Envelope> envelope = queue_->take();
        const std::size_t row_bytes = static_cast<std::size_t>(bins) * width;
        fill_sweep_codes(rays, j, scale, row_bytes, envelope->codes);

        pb::Payload &payload = envelope->payload;
        payload.set_type(pb::Payload::MOMENT_SWEEP_DATA);
        pb::MomentSweepData &message = *payload.mutable_moment_sweep_data();
        set_uuid(*message.mutable_moment_descriptor_ref(), moment_ids_.at(moment));
        pb::DataBuffer &buffer = *message.mutable_data();
        buffer.set_type(width == 1 ? pb::DataBuffer::UINT8 : pb::DataBuffer::UINT16);
        buffer.set_endian(pb::DataBuffer::LITTLE);
        buffer.set_uncompressed_size(static_cast<std::int32_t>(envelope->codes.size()));
        if (mode_ == PER_SWEEP_LZ4) {
            buffer.set_compression(pb::DataBuffer::LZ4);
            envelope->compress = true;
        } else {
            buffer.mutable_data()->swap(envelope->codes);
            buffer.set_compression(pb::DataBuffer::NONE);
        }
        queue_->push(std::move(envelope));
    }

    // One envelope of each kind serves every ray, its fields overwritten.
    pb::Payload ray_end;
    ray_end.set_type(pb::Payload::RAY_END);
    for (std::size_t index = 0; index < rays.size(); ++index) {
        set_uuid(*ray_end.mutable_ray_end()->mutable_uuid(), ray_id_of(std::to_string(index)));
        send(ray_end);
    }
}

void PerScanPublisher::fill_sweep_codes(const std::vector<const radar_ray *> &rays,
                                        int moment_index, const native_data_desc &scale,
                                        std::size_t row_bytes, std::string &codes) {
    // One row of codes per ray. Codes a ray lacks (no data for the moment, or fewer bins than
    // the range mask) read as not scanned; only they are filled.
    const std::size_t width = code_width(scale.bin_format);
    codes.resize(rays.size() * row_bytes);
    for (std::size_t r = 0; r < rays.size(); ++r) {
        char *row = codes.data() + r * row_bytes;
        std::size_t held = 0;
        if (rray_get_native(rays[r], moment_index, ray_data_.get()) != nullptr &&
            ray_data_->type == scale.bin_format) {
            held =
                std::min<std::size_t>(static_cast<std::size_t>(ray_data_->bins) * width, row_bytes);
            std::memcpy(row, ray_data_->data, held);
        }
        for (std::size_t k = held; k < row_bytes; k += width)
            std::memcpy(row + k, &scale.not_scanned, width);  // low byte first
    }
}

void PerScanPublisher::publish_sweep_as_rays(const radar_sweep *sweep, int sweep_index) {
    const int order = determine_ray_order(sweep);
    const int first = earliest_ray_index(sweep, order);
    const boost::uuids::uuid sweep_id = generate_id_();
    publish_sweep_header_msg(sweep_id, sweep, sweep_index);

    const auto rays = rays_of(sweep);
    const int count = static_cast<int>(rays.size());
    if (first >= 0) {
        // Paced as the rays arrived, as if the sweep lasted between 1 and 1000 seconds.
        timeval start{}, stop{};
        rsweep_get_starttime(sweep, &start);
        rsweep_get_stoptime(sweep, &stop);
        const double duration = std::clamp(static_cast<double>(stop.tv_sec - start.tv_sec) * 1e6 +
                                               static_cast<double>(stop.tv_usec - start.tv_usec),
                                           1e6, 1e9);
        const double interval = duration / count;
        int index = first;
        do {
            publish_ray(rays[static_cast<std::size_t>(index)], index, sweep_id);
            if (delay_multiplier_ > 0)
                usleep(static_cast<useconds_t>(delay_multiplier_ * interval));
            index = step_around(index, order, count);
        } while (index != first);
    }
    publish_sweep_end_msg(sweep_id, sweep);
}

// ---- rays ----------------------------------------------------------------------------------

void PerScanPublisher::publish_ray(const radar_ray *ray, int ray_index,
                                   const boost::uuids::uuid &sweep_id) {
    const boost::uuids::uuid ray_id =
        boost::uuids::name_generator_sha1(sweep_id)(std::to_string(ray_index));
    const radar_ray_conf *rconf = rray_get_config(ray);
    const timeval time = ray_time(ray);

    pb::Payload header;
    header.set_type(pb::Payload::RAY_HEADER);
    pb::RayHeader &message = *header.mutable_ray_header();
    set_uuid(*message.mutable_uuid(), ray_id);
    set_uuid(*message.mutable_sweep_ref(), sweep_id);
    set_uuid(*message.mutable_ray_config_ref(), ray_conf_ids_.at(rconf));
    message.set_index(ray_index);
    set_angles(*message.mutable_az_range(), rray_get_azimuth(ray));
    set_angles(*message.mutable_el_range(), rray_get_elevation(ray));
    set_timeval(*message.mutable_start_time(), time);
    send(header);

    const int moments = static_cast<int>(rayconf_get_moments_count(rconf));
    for (int j = 0; j < moments; ++j) {
        const radar_moment *moment = rayconf_get_moment(rconf, j);
        if (moment != nullptr && rray_get_native(ray, j, ray_data_.get()) != nullptr)
            publish_moment(moment, *ray_data_, ray_id);
    }

    pb::Payload end;
    end.set_type(pb::Payload::RAY_END);
    set_uuid(*end.mutable_ray_end()->mutable_uuid(), ray_id);
    set_timeval(*end.mutable_ray_end()->mutable_end_time(), time);
    send(end);
}

void PerScanPublisher::publish_moment(const radar_moment *moment, const radar_ray_data &data,
                                      const boost::uuids::uuid &ray_id) {
    const std::size_t width = code_width(data.type);
    pb::Payload payload;
    payload.set_type(pb::Payload::MOMENT_RAY_DATA);
    pb::MomentRayData &message = *payload.mutable_moment_ray_data();
    set_uuid(*message.mutable_ray_ref(), ray_id);
    set_uuid(*message.mutable_moment_descriptor_ref(), moment_ids_.at(moment));
    pb::DataBuffer &buffer = *message.mutable_data();
    buffer.set_type(width == 1 ? pb::DataBuffer::UINT8 : pb::DataBuffer::UINT16);
    buffer.set_endian(pb::DataBuffer::LITTLE);
    buffer.set_compression(pb::DataBuffer::NONE);
    buffer.set_uncompressed_size(static_cast<std::int32_t>(data.bins));
    buffer.set_data(static_cast<const char *>(data.data),
                    static_cast<std::size_t>(data.bins) * width);
    send(payload);
}

}  // namespace azm
