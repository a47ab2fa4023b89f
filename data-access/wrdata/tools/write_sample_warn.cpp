// Writes a small WARN product (a few warning events of a hail and a rain rule) through the product
// model. The sample product in samples/ was made with it:
//     write-sample-warn samples/sample-warn.prod
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

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
    if (argc != 2) {
        std::cerr << "usage: write-sample-warn OUTPUT\n";
        return 2;
    }
    try {
        constexpr int count = std::size(events);
        const Header header = warnHeader(count);
        Product product;
        product.setOrvaHeader(header.get().data(), header.get().size());
        product.resizeSection(0, count * event_size);
        for (int i = 0; i < count; ++i) {
            encode(events[i], product.getData(0) + i * event_size);
        }
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error(std::string("cannot create ") + argv[1]);
        }
        product.write(out);
        out.close();
        if (!out) {
            throw std::runtime_error(std::string("cannot write ") + argv[1]);
        }
    } catch (const std::exception &error) {
        std::cerr << "write-sample-warn: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
