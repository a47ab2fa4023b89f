// Whole volumes read from generated RAW files and published: the order of the stream, its
// identifiers and references, the configuration it describes and the codes it carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
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

std::string id(const pb::UUID &uuid) {
    return uuid.SerializeAsString();
}

// Calls visit(field name, identifier) for every UUID in `message`, at any depth.
void for_each_uuid(const google::protobuf::Message &message,
                   const std::function<void(const std::string &, const pb::UUID &)> &visit) {
    using google::protobuf::FieldDescriptor;
    const auto *reflection = message.GetReflection();
    std::vector<const FieldDescriptor *> fields;
    reflection->ListFields(message, &fields);
    for (const FieldDescriptor *field : fields) {
        if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE)
            continue;
        for (int i = 0; i < (field->is_repeated() ? reflection->FieldSize(message, field) : 1);
             ++i) {
            const auto &child = field->is_repeated()
                                    ? reflection->GetRepeatedMessage(message, field, i)
                                    : reflection->GetMessage(message, field);
            if (field->message_type() == pb::UUID::descriptor())
                visit(field->name(), static_cast<const pb::UUID &>(child));
            else
                for_each_uuid(child, visit);
        }
    }
}

const pb::Payload &nth(const pb::PayloadList &list, P::PayloadType type, int n = 0) {
    for (const pb::Payload &p : list.payload())
        if (p.type() == type && n-- == 0)
            return p;
    ADD_FAILURE() << "no payload of type " << type;
    return pb::Payload::default_instance();
}

double degrees_of_bin2(int code) {
    return code * 360.0 / 65536.0;
}

// Two sweeps of 12 rays, dBZ in 8 bits (widened when read), velocity and ZDR in 16 bits.
class PublishedVolumeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        file_ = new RawFile(volume(2, {{kDbz8, 8}, {kVel16, 16}, {kZdr16, 16}}));
        TempDir dir;
        const std::string path = dir.write("volume.raw", file_->bytes());
        DataListPublisher sink;
        azm::FilePublisher(&sink, path).publish_scan({path});
        list_ = new pb::PayloadList(round_trip(sink.get()));
        for (const pb::Payload &p : list_->payload())
            for_each_uuid(p, [&](const std::string &name, const pb::UUID &uuid) {
                if (name == "uuid")
                    by_id_[id(uuid)] = &p;
            });
    }
    static void TearDownTestSuite() {
        delete list_;
        delete file_;
    }
    // The envelope that announced an identifier.
    static const pb::Payload &at(const pb::UUID &ref) { return *by_id_.at(id(ref)); }

    static inline RawFile *file_;
    static inline pb::PayloadList *list_;
    static inline std::map<std::string, const pb::Payload *> by_id_;
};

TEST_F(PublishedVolumeTest, EnvelopesComeInGroupOrderAndReferToEarlierOnes) {
    // One range mask; Z and ZDR share one 16-bit scale, velocity's is cyclic and its own.
    std::vector<P::PayloadType> expected = {P::RADAR, P::RANGE_MASK, P::DATA_SCALE, P::DATA_SCALE};
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

    std::set<std::string> sent;
    for (const pb::Payload &p : list_->payload()) {
        std::vector<std::string> announced;
        for_each_uuid(p, [&](const std::string &name, const pb::UUID &uuid) {
            if (name.ends_with("_ref"))
                EXPECT_TRUE(sent.count(id(uuid))) << name << " of type " << p.type();
            else
                announced.push_back(id(uuid));
        });
        sent.insert(announced.begin(), announced.end());
    }
}

TEST_F(PublishedVolumeTest, IdentifiersHaveTheirVersions) {
    std::set<std::string> drawn;
    const pb::UUID *sweep = nullptr;
    int ray = 0;
    for (const pb::Payload &p : list_->payload()) {
        if (p.type() == P::SWEEP_HEADER) {
            sweep = &p.sweep_header().uuid();
            ray = 0;
        }
        if (p.type() == P::VOLUME_END) {  // closes the volume of the header
            EXPECT_EQ(id(p.volume_end().uuid()),
                      id(nth(*list_, P::VOLUME_HEADER).volume_header().uuid()));
            continue;
        }
        if (p.type() == P::RAY_END) {  // name-based on the ray index under the sweep
            EXPECT_EQ(uuid_of(p.ray_end().uuid()), ray_id(*sweep, ray++));
            EXPECT_FALSE(p.ray_end().has_end_time());
            continue;
        }
        for_each_uuid(p, [&](const std::string &name, const pb::UUID &uuid) {
            if (name != "uuid")
                return;
            EXPECT_EQ(uuid_of(uuid).version(),
                      p.type() == P::RADAR ? boost::uuids::uuid::version_name_based_sha1
                                           : boost::uuids::uuid::version_random_number_based);
            EXPECT_TRUE(drawn.insert(id(uuid)).second) << "drawn twice, type " << p.type();
        });
    }
    EXPECT_EQ(drawn.size(), 13u);
    EXPECT_NE(id(nth(*list_, P::RAY_END, 5).ray_end().uuid()),
              id(nth(*list_, P::RAY_END, 12 + 5).ray_end().uuid()));
}

