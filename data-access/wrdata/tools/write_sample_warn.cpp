// Writes a WARN product (warning events of a hail and a rain rule) through the product model. The
// sample product in samples/ holds the three fixed events:
//     write-sample-warn samples/sample-warn.prod
// With --events N it holds N made-up events instead, for measuring warnpipe on a large product
// (32767 events make about 10 MB):
//     write-sample-warn --events 32767 large-warn.prod
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "wrdata/orvaproduct.h"

namespace {

using azm::orva::Header;
using azm::orva::Product;

constexpr std::size_t event_size = 300;

struct Event {
    double lat, lon;            // degrees
    double alt;                 // event altitude
    int area;                   // in units of 10000
    double major, minor;        // ellipse axes
    double azimuth;             // degrees
    double max[3], average[3];  // per input
    double scale;               // km per pixel of the inputs
    const char *label;
};

std::uint32_t bin4(double degrees) {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::lround(degrees / 180.0 * 2147483648.0)));
}

std::int32_t scaled(double value, double factor) {
    return static_cast<std::int32_t>(std::lround(value * factor));
}

void putWord(std::uint8_t *record, std::size_t offset, std::uint32_t word) {
    std::memcpy(record + offset, &word, sizeof word);
}

void encode(const Event &event, std::uint8_t *record) {
    std::memset(record, 0, event_size);
    putWord(record, 0, bin4(event.lat));
    putWord(record, 4, bin4(event.lon));
    putWord(record, 8, scaled(event.alt, 100));
    putWord(record, 16, event.area);
    putWord(record, 20, scaled(event.major, 100));
    putWord(record, 24, scaled(event.minor, 100));
    putWord(record, 28, bin4(event.azimuth));
    for (int i = 0; i < 3; ++i) {
        putWord(record, 36 + 4 * i, scaled(event.max[i], 100));
        putWord(record, 48 + 4 * i, scaled(event.average[i], 100));
    }
    putWord(record, 60, scaled(event.scale, 100000));
    std::strncpy(reinterpret_cast<char *>(record + 68), event.label, 232);
}

const Event events[] = {
    {47.25, 8.5, 2.5, 3, 4.2, 1.8, 45.0, {62.5, 11.0, 0}, {51.0, 8.5, 0}, 1.0, "Hail, cell 1"},
    {47.5, 9.125, 3.75, 12, 7.5, 3.25, 300.0, {58.0, 12.5, 0}, {49.5, 9.0, 0}, 1.0, "Hail, cell 2"},
    {-12.75, -45.5, 1.0, 1, 1.5, 1.0, 180.0, {55.5, 10.0, 0}, {50.0, 8.0, 0}, 0.5, "Heavy rain"},
};

// Events of storm cells scattered over a radar's area, with labels of varied length and a few
// characters that JSON escapes. The same count always gives the same events.
std::vector<Event> madeUpEvents(int count, std::vector<std::string> &labels) {
    std::mt19937 random(20240601);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const char *kinds[] = {"Hail", "Heavy rain", "Wind gust/shear", "Cell \"core\"", "Mesocyclone"};
    labels.clear();
    labels.reserve(count);
    std::vector<Event> made;
    made.reserve(count);
    for (int i = 0; i < count; ++i) {
        const bool hail = unit(random) < 0.4;
        std::string label =
            std::string(kinds[i % std::size(kinds)]) + ", cell " + std::to_string(i);
        if (i % 7 == 0) {
            label += " near " + std::string(1 + i % 40, 'x');
        }
        labels.push_back(label);
        Event event{};
        event.lat = 45.0 + 10.0 * unit(random);
        event.lon = 5.0 + 20.0 * unit(random) - (i % 11 == 0 ? 30.0 : 0.0);
        event.alt = std::round(800.0 * unit(random)) / 100.0;
        event.area = 1 + static_cast<int>(200.0 * unit(random) * unit(random));
        event.major = std::round(2000.0 * unit(random)) / 100.0;
        event.minor = std::round(event.major * 100.0 * unit(random)) / 100.0;
        event.azimuth = 360.0 * unit(random);
        event.max[0] = std::round(100.0 * (45.0 + 25.0 * unit(random))) / 100.0;
        event.average[0] = std::round(event.max[0] * 100.0 * (0.6 + 0.3 * unit(random))) / 100.0;
        event.max[1] = std::round(100.0 * (5.0 + 10.0 * unit(random))) / 100.0;
        event.average[1] = std::round(event.max[1] * 70.0) / 100.0;
        event.max[2] = hail ? 0.0 : std::round(5000.0 * unit(random)) / 100.0;
        event.average[2] = event.max[2] / 2.0;
        event.scale = i % 3 == 0 ? 0.5 : 1.0;
        made.push_back(event);
    }
    for (int i = 0; i < count; ++i) {
        made[i].label = labels[i].c_str();
    }
    return made;
}

Header warnHeader(int event_count) {
    Header header;
    header.setProductType("WARN");
    header.setProductConfigName("WARN_HAIL");
    header.setIngestHardwareName("RDR-HW-01");
    header.setSiteName("Hilltop");
    header.setIngestYMDHHMMSS({2024, 6, 1, 14, 30, 0});
    header.setAnalysisYMDHHMMSS({2024, 6, 1, 14, 31, 12});
    header.setText(200, 12, "HailAndRain");
    // The rule's inputs: a CAPPI of reflectivity and an echo tops product; input 2 unused.
    const struct {
        int type;
        const char *name;
        double threshold;
        int seconds;
    } inputs[] = {{3, "CAPPI_2KM", 45.5, 300}, {5, "TOPS_45DBZ", 8.0, 300}};
    for (int i = 0; i < 2; ++i) {
        header.store<std::uint8_t>(248 + i, static_cast<std::uint8_t>(inputs[i].type));
        header.setText(212 + 12 * i, 12, inputs[i].name);
        header.store<std::int32_t>(180 + 4 * i, scaled(inputs[i].threshold, 100));
        header.store<std::int16_t>(192 + 2 * i, static_cast<std::int16_t>(inputs[i].seconds));
    }
    header.setPspEventCount(event_count);
    return header;
}

}  // namespace

int main(int argc, char **argv) {
    // The event count is a 16-bit field of the product header.
    constexpr long most_events = 32767;
    long made_up_count = -1;
    if (argc == 4 && std::strcmp(argv[1], "--events") == 0) {
        char *end = nullptr;
        made_up_count = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || made_up_count < 0 || made_up_count > most_events) {
            std::cerr << "write-sample-warn: --events takes a count from 0 to " << most_events
                      << '\n';
            return 2;
        }
    } else if (argc != 2) {
        std::cerr << "usage: write-sample-warn [--events N] OUTPUT\n";
        return 2;
    }
    const char *output = argv[argc - 1];
    try {
        std::vector<std::string> labels;
        const std::vector<Event> chosen =
            made_up_count < 0 ? std::vector<Event>(std::begin(events), std::end(events))
                              : madeUpEvents(static_cast<int>(made_up_count), labels);
        const int count = static_cast<int>(chosen.size());
        const Header header = warnHeader(count);
        Product product;
        product.setOrvaHeader(header.get().data(), header.get().size());
        product.resizeSection(0, count * event_size);
        for (int i = 0; i < count; ++i) {
            encode(chosen[i], product.getData(0) + i * event_size);
        }
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error(std::string("cannot create ") + output);
        }
        product.write(out);
        out.close();
        if (!out) {
            throw std::runtime_error(std::string("cannot write ") + output);
        }
    } catch (const std::exception &error) {
        std::cerr << "write-sample-warn: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
