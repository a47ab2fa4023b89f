// The compiled message schema: wire encoding, defaults, required fields and the envelope.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/util/message_differencer.h>

#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "wr_raw_data.pb.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using google::protobuf::util::MessageDifferencer;
namespace pb = azm::pb;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::string varint(uint64_t v) {
    std::string out;
    for (; v >= 0x80; v >>= 7)
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    out.push_back(static_cast<char>(v));
    return out;
}

std::string hex(const std::string &s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// Gives every field of a message a value of its own (two elements for repeated fields, the last
// value of an enumeration, negative numbers for signed types), descending into embedded messages.
void fill_all_fields(Message &m) {
    const Descriptor *d = m.GetDescriptor();
    const Reflection *r = m.GetReflection();
    for (int i = 0; i < d->field_count(); ++i) {
        const FieldDescriptor *f = d->field(i);
        const int count = f->is_repeated() ? 2 : 1;
        for (int k = 0; k < count; ++k) {
            const int seed = f->number() * 10 + k + 1;
            const bool rep = f->is_repeated();
            switch (f->cpp_type()) {
                case FieldDescriptor::CPPTYPE_INT32:
                    rep ? r->AddInt32(&m, f, -seed) : r->SetInt32(&m, f, -seed);
                    break;
                case FieldDescriptor::CPPTYPE_INT64:
                    rep ? r->AddInt64(&m, f, -seed * 1000000000000LL)
                        : r->SetInt64(&m, f, -seed * 1000000000000LL);
                    break;
                case FieldDescriptor::CPPTYPE_UINT32:
                    rep ? r->AddUInt32(&m, f, 3000000000u + seed)
                        : r->SetUInt32(&m, f, 3000000000u + seed);
                    break;
                case FieldDescriptor::CPPTYPE_UINT64:
                    rep ? r->AddUInt64(&m, f, (uint64_t{1} << 63) + seed)
                        : r->SetUInt64(&m, f, (uint64_t{1} << 63) + seed);
                    break;
                case FieldDescriptor::CPPTYPE_DOUBLE:
                    rep ? r->AddDouble(&m, f, seed + 0.125) : r->SetDouble(&m, f, seed + 0.125);
                    break;
                case FieldDescriptor::CPPTYPE_FLOAT:
                    rep ? r->AddFloat(&m, f, seed + 0.5f) : r->SetFloat(&m, f, seed + 0.5f);
                    break;
                case FieldDescriptor::CPPTYPE_BOOL:
                    rep ? r->AddBool(&m, f, true) : r->SetBool(&m, f, true);
                    break;
                case FieldDescriptor::CPPTYPE_ENUM: {
                    const auto *e = f->enum_type();
                    const auto *v = e->value(e->value_count() - 1);
                    rep ? r->AddEnum(&m, f, v) : r->SetEnum(&m, f, v);
                    break;
                }
                case FieldDescriptor::CPPTYPE_STRING: {
                    std::string s = "v" + std::to_string(seed) + std::string(1, '\0') + "\xff";
                    rep ? r->AddString(&m, f, s) : r->SetString(&m, f, s);
                    break;
                }
                case FieldDescriptor::CPPTYPE_MESSAGE:
                    fill_all_fields(rep ? *r->AddMessage(&m, f) : *r->MutableMessage(&m, f));
                    break;
            }
        }
    }
}

void collect_files(const FileDescriptor *file, std::set<const FileDescriptor *> &seen) {
    if (!seen.insert(file).second)
        return;
    for (int i = 0; i < file->dependency_count(); ++i)
        collect_files(file->dependency(i), seen);
}

void collect_messages(const Descriptor *d, std::set<const Descriptor *> &out) {
    out.insert(d);
    for (int i = 0; i < d->nested_type_count(); ++i)
        collect_messages(d->nested_type(i), out);
}

// Every message type of the schema, reached from the envelope's file through its imports.
std::set<const Descriptor *> all_schema_messages() {
    std::set<const FileDescriptor *> files;
    collect_files(pb::PayloadList::descriptor()->file(), files);
    std::set<const Descriptor *> messages;
    for (const FileDescriptor *file : files) {
        for (int i = 0; i < file->message_type_count(); ++i)
            collect_messages(file->message_type(i), messages);
    }
    return messages;
}

TEST(SchemaFilesTest, AreProto2InOnePackageWithoutPackedFields) {
    std::set<const FileDescriptor *> files;
    collect_files(pb::PayloadList::descriptor()->file(), files);
    EXPECT_EQ(files.size(), 60u);
    for (const FileDescriptor *file : files) {
        EXPECT_EQ(file->package(), "azm.pb") << file->name();
        EXPECT_EQ(file->syntax(), FileDescriptor::SYNTAX_PROTO2) << file->name();
    }
    const auto messages = all_schema_messages();
    EXPECT_EQ(messages.size(), 62u);
    for (const Descriptor *d : messages) {
        for (int i = 0; i < d->field_count(); ++i)
            EXPECT_FALSE(d->field(i)->is_packed()) << d->field(i)->full_name();
    }
}

// Expected bytes below are encoded by hand from the field numbers and types of the messages.
TEST(SchemaWireTest, ScalarEncodingsFollowTheDeclaredTypes) {
    pb::UUID id;  // sint64: zigzag, so -1 and 1 take one byte each
    id.set_least_significant_bits(-1);
    id.set_most_significant_bits(1);
    EXPECT_EQ(hex(id.SerializeAsString()), hex(bytes({0x08, 0x01, 0x10, 0x02})));

    pb::Time t;  // int64 seconds: -1 is a ten-byte varint; uint64 microseconds
    t.set_esec(-1);
    t.set_usec(5);
    EXPECT_EQ(
        hex(t.SerializeAsString()),
        hex(bytes({0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 0x10, 0x05})));

    pb::RayHeader ray;  // int32 index (field 4), AngInterval az_range (5), doubles as fixed64
    ray.set_index(-1);
    ray.mutable_az_range()->set_start(1.0);
    EXPECT_EQ(hex(ray.SerializeAsString()),
              hex(bytes({0x20, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01,
                         0x2a, 0x09, 0x09, 0,    0,    0,    0,    0,    0,    0xf0, 0x3f})));

    pb::RayConfig config;  // pulse_count: uint32, field 5
    config.set_pulse_count(300);
    EXPECT_EQ(hex(config.SerializeAsString()), hex(bytes({0x28, 0xac, 0x02})));

    pb::DataBuffer buffer;
    buffer.set_endian(pb::DataBuffer::BIG);
    buffer.set_type(pb::DataBuffer::UINT8);
    buffer.set_compression(pb::DataBuffer::LZ4);
    buffer.set_uncompressed_size(4);
    buffer.set_data(bytes({0x01, 0x02}));
    EXPECT_EQ(hex(buffer.SerializeAsString()),
              hex(bytes({0x08, 0x02, 0x10, 0x01, 0x18, 0x02, 0x20, 0x04, 0x2a, 0x02, 0x01, 0x02})));
}

TEST(SchemaWireTest, RepeatedFieldsAreNotPacked) {
    pb::VolumeConfig volume;
    volume.mutable_uuid()->set_least_significant_bits(1);
    volume.mutable_uuid()->set_most_significant_bits(2);
    volume.add_fixed_angle(0.5);
    volume.add_fixed_angle(1.5);
    volume.set_name("A");
    EXPECT_EQ(hex(volume.SerializeAsString()),
              hex(bytes({0x0a, 0x04, 0x08, 0x02, 0x10, 0x04,                 // uuid
                         0x19, 0,    0,    0,    0,    0,    0, 0xe0, 0x3f,  // fixed_angle 0.5
                         0x19, 0,    0,    0,    0,    0,    0, 0xf8, 0x3f,  // fixed_angle 1.5
                         0x22, 0x01, 'A'})));                                // name

    pb::PulseSequence pulses;
    pulses.add_prf(1.0);
    pulses.add_prf(2.0);
    EXPECT_EQ(hex(pulses.SerializeAsString()),
              hex(bytes({0x11, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f, 0x11, 0, 0, 0, 0, 0, 0, 0, 0x40})));
}

TEST(SchemaEnvelopeTest, EachPayloadTypeNamesTheFieldOfTheSameNumber) {
    const Descriptor *payload = pb::Payload::descriptor();
    const auto *types = pb::Payload::PayloadType_descriptor();
    ASSERT_EQ(types->value_count(), 18);
    EXPECT_EQ(payload->FindFieldByNumber(1)->name(), "type");
    for (int i = 0; i < types->value_count(); ++i) {
        const auto *value = types->value(i);
        EXPECT_EQ(value->number(), i);
        if (value->number() < 2)
            continue;  // UNKNOWN_PAYLOAD and ERROR carry no message
        const FieldDescriptor *field = payload->FindFieldByNumber(value->number());
        ASSERT_NE(field, nullptr) << value->name();
        std::string lower;
        for (char c : value->name())
            lower += static_cast<char>(std::tolower(c));
        EXPECT_EQ(field->name(), lower);
        EXPECT_EQ(field->type(), FieldDescriptor::TYPE_MESSAGE);
    }
    EXPECT_EQ(payload->field_count(), 17);
}

TEST(SchemaEnvelopeTest, EveryStreamMessageRoundTripsInsideItsPayload) {
    pb::PayloadList list;
    const auto *types = pb::Payload::PayloadType_descriptor();
    for (int n = 0; n < types->value_count(); ++n) {
        pb::Payload *payload = list.add_payload();
        payload->set_type(static_cast<pb::Payload::PayloadType>(n));
        if (n < 2)
            continue;
        const FieldDescriptor *field = pb::Payload::descriptor()->FindFieldByNumber(n);
        fill_all_fields(*payload->GetReflection()->MutableMessage(payload, field));
    }
    ASSERT_TRUE(list.IsInitialized()) << list.InitializationErrorString();
    const std::string wire = list.SerializeAsString();

    pb::PayloadList back;
    ASSERT_TRUE(back.ParseFromString(wire));
    EXPECT_TRUE(MessageDifferencer::Equals(list, back));
    EXPECT_EQ(back.SerializeAsString(), wire);

    // The list itself is unframed: one field-1 record per envelope, in order.
    ASSERT_EQ(back.payload_size(), 18);
    std::size_t pos = 0;
    for (const pb::Payload &p : back.payload()) {
        const std::string one = "\x0a" + varint(p.ByteSizeLong()) + p.SerializeAsString();
        EXPECT_EQ(wire.substr(pos, one.size()), one);
        pos += one.size();
        std::vector<const FieldDescriptor *> set_fields;
        p.GetReflection()->ListFields(p, &set_fields);
        EXPECT_EQ(set_fields.size(), p.type() < 2 ? 1u : 2u);
    }
    EXPECT_EQ(pos, wire.size());
    EXPECT_EQ(back.payload(1).SerializeAsString(), bytes({0x08, 0x01}));  // ERROR: only the type
    EXPECT_EQ(pb::PayloadList().SerializeAsString(), "");
}

TEST(SchemaEnvelopeTest, ProductWithOnlyItsTypeRoundTrips) {
    pb::Payload payload;
    payload.set_type(pb::Payload::PRODUCT);
    payload.mutable_product()->set_type(pb::Product::WARN);
    pb::Payload back;
    ASSERT_TRUE(back.ParseFromString(payload.SerializeAsString()));
    EXPECT_TRUE(MessageDifferencer::Equals(payload, back));
    EXPECT_EQ(back.product().type(), pb::Product::WARN);
    EXPECT_EQ(back.product().frame_size(), 0);
}

TEST(SchemaDefaultsTest, UnsetFieldsReadBackTheirDeclaredDefaults) {
    // Parsed from an empty message so that nothing of the writer's side leaks in.
    pb::DataBuffer buffer;
    ASSERT_TRUE(buffer.ParseFromString(""));
    EXPECT_EQ(buffer.endian(), pb::DataBuffer::LITTLE);
    EXPECT_EQ(buffer.type(), pb::DataBuffer::UINT16);
    EXPECT_EQ(buffer.compression(), pb::DataBuffer::NONE);
    EXPECT_FALSE(buffer.has_endian());

    pb::SweepHeader sweep;
    pb::RayHeader ray;
    ASSERT_TRUE(sweep.ParseFromString(""));
    ASSERT_TRUE(ray.ParseFromString(""));
    EXPECT_EQ(sweep.index(), -1);
    EXPECT_EQ(ray.index(), -1);

    pb::VolumeConfig volume;
    volume.mutable_uuid()->set_least_significant_bits(0);
    volume.mutable_uuid()->set_most_significant_bits(0);
    pb::VolumeConfig volume_back;
    ASSERT_TRUE(volume_back.ParseFromString(volume.SerializeAsString()));
    EXPECT_EQ(volume_back.name(), "DEFAULT");

    pb::Radar radar;
    fill_all_fields(radar);
    radar.clear_name();
    radar.clear_manufacturer();
    radar.clear_model();
    pb::Radar radar_back;
    ASSERT_TRUE(radar_back.ParseFromString(radar.SerializeAsString()));
    EXPECT_EQ(radar_back.name(), "UNKNOWN");
    EXPECT_EQ(radar_back.manufacturer(), "UNKNOWN");
    EXPECT_EQ(radar_back.model(), "UNKNOWN");
}

// For every required field of the schema: a message complete but for that field is written
// (partially) and must not parse. The set of required fields is the one the readers rely on.
TEST(SchemaRequiredTest, MessageMissingARequiredFieldDoesNotParse) {
    google::protobuf::LogSilencer quiet;  // the failed parses are expected, not worth a log line
    std::set<std::string> required;
    for (const Descriptor *d : all_schema_messages()) {
        const Message *prototype =
            google::protobuf::MessageFactory::generated_factory()->GetPrototype(d);
        for (int i = 0; i < d->field_count(); ++i) {
            const FieldDescriptor *field = d->field(i);
            if (!field->is_required())
                continue;
            required.insert(d->name() + "." + field->name());
            std::unique_ptr<Message> full(prototype->New());
            fill_all_fields(*full);
            std::unique_ptr<Message> parsed(prototype->New());
            ASSERT_TRUE(parsed->ParseFromString(full->SerializeAsString()));
            full->GetReflection()->ClearField(full.get(), field);
            const std::string wire = full->SerializePartialAsString();
            EXPECT_FALSE(parsed->ParseFromString(wire)) << field->full_name();
            EXPECT_TRUE(parsed->ParsePartialFromString(wire));
            EXPECT_FALSE(parsed->IsInitialized());
        }
    }
    EXPECT_EQ(required, (std::set<std::string>{"UUID.least_significant_bits",
                                               "UUID.most_significant_bits",
                                               "Time.esec",
                                               "Time.usec",
                                               "Location.latitude",
                                               "Location.longitude",
                                               "Location.altitude",
                                               "LinearDataScale.under_threshold",
                                               "LinearDataScale.not_scanned",
                                               "LinearDataScale.offset",
                                               "LinearDataScale.step",
                                               "LinearDataScale.min_value",
                                               "LinearDataScale.max_value",
                                               "Radar.uuid",
                                               "Radar.location",
                                               "Radar.tower_height",
                                               "VolumeConfig.uuid",
                                               "VolumeHeader.radar_ref",
                                               "RayEnd.uuid",
                                               "Product.type",
                                               "RasterData.width",
                                               "RasterData.height",
                                               "Event.latitude",
                                               "Event.longitude",
                                               "GeoReference.projection",
                                               "GeoReference.geoid",
                                               "GeoReference.bounding_box",
                                               "OrvaBBox.max_range",
                                               "OrvaProjection.projection_type"}));
}

TEST(SchemaRequiredTest, EnvelopeWithAnIncompleteMessageDoesNotParse) {
    pb::Payload payload;
    payload.set_type(pb::Payload::RADAR);
    fill_all_fields(*payload.mutable_radar());
    payload.mutable_radar()->mutable_location()->clear_altitude();
    pb::PayloadList list;
    *list.add_payload() = payload;
    pb::PayloadList back;
    google::protobuf::LogSilencer quiet;
    EXPECT_FALSE(back.ParseFromString(list.SerializePartialAsString()));
}

}  // namespace
