// Whole volumes read from generated RAW files and published: the order of the stream, its
// identifiers and references, the configuration it describes and the codes it carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/reflection.h>

#include "filepublisher.h"
#include "per_scan_publisher.h"
#include "stream_support.h"

namespace {

using namespace stream;
using azm::PerScanPublisher;
using P = pb::Payload;
using rawfile::kDbz8;
using rawfile::kVel16;
using rawfile::kZdr16;

std::pair<int64_t, int64_t> key(const pb::UUID &id) {
    return {id.least_significant_bits(), id.most_significant_bits()};
}

// Every field named "*_ref" of `message`, at any depth, must be in `seen`; every "uuid" is added
// to `sent`.
void walk_ids(const google::protobuf::Message &message,
              const std::set<std::pair<int64_t, int64_t>> &seen,
              std::set<std::pair<int64_t, int64_t>> &sent, const std::string &where) {
    using google::protobuf::FieldDescriptor;
    const auto *reflection = message.GetReflection();
    std::vector<const FieldDescriptor *> fields;
    reflection->ListFields(message, &fields);
    for (const FieldDescriptor *field : fields) {
        if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE)
            continue;
        const int n = field->is_repeated() ? reflection->FieldSize(message, field) : 1;
        for (int i = 0; i < n; ++i) {
            const auto &child = field->is_repeated()
                                    ? reflection->GetRepeatedMessage(message, field, i)
                                    : reflection->GetMessage(message, field);
            const std::string &name = field->name();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, "_ref") == 0)
                EXPECT_TRUE(seen.count(key(static_cast<const pb::UUID &>(child))))
                    << where << "." << name << " refers to nothing sent before";
            else if (name == "uuid")
                sent.insert(key(static_cast<const pb::UUID &>(child)));
            else
                walk_ids(child, seen, sent, where + "." + name);
        }
    }
}

void expect_references_resolve(const pb::PayloadList &list) {
    std::set<std::pair<int64_t, int64_t>> seen;
    for (int i = 0; i < list.payload_size(); ++i) {
        std::set<std::pair<int64_t, int64_t>> sent;
        walk_ids(list.payload(i), seen, sent, "payload " + std::to_string(i));
        seen.insert(sent.begin(), sent.end());
    }
}

const pb::Payload &first_of(const pb::PayloadList &list, P::PayloadType type, int skip = 0) {
    for (const pb::Payload &p : list.payload())
        if (p.type() == type && skip-- == 0)
            return p;
    ADD_FAILURE() << "no payload of type " << type;
    return pb::Payload::default_instance();
}

double degrees_of_bin2(int code) {
    return code * 360.0 / 65536.0;
}

// Two sweeps of 12 rays, dBZ in 8 bits (widened when read), velocity and ZDR in 16 bits.
class PublishedVolume : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        file_ = new RawFile(volume(2, {{kDbz8, 8}, {kVel16, 16}, {kZdr16, 16}}));
        dir_ = new TempDir;
        path_ = dir_->write("volume.raw", file_->bytes());
        DataListPublisher sink;
        azm::FilePublisher publisher(&sink, path_);
        publisher.publish_scan({path_});
        list_ = new pb::PayloadList(round_trip(sink.get()));
    }
    static void TearDownTestSuite() {
        delete list_;
        delete dir_;
        delete file_;
    }
    static inline RawFile *file_;
    static inline TempDir *dir_;
    static inline std::string path_;
    static inline pb::PayloadList *list_;
};

TEST_F(PublishedVolume, EnvelopesComeInGroupOrder) {
    // One range mask and one data scale: the three 16-bit scales differ only in the cyclic flag.
    std::vector<P::PayloadType> expected = {P::RADAR, P::RANGE_MASK, P::DATA_SCALE};
    expected.insert(expected.end(), 3, P::MOMENT_DESCRIPTOR);
    expected.insert(expected.end(),
                    {P::RAY_CONFIG, P::SWEEP_CONFIG, P::VOLUME_CONFIG, P::VOLUME_HEADER});
    for (int s = 0; s < 2; ++s) {
        expected.push_back(P::SWEEP_HEADER);
        expected.insert(expected.end(), 12, P::RAY_HEADER);
        expected.insert(expected.end(), 3, P::MOMENT_SWEEP_DATA);
        expected.insert(expected.end(), 12, P::RAY_END);
    }
    expected.push_back(P::VOLUME_END);
    EXPECT_EQ(types_of(*list_), expected);
    expect_references_resolve(*list_);
}