TEST_F(PublishedVolumeTest, ConfigurationDescribesRadarMomentsAndSweeps) {
    const pb::Radar &radar = nth(*list_, P::RADAR).radar();
    EXPECT_NEAR(radar.location().latitude(), 40.0, 1e-6);
    EXPECT_NEAR(radar.location().longitude(), 16.0, 1e-6);
    EXPECT_DOUBLE_EQ(radar.location().altitude(), 123.0);
    EXPECT_DOUBLE_EQ(radar.tower_height(), 100.0);
    EXPECT_EQ(radar.name(), "TESTSITE");

    const pb::RayConfig &rays = nth(*list_, P::RAY_CONFIG).ray_config();
    EXPECT_NEAR(rays.unamb_velocity(), 1000 * 0.0533 / 4, 1e-9);
    ASSERT_EQ(rays.moment_descriptor_ref_size(), 3);
    const struct {
        const char *label;
        pb::DataDescriptor::DataType type;
        pb::DataDescriptor::DataUnit unit;
    } expected[] = {
        {"Z", pb::DataDescriptor::REFLECTIVITY, pb::DataDescriptor::DBZ},
        {"V", pb::DataDescriptor::RADIAL_VELOCITY, pb::DataDescriptor::METERS_PER_SECOND},
        {"ZDR", pb::DataDescriptor::ZDR, pb::DataDescriptor::DB}};
    for (int m = 0; m < 3; ++m) {
        const pb::MomentDescriptor &moment = at(rays.moment_descriptor_ref(m)).moment_descriptor();
        EXPECT_EQ(moment.data_descriptor().label(), expected[m].label);
        EXPECT_EQ(moment.data_descriptor().data_type(), expected[m].type);
        EXPECT_EQ(moment.data_descriptor().data_unit(), expected[m].unit);
        const pb::RangeMask &mask = at(moment.range_mask_ref()).range_mask();
        ASSERT_EQ(mask.range_size(), 1);
        EXPECT_EQ(mask.range(0).count(), 20);
        EXPECT_DOUBLE_EQ(mask.range(0).step(), 500.0);  // metres, as the library holds them
        // The 8-bit reflectivity was widened: every scale is a 16-bit one.
        const pb::DataScale &scale = at(moment.data_descriptor().data_scale_ref()).data_scale();
        EXPECT_EQ(scale.type(), pb::DataScale::LINEAR);
        const pb::LinearDataScale &linear = scale.linear_scale();
        EXPECT_EQ(linear.max_value(), 65535);
        EXPECT_EQ(linear.not_scanned(), 0);
        // Velocity folds at the Nyquist velocity of its ray configuration.
        const bool velocity = m == 1;
        EXPECT_EQ(linear.cyclic(), velocity);
        EXPECT_EQ(linear.has_cyclic_min_value(), velocity);
        EXPECT_EQ(linear.has_cyclic_max_value(), velocity);
        if (velocity) {
            EXPECT_NEAR(linear.offset() + linear.cyclic_min_value() * linear.step(),
                        -rays.unamb_velocity(), linear.step());
            EXPECT_NEAR(linear.offset() + linear.cyclic_max_value() * linear.step(),
                        rays.unamb_velocity(), linear.step());
        }
    }

    const pb::VolumeConfig &config = nth(*list_, P::VOLUME_CONFIG).volume_config();
    EXPECT_EQ(config.name(), "VOL");
    ASSERT_EQ(config.fixed_angle_size(), 2);
    EXPECT_NEAR(config.fixed_angle(0), degrees_of_bin2(0x100), 1e-9);
    EXPECT_NEAR(config.fixed_angle(1), degrees_of_bin2(0x200), 1e-9);
    // One sweep configuration, listed once per sweep.
    ASSERT_EQ(config.sweep_config_ref_size(), 2);
    EXPECT_EQ(id(config.sweep_config_ref(0)), id(config.sweep_config_ref(1)));
    const pb::SweepConfig &sweep = at(config.sweep_config_ref(0)).sweep_config();
    EXPECT_EQ(sweep.type(), pb::SweepConfig::PPI_SWEEP);
    EXPECT_EQ(sweep.sector().count(), 12);
    EXPECT_NEAR(sweep.sector().step(), 30.0, 1e-9);
    EXPECT_EQ(id(sweep.ray_config_ref(0)), id(rays.uuid()));
}

