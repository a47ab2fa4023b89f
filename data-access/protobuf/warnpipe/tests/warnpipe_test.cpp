// Runs the warnpipe program on product files made with the product model.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include "number_text.h"
#include "program_run.h"
#include "warn_document.h"
#include "warn_reference.h"
#include "wrdata/orvaproduct.h"

namespace {

namespace fs = std::filesystem;
using azm::orva::Header;
using azm::orva::Product;
using azm::orva::Properties;

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

using RunResult = program_test::Outcome;
using program_test::Case;
using program_test::Text;

const std::string kWarnpipe = WARNPIPE_PATH;

class WarnPipeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("warnpipe_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string &name) const { return dir_ / name; }

    // Runs warnpipe with these blank-separated arguments.
    RunResult run(const std::string &arguments) const {
        return program_test::run(kWarnpipe, program_test::words(arguments));
    }

    // Writes a product of this type with count events (event data as given) and extra sections.
    fs::path writeProduct(const std::string &name, const std::string &type, int count,
                          const std::vector<std::uint8_t> &events, int extra_sections = 0) const {
        Header header;
        header.setProductType(type);
        header.setProductConfigName("CFG_" + type);
        header.setSiteName("Hilltop");
        header.setText(200, 12, "Hail");
        header.store<std::uint8_t>(249, 3);  // only input 1 is used
        header.setText(224, 12, "CAPPI_2KM");
        header.store<std::int32_t>(184, 4550);
        header.store<std::int16_t>(194, 300);
        header.setPspEventCount(count);
        if (header.isScalar()) {  // a 4 x 4 grid of 1 km pixels around the radar
            header.setDim(4, 4, 1);
            azm::orva::Properties region;
            region.put("projection.name", "Azimuthal_Equidistant");
            region.put("projection.latitude_of_center", 61.0);
            region.put("projection.longitude_of_center", 25.0);
            region.put("data.x_size", 4);
            region.put("data.y_size", 4);
            region.put("bbox.resx", 1000);
            region.put("bbox.resy", 1000);
            region.put("bbox.centlat", 61.0);
            region.put("bbox.centlon", 25.0);
            header.setGeoReference(region);
        }
        Product product;
        product.setOrvaHeader(header.get().data(), header.get().size());
        product.resizeSection(0, events.size());
        std::copy(events.begin(), events.end(), product.getData(0));
        for (int i = 0; i < extra_sections; ++i) {
            product.getProperties(product.addSection(4)).put("name", "extra");
        }
        std::ofstream out(path(name), std::ios::binary);
        product.write(out);
        return path(name);
    }

    fs::path dir_;
};

void putWord(std::vector<std::uint8_t> &events, std::size_t offset, std::uint32_t word) {
    std::memcpy(events.data() + offset, &word, sizeof word);
}

// Two events: the first with distinctive words, the second with a label that fills its field.
std::vector<std::uint8_t> twoEvents() {
    std::vector<std::uint8_t> events(600, 0);
    putWord(events, 0, 536870912u);   // lat 45
    putWord(events, 4, 3758096384u);  // lon -45
    putWord(events, 8, 250);          // alt 2.5
    putWord(events, 16, 3);           // area 30000
    putWord(events, 20, 110);         // ellipse major 1.1
    putWord(events, 28, 1073741824);  // ellipse azimuth 90
    putWord(events, 36 + 4, 6250);    // input 1 max 62.5
    putWord(events, 48 + 4, 10);      // input 1 average 0.1
    putWord(events, 60, 100000);      // 1 km per pixel
    std::memcpy(events.data() + 68, "Hail, cell 1", 12);
    putWord(events, 300 + 0, 2147483648u);  // lat -180
    std::memset(events.data() + 300 + 68, 'x', 232);
    return events;
}

std::vector<std::string> keysOf(const Properties &tree) {
    std::vector<std::string> keys;
    for (const auto &child : tree) {
        keys.push_back(child.first);
    }
    return keys;
}

TEST_F(WarnPipeTest, EventsFollowTheHeaderProperties) {
    const fs::path input = writeProduct("warn.prod", "WARN", 2, twoEvents());
    const RunResult result = run("-i " + input.string() + " -o -");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    Properties doc;
    std::istringstream json(result.out);
    boost::property_tree::read_json(json, doc);

    EXPECT_EQ(keysOf(doc), (std::vector<std::string>{"product_type", "config_name", "radar",
                                                     "ingest_time", "analysis_time", "category",
                                                     "event_name", "input1", "data"}));
    EXPECT_EQ(doc.get<std::string>("input1.threshold"), "45.5");
    EXPECT_EQ(keysOf(doc.get_child("data")),
              (std::vector<std::string>{"count", "event0", "event1"}));
    const Properties &event = doc.get_child("data.event0");
    EXPECT_EQ(keysOf(event),
              (std::vector<std::string>{"lat", "lon", "alt", "area", "ellipse_major",
                                        "ellipse_minor", "ellipse_azimuth", "text_label",
                                        "input_scale_km_per_pix", "input0", "input1", "input2"}));
    EXPECT_EQ(keysOf(event.get_child("input2")), (std::vector<std::string>{"max", "average"}));
    EXPECT_EQ(event.get<std::string>("lat"), "45");
    EXPECT_EQ(event.get<std::string>("lon"), "-45");
    EXPECT_EQ(event.get<std::string>("alt"), "2.5");
    EXPECT_EQ(event.get<std::string>("area"), "30000");
    EXPECT_EQ(event.get<std::string>("ellipse_major"), "1.1");
    EXPECT_EQ(event.get<std::string>("ellipse_minor"), "0");
    EXPECT_EQ(event.get<std::string>("ellipse_azimuth"), "90");
    EXPECT_EQ(event.get<std::string>("text_label"), "Hail, cell 1");
    EXPECT_EQ(event.get<std::string>("input_scale_km_per_pix"), "1");
    EXPECT_EQ(event.get<std::string>("input1.max"), "62.5");
    EXPECT_EQ(event.get<std::string>("input1.average"), "0.1");
    EXPECT_EQ(doc.get<std::string>("data.event1.lat"), "-180");
    EXPECT_EQ(doc.get<std::string>("data.event1.text_label"), std::string(232, 'x'));
    // No geo-reference keys: those belong to scalar products.
    EXPECT_FALSE(doc.get_child_optional("gcs"));
    EXPECT_FALSE(doc.get_child_optional("projection"));
}

Product readProduct(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Product(in);
}

// warnpipe's document of a product file must be the property tree writer's, byte for byte.
void expectReferenceDocument(const fs::path &input, const std::string &document) {
    Product product = readProduct(input);
    ASSERT_TRUE(azm::WarnDocument::of(product)) << input;
    const std::string reference = azm::reference::warnDocument(product);
    ASSERT_EQ(document.size(), reference.size()) << input;
    const auto [differs, unused] =
        std::mismatch(document.begin(), document.end(), reference.begin());
    EXPECT_TRUE(differs == document.end())
        << input << ": first difference at byte " << differs - document.begin() << ": "
        << document.substr(differs - document.begin(), 80);
}

TEST_F(WarnPipeTest, DocumentsAreThoseOfThePropertyTreeWriter) {
    std::vector<fs::path> inputs = {fs::path(AZM_SOURCE_DIR) / "samples/sample-warn.prod"};
    for (const auto &entry :
         fs::directory_iterator(fs::path(AZM_SOURCE_DIR) / "fuzz/corpus/product_read")) {
        Product product = readProduct(entry.path());
        if (azm::WarnDocument::of(product)) {
            inputs.push_back(entry.path());
        }
    }
    ASSERT_GE(inputs.size(), 2u);
    // Words at the edges of every field, a label of every byte that JSON escapes or passes, and
    // header texts with escaped characters.
    std::vector<std::uint8_t> events = twoEvents();
    events.resize(4 * 300);
    const std::uint32_t edges[] = {0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFFu, 1u};
    for (std::size_t offset = 0; offset < 68; offset += 4) {
        putWord(events, 600 + offset, edges[offset / 4 % 4]);
        putWord(events, 900 + offset, edges[(offset / 4 + 1) % 4] ^ (offset * 2654435761u));
    }
    for (int c = 1; c < 233; ++c) {
        events[600 + 68 + c - 1] = static_cast<std::uint8_t>(c);
    }
    for (int c = 0; c < 23; ++c) {
        events[900 + 68 + c] = static_cast<std::uint8_t>(233 + c);
    }
    Header header;
    header.setProductType("WARN");
    header.setProductConfigName("a/b\\c\"d\te");
    header.setSiteName("\x01\x1f\x7f\xe9t\xc3\xa9");
    header.setPspEventCount(4);
    Product product;
    product.setOrvaHeader(header.get().data(), header.get().size());
    product.resizeSection(0, events.size());
    std::copy(events.begin(), events.end(), product.getData(0));
    {
        std::ofstream out(path("edges.prod"), std::ios::binary);
        product.write(out);
    }
    inputs.push_back(path("edges.prod"));

    ASSERT_EQ(program_test::run(WRITE_SAMPLE_WARN_PATH,
                                {"--events", "32767", path("large.prod").string()})
                  .status,
              0);
    inputs.push_back(path("large.prod"));

    for (const fs::path &input : inputs) {
        const RunResult result = run("-i " + input.string() + " -o -");
        ASSERT_EQ(result.status, 0) << input << ": " << result.err;
        expectReferenceDocument(input, result.out);
    }
    EXPECT_GT(readProduct(path("large.prod")).getDataSize(0), 9'000'000u);
}

std::string printf16(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.16g", value);
    return text;
}

std::string number16(double value) {
    char text[azm::number16_text_room];
    return std::string(text, azm::number16Text(text, value));
}

TEST(NumberTextTest, IsPrintfsSixteenDigitText) {
    // Ties of the 17th digit round to even; 9.2 shows the binary value's error at 16 digits.
    const double cases[] = {0.0,
                            -0.0,
                            1.0,
                            0.1,
                            9.2,
                            45.0,
                            -180.0,
                            1234567890123456.5,
                            1234567890123457.5,
                            9999999999999999.0,
                            0.0001,
                            0.00001,
                            1e-7,
                            9.99999999999999e-8,
                            1e15,
                            1e16,
                            4503599627370495.5,
                            4503599627370496.0,
                            2.147483647e13,
                            -21474836.48,
                            180.0 / 2147483648.0,
                            std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
    for (const double value : cases) {
        EXPECT_EQ(number16(value), printf16(value)) << printf16(value);
    }
    // Every power of ten in range and its neighbours, where the decimal exponent changes.
    for (int e = -12; e <= 20; ++e) {
        const double power = std::pow(10.0, e);
        for (const double value :
             {std::nextafter(power, 0.0), power, std::nextafter(power, 1e30)}) {
            EXPECT_EQ(number16(value), printf16(value)) << printf16(value);
        }
    }
    // The event values from random words, and random bit patterns of every magnitude.
    std::mt19937_64 random(7);
    int differ = 0;
    for (int i = 0; i < 50000; ++i) {
        const auto word = static_cast<std::int32_t>(random());
        const std::uint64_t bits = random();
        double bit_value;
        std::memcpy(&bit_value, &bits, sizeof bit_value);
        for (const double value : {word / 100.0, word * 10000.0, word / 100000.0,
                                   180.0 * word / 2147483648.0, bit_value}) {
            if (number16(value) != printf16(value) && ++differ <= 10) {
                ADD_FAILURE() << printf16(value) << " written as " << number16(value);
            }
        }
    }
    EXPECT_EQ(differ, 0);
}

TEST_F(WarnPipeTest, OutputGoesToStandardOutputOrToTheNamedFile) {
    const fs::path input = writeProduct("warn.prod", "WARN", 0, {});
    const RunResult dash = run("-i " + input.string() + " -o -");
    ASSERT_EQ(dash.status, 0) << dash.err;
    Properties doc;
    std::istringstream json(dash.out);
    boost::property_tree::read_json(json, doc);
    EXPECT_EQ(doc.get<int>("data.count"), 0);
    EXPECT_EQ(keysOf(doc.get_child("data")), std::vector<std::string>{"count"});

    const RunResult positional = run(input.string());
    EXPECT_EQ(positional.status, 0);
    EXPECT_EQ(positional.out, dash.out);

    const RunResult to_file = run("-i " + input.string() + " -o " + path("doc.json").string());
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(readFile(path("doc.json")), dash.out);
}

TEST_F(WarnPipeTest, OtherProductsAreRefused) {
    const fs::path ppi = writeProduct("ppi.prod", "PPI", 0, std::vector<std::uint8_t>(16, 1));
    const fs::path sections = writeProduct("two.prod", "WARN", 0, {}, 1);
    const std::string out = path("doc.json").string();
    std::vector<Case> cases;
    for (const fs::path &input : {ppi, sections}) {
        cases.push_back(
            {{"-i", input.string(), "-o", out},
             255,
             "",
             "warnpipe: " + input.string() + ": This pipe only handles ORVA WARN products!\n",
             [&](const RunResult &) { EXPECT_FALSE(fs::exists(out)); }});
    }
    program_test::run_cases(kWarnpipe, cases);
}

TEST_F(WarnPipeTest, BadFilesAreReportedWithoutOutput) {
    const fs::path good = writeProduct("warn.prod", "WARN", 2, twoEvents());
    const std::string bytes = readFile(good);
    const auto bad = [this](const std::string &name, const std::string &content) {
        std::ofstream(path(name), std::ios::binary) << content;
        return path(name);
    };
    const std::vector<fs::path> inputs = {
        bad("short_header.prod", bytes.substr(0, 1000)),
        bad("short_events.prod", bytes.substr(0, bytes.size() - 1)),
        writeProduct("too_few.prod", "WARN", 3, twoEvents()),
        writeProduct("odd_size.prod", "WARN", 2, std::vector<std::uint8_t>(599, 0)),
        writeProduct("no_events.prod", "WARN", 1, {}),
        writeProduct("negative.prod", "WARN", -2, {}),
    };
    std::vector<Case> cases;
    for (const fs::path &input : inputs) {
        for (const std::string &output : {std::string("-"), path("doc.json").string()}) {
            cases.push_back(
                {{"-i", input.string(), "-o", output},
                 1,
                 "",
                 Text::lines(1).and_containing(input.string()),
                 [this](const RunResult &) { EXPECT_FALSE(fs::exists(path("doc.json"))); }});
        }
    }
    program_test::run_cases(kWarnpipe, cases);
}

TEST_F(WarnPipeTest, InputsThatCannotBeOpenedAreRefusedWithTheSystemsReason) {
    struct Refusal {
        fs::path input;
        std::string reason;
    };
    const fs::path unreadable = writeProduct("unreadable.prod", "WARN", 0, {});
    fs::permissions(unreadable, fs::perms::none);
    std::vector<Refusal> cases = {{path("missing.prod"), "No such file or directory"},
                                  {dir_, "Is a directory"}};
    if (!std::ifstream(unreadable)) {  // root reads any file
        cases.push_back({unreadable, "Permission denied"});
    }
    std::vector<Case> table;
    for (const Refusal &c : cases) {
        table.push_back(
            {{"-i", c.input.string(), "-o", path("doc.json").string()},
             255,
             "",
             "warnpipe: " + c.input.string() + ": cannot open: " + c.reason + "\n",
             [this](const RunResult &) { EXPECT_FALSE(fs::exists(path("doc.json"))); }});
    }
    program_test::run_cases(kWarnpipe, table);
}

TEST_F(WarnPipeTest, CommandLineAndOutputErrorsAreReported) {
    const std::string input = writeProduct("warn.prod", "WARN", 2, twoEvents()).string();
    const fs::path no_dir = path("no/such/dir.json");
    std::vector<Case> cases = {
        {{"-i", input, "-o"}, 2, "", Text::starting("warnpipe: bad command line: ")},
        // An unknown option is named, as rawpipe names it, and otherwise ignored.
        {{"--colour", "-i", input, "-o", path("t.json").string()},
         0,
         "",
         "warnpipe: unknown option --colour ignored\n"},
        {{"-i", input, "-o", no_dir.string()},
         1,
         "",
         "warnpipe: " + no_dir.string() + ": cannot create a file in " +
             no_dir.parent_path().string() + ": No such file or directory\n"},
    };
    if (fs::exists("/dev/full")) {
        cases.push_back({{"-i", input, "-o", "-"},
                         1,
                         "",
                         "warnpipe: standard output: cannot write: No space left on device\n",
                         nullptr,
                         program_test::Streams::writing_to("/dev/full")});
        cases.push_back({{"-i", input, "-o", "/dev/full"},
                         1,
                         "",
                         "warnpipe: /dev/full: cannot write: No space left on device\n"});
    }
    program_test::run_cases(kWarnpipe, cases);
}

}  // namespace