TEST_F(PublishedVolume, IdentifiersHaveTheirVersions) {
    EXPECT_EQ(uuid_of(first_of(*list_, P::RADAR).radar().uuid()).version(),
              boost::uuids::uuid::version_name_based_sha1);
    std::set<std::pair<int64_t, int64_t>> random_ids;
    for (const pb::Payload &p : list_->payload()) {
        const google::protobuf::Message *m = nullptr;
        switch (p.type()) {
            case P::RANGE_MASK:
                m = &p.range_mask().uuid();
                break;
            case P::DATA_SCALE:
                m = &p.data_scale().uuid();
                break;
            case P::MOMENT_DESCRIPTOR:
                m = &p.moment_descriptor().uuid();
                break;
            case P::RAY_CONFIG:
                m = &p.ray_config().uuid();
                break;
            case P::SWEEP_CONFIG:
                m = &p.sweep_config().uuid();
                break;
            case P::VOLUME_CONFIG:
                m = &p.volume_config().uuid();
                break;
            case P::VOLUME_HEADER:
                m = &p.volume_header().uuid();
                break;
            case P::SWEEP_HEADER:
                m = &p.sweep_header().uuid();
                break;
            default:
                continue;
        }
        const auto &id = static_cast<const pb::UUID &>(*m);
        EXPECT_EQ(uuid_of(id).version(), boost::uuids::uuid::version_random_number_based);
        EXPECT_TRUE(random_ids.insert(key(id)).second) << "identifier drawn twice";
    }
    EXPECT_EQ(random_ids.size(), 1u + 1 + 3 + 1 + 1 + 1 + 1 + 2);

    // Ray identifiers: name-based on the decimal index under their sweep's identifier.
    const pb::UUID *sweep = nullptr;
    int ray = 0;
    for (const pb::Payload &p : list_->payload()) {
        if (p.type() == P::SWEEP_HEADER) {
            sweep = &p.sweep_header().uuid();
            ray = 0;
        } else if (p.type() == P::RAY_END) {
            ASSERT_NE(sweep, nullptr);
            EXPECT_EQ(uuid_of(p.ray_end().uuid()), ray_id(*sweep, ray++));
            EXPECT_FALSE(p.ray_end().has_end_time());
        }
    }
    EXPECT_NE(first_of(*list_, P::RAY_END, 5).ray_end().uuid().SerializeAsString(),
              first_of(*list_, P::RAY_END, 12 + 5).ray_end().uuid().SerializeAsString());
}