TEST_F(PublishedVolumeTest, SweepsCarryTimesAnglesAndEveryCode) {
    EXPECT_EQ(nth(*list_, P::VOLUME_HEADER).volume_header().start_time().esec(),
              rawfile::Time{}.posix());
    // The last ray of the last sweep ends the volume.
    EXPECT_EQ(nth(*list_, P::VOLUME_END).volume_end().end_time().esec(),
              file_->sweeps[1].time.posix() + 11);
    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        const rawfile::Sweep &built = file_->sweeps[static_cast<size_t>(s)];
        const pb::SweepHeader &header = nth(*list_, P::SWEEP_HEADER, s).sweep_header();
        EXPECT_EQ(header.index(), s);
        EXPECT_EQ(at(header.volume_ref()).type(), P::VOLUME_CONFIG);
        EXPECT_EQ(header.start_time().esec(), built.time.posix());
        for (int r = 0; r < 12; ++r) {
            const pb::RayHeader &ray = nth(*list_, P::RAY_HEADER, 12 * s + r).ray_header();
            const rawfile::Ray &built_ray = *built.moments[0].rays[static_cast<size_t>(r)];
            EXPECT_EQ(ray.index(), r);
            EXPECT_FALSE(ray.has_uuid() || ray.has_sweep_ref() || ray.has_ray_config_ref());
            EXPECT_NEAR(ray.az_range().start(), degrees_of_bin2(built_ray.az_start), 1e-9);
            EXPECT_NEAR(ray.az_range().between(), ray.az_range().start() + 15, 0.01);
            EXPECT_NEAR(ray.az_range().stop(), degrees_of_bin2(built_ray.az_end), 1e-9);
            EXPECT_NEAR(ray.el_range().start(), degrees_of_bin2(0x100 * (s + 1)), 1e-9);
            EXPECT_EQ(ray.start_time().esec(), built.time.posix() + r);
        }
        for (int m = 0; m < 3; ++m) {
            const pb::MomentSweepData &data =
                nth(*list_, P::MOMENT_SWEEP_DATA, 3 * s + m).moment_sweep_data();
            EXPECT_FALSE(data.has_sweep_ref());
            const pb::DataDescriptor &descriptor =
                at(data.moment_descriptor_ref()).moment_descriptor().data_descriptor();
            EXPECT_EQ(descriptor.label(), (std::vector<std::string>{"Z", "V", "ZDR"})[m]);
            EXPECT_EQ(data.data().compression(), pb::DataBuffer::LZ4);
            EXPECT_EQ(data.data().type(), pb::DataBuffer::UINT16);
            EXPECT_EQ(data.data().uncompressed_size(), 12 * 20 * 2);
            const std::vector<std::uint16_t> codes = codes_of(data.data());
            ASSERT_EQ(codes.size(), 12u * 20);
            const pb::LinearDataScale &scale =
                at(descriptor.data_scale_ref()).data_scale().linear_scale();
            for (size_t i = 0; i < codes.size(); ++i) {
                const int built_code =
                    built.moments[static_cast<size_t>(m)].rays[i / 20]->bins[i % 20];
                if (m == 0)  // widened: the same reflectivity, half-dB steps from -32 dBZ
                    ASSERT_NEAR(scale.offset() + codes[i] * scale.step(), (built_code - 64) / 2.0,
                                1e-6);
                else
                    ASSERT_EQ(codes[i], built_code) << "code " << i;
            }
        }
    }
}

