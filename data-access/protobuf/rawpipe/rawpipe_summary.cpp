// rawpipe-summary: summarises a PayloadList written by rawpipe: the envelopes of each type, and per
// sweep and moment the fixed angle, rays, bins and the range of physical values.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sweep_codes.h"
#include "wr_raw_data.pb.h"

namespace {

namespace pb = azm::pb;
using azm::codes_of;

const char kUsage[] =
    "usage: rawpipe-summary FILE | -\n"
    "Summarises a message stream written by rawpipe (- reads standard input).\n"
    "  -h, --help     print this text\n"
    "  -v, --version  print the version\n";

using Key = std::pair<std::int64_t, std::int64_t>;

Key key_of(const pb::UUID &id) {
    return {id.least_significant_bits(), id.most_significant_bits()};
}

std::string read_input(const std::string &path) {
    std::ostringstream bytes;
    if (path == "-") {
        bytes << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot open " + path);
        bytes << in.rdbuf();
    }
    return bytes.str();
}

struct Moment {
    std::string label = "?";
    std::string units = "-";
    int bins = 0;
    const pb::LinearDataScale *scale = nullptr;
};

// The units of a moment as people write them; "-" for a ratio or a quantity without units.
std::string units_of(const pb::DataDescriptor &descriptor) {
    using D = pb::DataDescriptor;
    switch (descriptor.data_unit()) {
        case D::CUSTOM_UNIT:
            return descriptor.custom_data_unit().empty() ? "-" : descriptor.custom_data_unit();
        case D::KILOMETERS:
            return "km";
        case D::DEGREES_PER_KILOMETER:
            return "deg/km";
        case D::MILLIMETERS:
            return "mm";
        case D::MILLIMETERS_PER_KILOMETER:
            return "mm/km";
        case D::DBZ_TIMES_KM:
            return "dBZ*km";
        case D::MILLIMETERS_PER_HOUR:
            return "mm/h";
        case D::DBZ:
            return "dBZ";
        case D::METERS_PER_SECOND_PER_KILOMETER:
            return "m/s/km";
        case D::METERS_PER_SECOND:
            return "m/s";
        case D::DB:
            return "dB";
        case D::DEGREES:
            return "deg";
        case D::DEGREES_PER_METER:
            return "deg/m";
        case D::HCLASS:
            return "class";
        default:
            return "-";
    }
}

// Decimals that show a value to one step of its scale (RHOHV's 1/65533 needs five, dBZ two).
int decimals_of(const pb::LinearDataScale *scale) {
    if (scale == nullptr || !(std::fabs(scale->step()) > 0) || !std::isfinite(scale->step()))
        return 2;
    const double needed = std::ceil(-std::log10(std::fabs(scale->step())) - 1e-9);
    return static_cast<int>(std::clamp(needed, 2.0, 6.0));
}

// A POSIX time as UTC, to the second, with the microseconds when there are any.
std::string utc_text(const pb::Time &time) {
    const std::time_t seconds = static_cast<std::time_t>(time.esec());
    std::tm parts{};
    char text[64] = "?";
    if (gmtime_r(&seconds, &parts) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string out = text;
    if (time.usec() != 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%06llu",
                      static_cast<unsigned long long>(time.usec() % 1000000));
        out += fraction;
    }
    return out + "Z";
}

// Figures of one moment of one sweep.
struct Row {
    int sweep = -1;
    std::string label;
    std::string units;
    int decimals = 2;
    int bins = 0;
    long rays = 0;
    long values = 0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    double sum = 0;