TEST_F(PublishedVolume, ConfigurationDescribesRadarMomentsAndSweeps) {
    const pb::Radar &radar = first_of(*list_, P::RADAR).radar();
    EXPECT_NEAR(radar.location().latitude(), 40.0, 1e-6);
    EXPECT_NEAR(radar.location().longitude(), 16.0, 1e-6);
    EXPECT_DOUBLE_EQ(radar.location().altitude(), 123.0);
    EXPECT_DOUBLE_EQ(radar.tower_height(), 100.0);
    EXPECT_EQ(radar.name(), "TESTSITE");

    const pb::RangeMask &mask = first_of(*list_, P::RANGE_MASK).range_mask();
    ASSERT_EQ(mask.range_size(), 1);
    EXPECT_EQ(mask.range(0).count(), 20);
    EXPECT_DOUBLE_EQ(mask.range(0).step(), 500.0);  // metres, as the library holds them

    struct Described {
        pb::DataDescriptor::DataType type;
        pb::DataDescriptor::DataUnit unit;
        pb::LinearDataScale scale;
    };
    std::map<std::string, pb::LinearDataScale> scales_by_id;
    std::map<std::string, Described> by_label;
    std::vector<std::string> descriptor_ids;
    for (const pb::Payload &p : list_->payload()) {
        if (p.type() == P::DATA_SCALE) {
            EXPECT_EQ(p.data_scale().type(), pb::DataScale::LINEAR);
            scales_by_id[p.data_scale().uuid().SerializeAsString()] = p.data_scale().linear_scale();
        } else if (p.type() == P::MOMENT_DESCRIPTOR) {
            const pb::DataDescriptor &d = p.moment_descriptor().data_descriptor();
            EXPECT_EQ(p.moment_descriptor().range_mask_ref().SerializeAsString(),
                      mask.uuid().SerializeAsString());
            by_label[d.label()] = {d.data_type(), d.data_unit(),
                                   scales_by_id.at(d.data_scale_ref().SerializeAsString())};
            descriptor_ids.push_back(p.moment_descriptor().uuid().SerializeAsString());
        }
    }
    ASSERT_EQ(by_label.size(), 3u);
    EXPECT_EQ(by_label["Z"].type, pb::DataDescriptor::REFLECTIVITY);
    EXPECT_EQ(by_label["Z"].unit, pb::DataDescriptor::DBZ);
    EXPECT_EQ(by_label["V"].type, pb::DataDescriptor::RADIAL_VELOCITY);
    EXPECT_EQ(by_label["V"].unit, pb::DataDescriptor::METERS_PER_SECOND);
    EXPECT_EQ(by_label["ZDR"].type, pb::DataDescriptor::ZDR);
    EXPECT_EQ(by_label["ZDR"].unit, pb::DataDescriptor::DB);
    // The 8-bit reflectivity was widened: its scale is the 16-bit one.
    EXPECT_GT(by_label["Z"].scale.max_value(), 255);

    const pb::RayConfig &rays = first_of(*list_, P::RAY_CONFIG).ray_config();
    EXPECT_NEAR(rays.unamb_velocity(), 1000 * 0.0533 / 4, 1e-9);
    ASSERT_EQ(rays.moment_descriptor_ref_size(), 3);

    const pb::SweepConfig &sweep = first_of(*list_, P::SWEEP_CONFIG).sweep_config();
    EXPECT_EQ(sweep.type(), pb::SweepConfig::PPI_SWEEP);
    EXPECT_EQ(sweep.sector().count(), 12);
    EXPECT_NEAR(sweep.sector().step(), 30.0, 1e-9);
    EXPECT_EQ(sweep.ray_config_ref(0).SerializeAsString(), rays.uuid().SerializeAsString());

    const pb::VolumeConfig &config = first_of(*list_, P::VOLUME_CONFIG).volume_config();
    EXPECT_EQ(config.name(), "VOL");
    ASSERT_EQ(config.fixed_angle_size(), 2);
    EXPECT_NEAR(config.fixed_angle(0), degrees_of_bin2(0x100), 1e-9);
    EXPECT_NEAR(config.fixed_angle(1), degrees_of_bin2(0x200), 1e-9);
    // One sweep configuration, listed once per sweep.
    ASSERT_EQ(config.sweep_config_ref_size(), 2);
    EXPECT_EQ(config.sweep_config_ref(1).SerializeAsString(), sweep.uuid().SerializeAsString());
}