TEST(MomentTypeTableTest, EveryRawTypeHasItsNameDataTypeAndUnit) {
    using D = pb::DataDescriptor;
    const struct {
        const char *name;
        D::DataType type;
        D::DataUnit unit;
    } rows[] = {
        {"T", D::REFLECTIVITY, D::DBZ},
        {"TV", D::REFLECTIVITY, D::DBZ},
        {"TE", D::REFLECTIVITY, D::DBZ},
        {"Z", D::REFLECTIVITY, D::DBZ},
        {"ZV", D::REFLECTIVITY, D::DBZ},
        {"ZE", D::REFLECTIVITY, D::DBZ},
        {"ZC", D::REFLECTIVITY, D::DBZ},
        {"SNR", D::SIGNAL_TO_NOISE_RATIO, D::RATIO},
        {"V", D::RADIAL_VELOCITY, D::METERS_PER_SECOND},
        {"VC", D::RADIAL_VELOCITY, D::METERS_PER_SECOND},
        {"W", D::SPECTRAL_WIDTH, D::METERS_PER_SECOND},
        {"SQI", D::SIGNAL_QUALITY_INDEX, D::SQI},
        {"ZDR", D::ZDR, D::DB},
        {"ZDRC", D::ZDR, D::DB},
        {"RHOHV", D::CORRELATION, D::CORRELATION_COEFFICIENT},
        {"PHIDP", D::PHI, D::DEGREES},
        {"KDP", D::KDP, D::DEGREES_PER_KILOMETER},
        {"LDRH", D::LDR, D::DB},
        {"LDRV", D::LDR, D::DB},
        {"RHOH", D::CORRELATION, D::CORRELATION_COEFFICIENT},
        {"RHOV", D::CORRELATION, D::CORRELATION_COEFFICIENT},
        {"PHIH", D::PHI, D::DEGREES},
        {"PHIV", D::PHI, D::DEGREES},
        {"HCLASS", D::HYDRO_CLASS, D::HCLASS},
        {"CUSTOM", D::CUSTOM_TYPE, D::CUSTOM_UNIT},
    };
    static_assert(std::size(rows) == MAX_RD - 1);
    for (int type = 1; type < MAX_RD; ++type) {
        const auto &row = rows[type - 1];
        const auto raw = static_cast<raw_data_type>(type);
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PerScanPublisher::to_moment_name(raw), row.name);
        EXPECT_EQ(PerScanPublisher::to_data_type(raw), row.type);
        EXPECT_EQ(PerScanPublisher::to_unit(row.type), row.unit);
    }
    // Data types no moment has come without a unit.
    for (D::DataType other : {D::UNKNOWN_TYPE, D::UNFOLDED_RADIAL_VELOCITY, D::HEIGHT})
        EXPECT_EQ(PerScanPublisher::to_unit(other), D::UNKNOWN_UNIT);
}

TEST(FilePublisherIdentifiersTest, RadarIsStablePerSiteEverythingElseIsNew) {
    TempDir dir;
    const std::string path = dir.write("v.raw", volume(1, {{kZdr16, 16}}).bytes());
    DataListPublisher sink;
    azm::FilePublisher publisher(&sink, path);
    publisher.publish_scan({path});
    publisher.publish_scan({path});
    const pb::PayloadList &list = sink.get();
    EXPECT_EQ(id(nth(list, P::RADAR, 0).radar().uuid()), id(nth(list, P::RADAR, 1).radar().uuid()));
    EXPECT_NE(id(nth(list, P::VOLUME_HEADER, 0).volume_header().uuid()),
              id(nth(list, P::VOLUME_HEADER, 1).volume_header().uuid()));
    EXPECT_NE(id(nth(list, P::SWEEP_CONFIG, 0).sweep_config().uuid()),
              id(nth(list, P::SWEEP_CONFIG, 1).sweep_config().uuid()));
}

TEST(MomentSelectionTest, OnlyTheSelectedMomentsDataIsPublished) {
    TempDir dir;
    const std::string path = dir.write("v.raw", volume(2, {{kDbz8, 8}, {kZdr16, 16}}).bytes());
    for (const auto &[selection, expected] :
         std::vector<std::pair<std::string, int>>{{"ZDR", 2}, {"Z", 2}, {"zdr", 0}, {"KDP", 0}}) {
        SCOPED_TRACE(selection);
        DataListPublisher sink;
        PerScanPublisher publisher(&sink, {path}, 0, {}, PerScanPublisher::PER_SWEEP);
        publisher.set_selected_moment(selection);
        publisher.publish();
        EXPECT_EQ(count_of(sink.get(), P::MOMENT_SWEEP_DATA), expected);
        EXPECT_EQ(count_of(sink.get(), P::MOMENT_DESCRIPTOR), 2);
        EXPECT_EQ(count_of(sink.get(), P::RAY_END), 24);
        if (expected > 0) {  // uncompressed in this mode
            const pb::DataBuffer &data =
                nth(sink.get(), P::MOMENT_SWEEP_DATA).moment_sweep_data().data();
            EXPECT_EQ(data.compression(), pb::DataBuffer::NONE);
            EXPECT_EQ(data.data().size(), 12u * 20 * 2);
        }
    }
}

