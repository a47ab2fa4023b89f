// Publishes one radar scan as envelopes: first the configuration of the volume (radar, range masks,
// data scales, moments, ray and sweep configurations, volume configuration), then the volume with
// its sweeps, rays and moment data.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include "envelope_queue.h"
#include "publisher.h"
#include "pvol/pvol.h"
#include "pvol_handles.h"
#include "wr_raw_data.pb.h"

namespace azm {

// Range masks are equal when start, step and bin count are.
struct RangeMaskHash {
    std::size_t operator()(const dscan &mask) const;
};
struct RangeMaskEqual {
    bool operator()(const dscan &a, const dscan &b) const;
};
// A data scale as published: the library's scale and, for a cyclic quantity, the codes between
// which its values wrap. Velocity folds at plus and minus the Nyquist velocity of its ray
// configuration; another cyclic quantity (differential phase) over its valid codes.
struct PublishedScale {
    native_data_desc scale{};
    std::int32_t cyclic_min = 0;  // 0 unless cyclic
    std::int32_t cyclic_max = 0;

    static PublishedScale of(const native_data_desc &scale, raw_data_type type, double nyquist);
    bool cyclic() const { return scale.cyclic != 0; }
};
// Published scales are equal when every field is, the cyclic flag and bounds included: velocity
// must not share reflectivity's scale, or a reader could not unfold it.
struct DataScaleHash {
    std::size_t operator()(const PublishedScale &scale) const;
};
struct DataScaleEqual {
    bool operator()(const PublishedScale &a, const PublishedScale &b) const;
};

// Where a publisher's identifiers come from: random ones (version 4) by default; or, given a seed
// identifier, the name-based identifiers (version 5) of the decimal numbers 1, 2, 3, ... under the
// seed, so that a publication depends on the seed and the scan alone.
class IdentifierSource {
  public:
    IdentifierSource() = default;
    explicit IdentifierSource(const boost::uuids::uuid &seed) : seed_(seed), seeded_(true) {}
    boost::uuids::uuid operator()();

  private:
    boost::uuids::random_generator_mt19937 random_;
    boost::uuids::uuid seed_{};
    bool seeded_ = false;
    std::uint64_t drawn_ = 0;
};

class PerScanPublisher {
  public:
    // How sweep data go out.
    enum Mode {
        PER_RAY = 0,       // one MomentRayData per ray and moment, rays paced by the delay
        PER_SWEEP = 1,     // one MomentSweepData per sweep and moment, uncompressed
        PER_RAY_ALT = 2,   // as PER_RAY
        PER_SWEEP_LZ4 = 3  // one MomentSweepData per sweep and moment, LZ4-compressed
    };

    // Reads one volume from the RAW product files at `paths` (several paths: the parts of a hybrid
    // volume, in order), 8-bit data widened to 16 bits. The radar identifier is the name-based
    // identifier of the site name under `name_space`. Throws std::runtime_error when the files
    // cannot be read as a scan.
    PerScanPublisher(Publisher *sink, const std::vector<std::string> &paths,
                     double delay_multiplier, const boost::uuids::uuid &name_space, Mode mode);
    // Publishes a scan read or built elsewhere; takes `scan` (non-null) over. Identifiers come
    // from `ids` (random unless seeded).
    PerScanPublisher(Publisher *sink, radar_scan *scan, double delay_multiplier,
                     const boost::uuids::uuid &name_space, Mode mode,
                     IdentifierSource ids = IdentifierSource());
    PerScanPublisher(const PerScanPublisher &) = delete;
    PerScanPublisher &operator=(const PerScanPublisher &) = delete;

    // "all", or the name of the one moment whose sweep data are published.
    void set_selected_moment(const std::string &moment);
    // How many threads compress sweep buffers (1, the default, starts none). The envelopes sent
    // are the same whatever their number.
    void set_threads(unsigned threads);

    // Sends the whole volume to the sink. Throws std::runtime_error for a moving platform and for
    // data that cannot be published; what was sent before stays sent.
    void publish();