TEST_F(PublishedVolume, SweepsCarryTimesAnglesAndEveryCode) {
    const pb::VolumeConfig &config = first_of(*list_, P::VOLUME_CONFIG).volume_config();
    const rawfile::Time start;
    EXPECT_EQ(first_of(*list_, P::VOLUME_HEADER).volume_header().start_time().esec(),
              start.posix());
    // The last ray of the last sweep ends the volume.
    EXPECT_EQ(first_of(*list_, P::VOLUME_END).volume_end().end_time().esec(),
              file_->sweeps[1].time.posix() + 11);

    std::map<std::string, std::string> label_of;  // descriptor identifier to label
    std::map<std::string, pb::LinearDataScale> scale_of;
    for (const pb::Payload &p : list_->payload())
        if (p.type() == P::DATA_SCALE)
            scale_of[p.data_scale().uuid().SerializeAsString()] = p.data_scale().linear_scale();
    std::map<std::string, pb::LinearDataScale> scale_of_label;
    for (const pb::Payload &p : list_->payload()) {
        if (p.type() != P::MOMENT_DESCRIPTOR)
            continue;
        const auto &d = p.moment_descriptor().data_descriptor();
        label_of[p.moment_descriptor().uuid().SerializeAsString()] = d.label();
        scale_of_label[d.label()] = scale_of[d.data_scale_ref().SerializeAsString()];
    }

    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        const rawfile::Sweep &built = file_->sweeps[static_cast<size_t>(s)];
        const pb::SweepHeader &header = first_of(*list_, P::SWEEP_HEADER, s).sweep_header();
        EXPECT_EQ(header.index(), s);
        EXPECT_EQ(header.volume_ref().SerializeAsString(), config.uuid().SerializeAsString());
        EXPECT_EQ(header.start_time().esec(), built.time.posix());
        for (int r = 0; r < 12; ++r) {
            const pb::RayHeader &ray = first_of(*list_, P::RAY_HEADER, 12 * s + r).ray_header();
            EXPECT_EQ(ray.index(), r);
            EXPECT_FALSE(ray.has_uuid() || ray.has_sweep_ref() || ray.has_ray_config_ref());
            const rawfile::Ray &built_ray = *built.moments[0].rays[static_cast<size_t>(r)];
            EXPECT_NEAR(ray.az_range().start(), degrees_of_bin2(built_ray.az_start), 1e-9);
            EXPECT_NEAR(ray.az_range().stop(), degrees_of_bin2(built_ray.az_end), 1e-9);
            EXPECT_NEAR(ray.az_range().between(), ray.az_range().start() + 15, 0.01);
            EXPECT_NEAR(ray.el_range().start(), degrees_of_bin2(0x100 * (s + 1)), 1e-9);
            EXPECT_EQ(ray.start_time().esec(), built.time.posix() + r);
        }
        for (int m = 0; m < 3; ++m) {
            const pb::MomentSweepData &data =
                first_of(*list_, P::MOMENT_SWEEP_DATA, 3 * s + m).moment_sweep_data();
            EXPECT_FALSE(data.has_sweep_ref());
            const std::string label = label_of.at(data.moment_descriptor_ref().SerializeAsString());
            EXPECT_EQ(label, (std::vector<std::string>{"Z", "V", "ZDR"})[m]);
            EXPECT_EQ(data.data().compression(), pb::DataBuffer::LZ4);
            EXPECT_EQ(data.data().type(), pb::DataBuffer::UINT16);
            EXPECT_EQ(data.data().endian(), pb::DataBuffer::LITTLE);
            EXPECT_EQ(data.data().uncompressed_size(), 12 * 20 * 2);
            const std::vector<int> codes = codes_of(data.data());
            ASSERT_EQ(codes.size(), 12u * 20);
            const pb::LinearDataScale &scale = scale_of_label[label];
            for (int r = 0; r < 12; ++r) {
                for (int k = 0; k < 20; ++k) {
                    const int built_code = built.moments[static_cast<size_t>(m)]
                                               .rays[static_cast<size_t>(r)]
                                               ->bins[static_cast<size_t>(k)];
                    const int code = codes[static_cast<size_t>(20 * r + k)];
                    if (m == 0)  // widened: the same reflectivity, half-dB steps from -32 dBZ
                        ASSERT_NEAR(scale.offset() + code * scale.step(), (built_code - 64) / 2.0,
                                    1e-6);
                    else
                        ASSERT_EQ(code, built_code) << "ray " << r << " bin " << k;
                }
            }
        }
    }
}

TEST(FilePublisherIdentifiers, RadarIsStablePerSiteEverythingElseIsNew) {
    TempDir dir;
    const std::string path = dir.write("v.raw", volume(1, {{kZdr16, 16}}).bytes());
    DataListPublisher sink;
    azm::FilePublisher publisher(&sink, std::vector<std::string>{path});
    publisher.publish_scan({path});
    publisher.publish_scan({path});
    const pb::PayloadList &list = sink.get();
    ASSERT_EQ(count_of(list, P::VOLUME_HEADER), 2);
    auto id = [&](P::PayloadType type, int skip) {
        const pb::Payload &p = first_of(list, type, skip);
        switch (type) {
            case P::RADAR:
                return p.radar().uuid().SerializeAsString();
            case P::VOLUME_HEADER:
                return p.volume_header().uuid().SerializeAsString();
            case P::SWEEP_CONFIG:
                return p.sweep_config().uuid().SerializeAsString();
            default:
                return p.ray_end().uuid().SerializeAsString();
        }
    };
    EXPECT_EQ(id(P::RADAR, 0), id(P::RADAR, 1));
    EXPECT_NE(id(P::VOLUME_HEADER, 0), id(P::VOLUME_HEADER, 1));
    EXPECT_NE(id(P::SWEEP_CONFIG, 0), id(P::SWEEP_CONFIG, 1));
    EXPECT_NE(id(P::RAY_END, 0), id(P::RAY_END, 12));  // ray 0 of each volume's sweep
}