// Ray indices in publishing order, checking each ray's envelopes on the way.
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
        EXPECT_EQ(id(ray.sweep_ref()), id(sweep->uuid()));
        const pb::MomentRayData &data = list.payload(i + 1).moment_ray_data();
        EXPECT_EQ(id(data.ray_ref()), id(ray.uuid()));
        EXPECT_EQ(data.data().uncompressed_size(), 20);  // codes, not bytes
        EXPECT_EQ(data.data().data().size(), 40u);
        const pb::RayEnd &end = list.payload(i + 2).ray_end();
        EXPECT_EQ(id(end.uuid()), id(ray.uuid()));
        EXPECT_EQ(end.end_time().esec(), ray.start_time().esec());
    }
    return order;
}

TEST(PerRayFormTest, RaysGoOutInTimeOrderFromTheEarliest) {
    struct Case {
        const char *what;
        std::function<int(int)> second_of;  // ray index to its second in the sweep
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"clockwise", [](int p) { return p; }, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"counter-clockwise", [](int p) { return 11 - p; }, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {"from mid-sector",
         [](int p) { return (p + 7) % 12; },
         {5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4}},
        {"counter-clockwise from mid-sector",
         [](int p) { return (15 - p) % 12; },
         {3, 2, 1, 0, 11, 10, 9, 8, 7, 6, 5, 4}},
        // Ray times have whole seconds: rays sharing one do not vote, and the sweep starts with
        // the first of the earliest second's rays.
        {"clockwise, two rays a second",
         [](int p) { return p / 2; },
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"counter-clockwise, three rays a second",
         [](int p) { return (11 - p) / 3; },
         {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {"clockwise from mid-sector, two rays a second",
         [](int p) { return ((p + 7) % 12) / 2; },
         {5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4}},
        // No order wins the vote: counter-clockwise, from the earliest met last walking against it.
        {"all at once", [](int) { return 0; }, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RawFile file = volume(1, {{kZdr16, 16}});
        int last_second = 0;
        for (int p = 0; p < 12; ++p) {
            file.sweeps[0].moments[0].rays[static_cast<size_t>(p)]->seconds =
                static_cast<uint16_t>(c.second_of(p));
            last_second = std::max(last_second, c.second_of(p));
        }
        const std::string path = dir.write("v.raw", file.bytes());
        DataListPublisher sink;
        PerScanPublisher(&sink, {path}, 0, {}, PerScanPublisher::PER_RAY).publish();
        EXPECT_EQ(published_rays(sink.get()), c.expected);
        const pb::Payload &end = sink.get().payload(sink.get().payload_size() - 2);
        ASSERT_EQ(end.type(), P::SWEEP_END);
        EXPECT_EQ(end.sweep_end().end_time().esec(), file.sweeps[0].time.posix() + last_second);
    }
}

TEST(PerRayFormTest, MillisecondsBeyondASecondCarryIntoTheSeconds) {
    // The milliseconds field of an ORVA time holds up to 1023.
    RawFile file = volume(1, {{kZdr16, 16}});
    file.sweeps[0].time.msecs = 1020;
    TempDir dir;
    const std::string path = dir.write("v.raw", file.bytes());
    DataListPublisher sink;
    PerScanPublisher(&sink, {path}, 0, {}, PerScanPublisher::PER_RAY).publish();
    const long start = file.sweeps[0].time.posix() + 1;
    const pb::Time &sweep_start = nth(sink.get(), P::SWEEP_HEADER).sweep_header().start_time();
    EXPECT_EQ(sweep_start.esec(), start);
    EXPECT_EQ(sweep_start.usec(), 20000u);
    for (int r = 0; r < 12; ++r) {
        const pb::Time &time = nth(sink.get(), P::RAY_HEADER, r).ray_header().start_time();
        EXPECT_EQ(time.esec(), start + r) << r;
        EXPECT_EQ(time.usec(), 20000u) << r;
    }
    const pb::Time &end = nth(sink.get(), P::SWEEP_END).sweep_end().end_time();
    EXPECT_EQ(end.esec(), start + 11);
    EXPECT_EQ(end.usec(), 20000u);
}

}  // namespace