    // Moment type table: raw types 1 to 25.
    static pb::DataDescriptor::DataType to_data_type(raw_data_type orva_moment);
    static std::string to_moment_name(raw_data_type orva_moment);
    static pb::DataDescriptor::DataUnit to_unit(pb::DataDescriptor::DataType type);
    // The names the stream gives the moments of `scan` (a moment's own name, or the short name of
    // its type), each once, in the order of the ray configurations and their moments.
    static std::vector<std::string> moment_names(const radar_scan *scan);

    // Rays are published with their position among the rays the sweep holds (empty slots left
    // out) as index, in both forms: the rows of a sweep's data are the rays in that order.

    // +1 when the ray times mostly rise with the index (clockwise in time), else -1. Neighbours
    // with equal times do not vote.
    static int determine_ray_order(const radar_sweep *sweep);
    // Published index of the earliest ray: of rays with equal earliest times the first of their
    // run in `order`; when all rays share one time, the one met last walking against `order`
    // from index 0. -1 for a sweep without rays.
    static int earliest_ray_index(const radar_sweep *sweep, int order);

  private:
    void assign_identifiers(const boost::uuids::uuid &name_space);
    void send(pb::Payload &payload);

    void publish_radar_msg(const radar_scan *scan);
    void publish_volume_config(const radar_scan *scan);
    void publish_sweep_config(const radar_sweep_conf *sweep_conf);
    void publish_ray_config(const radar_ray_conf *ray_conf);
    void publish_moment_descriptor(const radar_moment *moment);
    void publish_data_scale(const PublishedScale &scale);
    void publish_range_mask(const dscan &range_mask);

    void publish_volume();
    void publish_volume_header_msg();
    void publish_volume_end_msg(const timeval &end_time);
    void publish_sweep_header_msg(const boost::uuids::uuid &sweep_id, const radar_sweep *sweep,
                                  int sweep_index);
    void publish_sweep_end_msg(const boost::uuids::uuid &sweep_id, const radar_sweep *sweep);
    void publish_sweep(const radar_sweep *sweep, int sweep_index);
    // The codes of moment `moment_index` of every ray, one row of row_bytes per ray, into codes.
    void fill_sweep_codes(const std::vector<const radar_ray *> &rays, int moment_index,
                          const native_data_desc &scale, std::size_t row_bytes, std::string &codes);
    void publish_sweep_as_rays(const radar_sweep *sweep, int sweep_index);
    void publish_ray(const radar_ray *ray, int ray_index, const boost::uuids::uuid &sweep_id);
    void publish_moment(const radar_moment *moment, const radar_ray_data &data,
                        const boost::uuids::uuid &ray_id);

    // The moment's own name, or the short name of its type.
    static std::string moment_name(const radar_moment *moment);
    bool moment_selected(const radar_moment *moment) const;
    const boost::uuids::uuid &range_mask_id(const radar_moment *moment) const;
    const boost::uuids::uuid &data_scale_id(const radar_moment *moment) const;

    Publisher *sink_;
    double delay_multiplier_;
    Mode mode_;
    unsigned threads_ = 1;
    ScanHandle scan_;
    // Used again for every ray while publishing.
    RayDataHandle ray_data_;
    std::unique_ptr<EnvelopeQueue> queue_;
    IdentifierSource generate_id_;
    boost::uuids::uuid radar_id_{};
    boost::uuids::uuid volume_config_id_{};
    boost::uuids::uuid volume_id_{};
    timeval volume_start_time_{};
    std::string selected_moment_ = "all";
    std::map<const radar_sweep_conf *, boost::uuids::uuid> sweep_conf_ids_;
    std::map<const radar_ray_conf *, boost::uuids::uuid> ray_conf_ids_;
    std::map<const radar_moment *, boost::uuids::uuid> moment_ids_;
    std::map<const radar_moment *, PublishedScale> moment_scales_;
    std::unordered_map<dscan, boost::uuids::uuid, RangeMaskHash, RangeMaskEqual> range_mask_ids_{
        10};
    std::unordered_map<PublishedScale, boost::uuids::uuid, DataScaleHash, DataScaleEqual>
        data_scale_ids_{10};
};

}  // namespace azm