TEST(MomentSelection, OnlyTheSelectedMomentsDataIsPublished) {
    TempDir dir;
    const std::string path = dir.write("v.raw", volume(2, {{kDbz8, 8}, {kZdr16, 16}}).bytes());
    for (const auto &[selection, expected] :
         std::vector<std::pair<std::string, int>>{{"ZDR", 2}, {"Z", 2}, {"zdr", 0}, {"KDP", 0}}) {
        DataListPublisher sink;
        PerScanPublisher publisher(&sink, {path}, 0, {}, PerScanPublisher::PER_SWEEP);
        publisher.set_selected_moment(selection);
        publisher.publish();
        SCOPED_TRACE(selection);
        EXPECT_EQ(count_of(sink.get(), P::MOMENT_SWEEP_DATA), expected);
        EXPECT_EQ(count_of(sink.get(), P::MOMENT_DESCRIPTOR), 2);
        EXPECT_EQ(count_of(sink.get(), P::SWEEP_HEADER), 2);
        EXPECT_EQ(count_of(sink.get(), P::RAY_END), 24);
        for (const pb::Payload &p : sink.get().payload())
            if (p.type() == P::MOMENT_SWEEP_DATA) {  // uncompressed in this mode
                EXPECT_EQ(p.moment_sweep_data().data().compression(), pb::DataBuffer::NONE);
                EXPECT_EQ(p.moment_sweep_data().data().data().size(), 12u * 20 * 2);
            }
    }
}

// ---- the per-ray form ----

// Ray indices in publishing order, and checks of each ray's envelopes.
std::vector<int> published_rays(const pb::PayloadList &list) {
    std::vector<int> order;
    const pb::SweepHeader *sweep = nullptr;
    for (int i = 0; i < list.payload_size(); ++i) {
        const pb::Payload &p = list.payload(i);
        if (p.type() == P::SWEEP_HEADER)
            sweep = &p.sweep_header();
        if (p.type() != P::RAY_HEADER)
            continue;
        const pb::RayHeader &ray = p.ray_header();
        order.push_back(ray.index());
        EXPECT_EQ(uuid_of(ray.uuid()), ray_id(sweep->uuid(), ray.index()));
        EXPECT_EQ(ray.sweep_ref().SerializeAsString(), sweep->uuid().SerializeAsString());
        const pb::Payload &data = list.payload(i + 1);
        EXPECT_EQ(data.type(), P::MOMENT_RAY_DATA);
        EXPECT_EQ(data.moment_ray_data().ray_ref().SerializeAsString(),
                  ray.uuid().SerializeAsString());
        EXPECT_EQ(data.moment_ray_data().data().uncompressed_size(), 20);  // codes, not bytes
        EXPECT_EQ(data.moment_ray_data().data().data().size(), 40u);
        const pb::Payload &end = list.payload(i + 2);
        EXPECT_EQ(end.type(), P::RAY_END);
        EXPECT_EQ(end.ray_end().uuid().SerializeAsString(), ray.uuid().SerializeAsString());
        EXPECT_EQ(end.ray_end().end_time().esec(), ray.start_time().esec());
    }
    return order;
}

TEST(PerRayForm, RaysGoOutInTimeOrderFromTheEarliest) {
    struct Case {
        const char *what;
        std::function<int(int)> seconds_of;  // ray index to its second in the sweep
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"clockwise", [](int p) { return p; }, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"counter-clockwise", [](int p) { return 11 - p; }, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {"starting mid-sector",
         [](int p) { return (p + 7) % 12; },
         {5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4}},
        {"counter-clockwise mid-sector",
         [](int p) { return (12 + 3 - p) % 12; },
         {3, 2, 1, 0, 11, 10, 9, 8, 7, 6, 5, 4}},
        // No order to vote for: counter-clockwise, and the earliest met last walking against it.
        {"all at once", [](int) { return 0; }, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RawFile file = volume(1, {{kZdr16, 16}});
        int last_second = 0;
        for (int p = 0; p < 12; ++p) {
            file.sweeps[0].moments[0].rays[static_cast<size_t>(p)]->seconds =
                static_cast<uint16_t>(c.seconds_of(p));
            last_second = std::max(last_second, c.seconds_of(p));
        }
        const std::string path = dir.write("v.raw", file.bytes());
        DataListPublisher sink;
        PerScanPublisher publisher(&sink, {path}, 0, {}, PerScanPublisher::PER_RAY);
        publisher.publish();
        EXPECT_EQ(published_rays(sink.get()), c.expected);
        const pb::Payload &last = sink.get().payload(sink.get().payload_size() - 2);
        ASSERT_EQ(last.type(), P::SWEEP_END);
        EXPECT_EQ(last.sweep_end().end_time().esec(), rawfile::Time{}.posix() + 60 + last_second);
        EXPECT_EQ(count_of(sink.get(), P::MOMENT_SWEEP_DATA), 0);
    }
}

}  // namespace