    void add(const std::vector<std::uint16_t> &codes, const pb::LinearDataScale *scale) {
        if (scale == nullptr)
            return;
        for (std::uint16_t c : codes) {
            if (c == scale->not_scanned() || c == scale->under_threshold() ||
                c < scale->min_value() || c > scale->max_value())
                continue;
            const double v = scale->offset() + c * scale->step();
            min = std::min(min, v);
            max = std::max(max, v);
            sum += v;
            ++values;
        }
    }
};

int summarise(const std::string &path) {
    pb::PayloadList list;
    if (!list.ParseFromString(read_input(path)))
        throw std::runtime_error(path + " is not a message stream of rawpipe");

    std::map<int, int> counts;
    std::map<Key, int> bins_of_mask;
    std::map<Key, const pb::LinearDataScale *> scales;
    std::map<Key, Moment> moments;
    std::vector<double> fixed_angles;
    std::string site = "-", volume_name = "-", start = "-";
    for (const pb::Payload &p : list.payload()) {
        ++counts[p.type()];
        if (p.type() == pb::Payload::RANGE_MASK) {
            int bins = 0;
            for (const pb::StepScale &range : p.range_mask().range())
                bins += range.count();
            bins_of_mask[key_of(p.range_mask().uuid())] = bins;
        } else if (p.type() == pb::Payload::DATA_SCALE) {
            scales[key_of(p.data_scale().uuid())] = &p.data_scale().linear_scale();
        } else if (p.type() == pb::Payload::MOMENT_DESCRIPTOR) {
            const pb::MomentDescriptor &m = p.moment_descriptor();
            Moment &moment = moments[key_of(m.uuid())];
            moment.label = m.data_descriptor().label();
            moment.units = units_of(m.data_descriptor());
            moment.bins = bins_of_mask[key_of(m.range_mask_ref())];
            moment.scale = scales[key_of(m.data_descriptor().data_scale_ref())];
        } else if (p.type() == pb::Payload::VOLUME_CONFIG) {
            fixed_angles.assign(p.volume_config().fixed_angle().begin(),
                                p.volume_config().fixed_angle().end());
            if (p.volume_config().has_name())
                volume_name = p.volume_config().name();
        } else if (p.type() == pb::Payload::RADAR && p.radar().has_name()) {
            site = p.radar().name();
        } else if (p.type() == pb::Payload::VOLUME_HEADER && p.volume_header().has_start_time()) {
            start = utc_text(p.volume_header().start_time());
        }
    }

    // Rows in order of appearance; the per-ray form adds up each ray's data into its sweep's row.
    std::vector<Row> rows;
    std::map<std::pair<int, Key>, std::size_t> row_of;
    int sweep = -1;
    auto row_for = [&](const pb::UUID &moment_ref) -> Row & {
        const auto [it, added] = row_of.try_emplace({sweep, key_of(moment_ref)}, rows.size());
        if (added) {
            const Moment &moment = moments[key_of(moment_ref)];
            rows.push_back(
                Row{sweep, moment.label, moment.units, decimals_of(moment.scale), moment.bins});
        }
        return rows[it->second];
    };
    for (const pb::Payload &p : list.payload()) {
        if (p.type() == pb::Payload::SWEEP_HEADER) {
            sweep = p.sweep_header().index();
        } else if (p.type() == pb::Payload::MOMENT_SWEEP_DATA) {
            const pb::MomentSweepData &data = p.moment_sweep_data();
            Row &row = row_for(data.moment_descriptor_ref());
            const std::vector<std::uint16_t> codes = codes_of(data.data());
            row.rays += row.bins > 0 ? static_cast<long>(codes.size()) / row.bins : 0;
            row.add(codes, moments[key_of(data.moment_descriptor_ref())].scale);
        } else if (p.type() == pb::Payload::MOMENT_RAY_DATA) {
            const pb::MomentRayData &data = p.moment_ray_data();
            Row &row = row_for(data.moment_descriptor_ref());
            ++row.rays;
            row.add(codes_of(data.data()), moments[key_of(data.moment_descriptor_ref())].scale);
        }
    }

    std::printf("site %s, volume %s, start %s\n", site.c_str(), volume_name.c_str(), start.c_str());
    std::printf("envelopes: %d\n", list.payload_size());
    for (const auto &[type, count] : counts) {
        const std::string name =
            pb::Payload::PayloadType_IsValid(type)
                ? pb::Payload::PayloadType_Name(static_cast<pb::Payload::PayloadType>(type))
                : "type " + std::to_string(type);
        std::printf("  %-18s %6d\n", name.c_str(), count);
    }
    if (!rows.empty())
        std::printf("%5s %7s  %-8s %5s %5s %10s %10s %10s  %s\n", "sweep", "angle", "moment",
                    "rays", "bins", "min", "max", "mean", "units");
    for (const Row &row : rows) {
        char angle[32] = "-";
        if (row.sweep >= 0 && row.sweep < static_cast<int>(fixed_angles.size()))
            std::snprintf(angle, sizeof angle, "%.2f",
                          fixed_angles[static_cast<std::size_t>(row.sweep)]);
        std::printf("%5d %7s  %-8s %5ld %5d", row.sweep, angle, row.label.c_str(), row.rays,
                    row.bins);
        if (row.values > 0)
            std::printf(" %10.*f %10.*f %10.*f", row.decimals, row.min, row.decimals, row.max,
                        row.decimals, row.sum / row.values);
        else
            std::printf(" %10s %10s %10s", "-", "-", "-");
        std::printf("  %s\n", row.units.c_str());
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1 && (args[0] == "-v" || args[0] == "--version")) {
        std::puts("1.0");
        return 0;
    }
    if (args.size() != 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return summarise(args[0]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "rawpipe-summary: %s\n", e.what());
        return 1;
    }
}
