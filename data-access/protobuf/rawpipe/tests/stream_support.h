// Shared pieces of the publisher tests: RAW volumes written to scratch files, and reading back
// the published stream (identifiers, envelope kinds; sweep data through sweep_codes.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid.hpp>
#include <gtest/gtest.h>

#include "raw_file_builder.h"
#include "sweep_codes.h"
#include "temp_dir.h"
#include "wr_raw_data.pb.h"

namespace stream {

namespace pb = azm::pb;
using rawfile::RawFile;

// A PPI task of `sweeps` sweeps of `rays` rays of `bins` bins, one moment per (ORVA code, bits);
// sweep s has the fixed angle 0x100 * s (bin2).
inline RawFile volume(int sweeps, const std::vector<std::pair<int, int>> &moments, int bins = 20,
                      int rays = 12) {
    RawFile file;
    std::vector<int> codes;
    for (const auto &m : moments)
        codes.push_back(m.first);
    file.ingest.scan(4, 30000, sweeps).mask(codes).range(100000, 50000, bins);
    for (int s = 1; s <= sweeps; ++s)
        file.sweeps.push_back(
            rawfile::make_sweep(s, rays, moments, bins, static_cast<uint16_t>(0x100 * s)));
    return file;
}

// The identifier a UUID message carries (the inverse of its byte packing).
inline boost::uuids::uuid uuid_of(const pb::UUID &message) {
    boost::uuids::uuid id{};
    const auto lo = static_cast<uint64_t>(message.least_significant_bits());
    const auto hi = static_cast<uint64_t>(message.most_significant_bits());
    for (int i = 0; i < 8; ++i) {
        id.data[i] = static_cast<uint8_t>(lo >> (8 * i));
        id.data[8 + i] = static_cast<uint8_t>(hi >> (8 * i));
    }
    return id;
}

inline boost::uuids::uuid ray_id(const pb::UUID &sweep, int index) {
    return boost::uuids::name_generator_sha1(uuid_of(sweep))(std::to_string(index));
}

// The list as it travels: serialised and parsed back.
inline pb::PayloadList round_trip(const pb::PayloadList &list) {
    pb::PayloadList back;
    EXPECT_TRUE(back.ParseFromString(list.SerializeAsString()));
    return back;
}

inline std::vector<pb::Payload::PayloadType> types_of(const pb::PayloadList &list) {
    std::vector<pb::Payload::PayloadType> types;
    for (const pb::Payload &p : list.payload())
        types.push_back(p.type());
    return types;
}

inline int count_of(const pb::PayloadList &list, pb::Payload::PayloadType type) {
    int n = 0;
    for (const pb::Payload &p : list.payload())
        n += p.type() == type;
    return n;
}

using azm::codes_of;

// One file of task `name` and hybrid position `minor` holding sweeps first_sweep.. of a volume
// that started `second` seconds after noon.
inline rawfile::Bytes task_file(const std::string &name, int minor, int sweeps, bool single,
                                int second = 0, int first_sweep = 1) {
    RawFile file = volume(0, {{rawfile::kZdr16, 16}}, 8, 4);
    rawfile::Time start;
    start.seconds += second;
    file.ingest.task(name, 7, minor, 3).volume_time(start).scan(4, 30000, single ? 3 : sweeps);
    file.raw_flags = single ? 1 : 0;
    for (int s = first_sweep; s < first_sweep + sweeps; ++s)
        file.sweeps.push_back(rawfile::make_sweep(s, 4, {{rawfile::kZdr16, 16}}, 8));
    return file.bytes();
}

}  // namespace stream
