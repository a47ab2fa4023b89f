// nowcast: two radar volumes (ORVA RAW product files, one file per volume) to a forecast of the
// next hour as an ODIM_H5 image file: gridding, TREC motion and semi-Lagrangian extrapolation.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/property_tree/ini_parser.hpp>

#include "hdf5_handle.h"
#include "nowcast/extrapolator.h"
#include "nowcast/motion_refiner.h"
#include "nowcast/trec_algorithm.h"
#include "odim_image.h"
#include "filepublisher.h"
#include "program_shell.h"
#include "pvol_odim.h"
#include "pvol/radar_grid.h"

namespace po = boost::program_options;

namespace {

const char kProgram[] = "nowcast";
const char kVersion[] = "1.0";

// RAW volumes keep one code for no echo and for no data, so the images read NaN for both; the
// chain takes NaN within the reach of the bins as no echo and keeps it beyond as no data.
constexpr double kNoEcho = 0.0;
constexpr double kDegreesPerRadian = 180.0 / M_PI;

struct Settings {
    std::vector<std::string> inputs;
    std::string output;
    int moment_type = RD_DBZ;
    std::string quantity = "DBZH";
    std::optional<int> sweep;  // the column maximum when unset
    int grid = 256;
    double pixel = 800.0;  // metres
    int lead = 60;         // minutes
    int step = 5;          // minutes
    std::string config;
    bool verbose = false;
};

// The moment type of an ODIM quantity name, such as DBZH.
int moment_type_of(const std::string &quantity) {
    for (int type = RD_DBT; type <= RD_HCLASS; ++type) {
        if (quantity == pvol_odim_quantity(type))
            return type;
    }
    throw po::error("--moment names no moment: " + quantity);
}

Settings settings_of(const po::variables_map &map) {
    Settings s;
    if (!map.count("input") || map["input"].as<std::vector<std::string>>().size() < 2)
        throw po::error("two volumes are needed, one file each");
    s.inputs = map["input"].as<std::vector<std::string>>();
    if (!map.count("output"))
        throw po::error("no output file (-o FORECAST.h5)");
    s.output = map["output"].as<std::string>();
    s.quantity = map["moment"].as<std::string>();
    s.moment_type = moment_type_of(s.quantity);
    if (map.count("sweep") && map.count("max"))
        throw po::error("--sweep and --max exclude each other");
    if (map.count("sweep")) {
        s.sweep = map["sweep"].as<int>();
        if (*s.sweep < 0)
            throw po::error("--sweep must be 0 or more, not " + std::to_string(*s.sweep));
    }
    s.grid = map["grid"].as<int>();
    if (s.grid < 16 || s.grid > 4096)
        throw po::error("--grid must be 16 to 4096, not " + std::to_string(s.grid));
    s.pixel = map["pixel"].as<double>();
    if (!(s.pixel >= 1.0 && s.pixel <= 100000.0))
        throw po::error("--pixel must be 1 to 100000 metres");
    s.lead = map["lead"].as<int>();
    s.step = map["step"].as<int>();
    if (s.step < 1 || s.lead < s.step || s.lead > 24 * 60 || s.lead % s.step != 0)
        throw po::error("--lead must be a multiple of --step, 1 to 1440 minutes: " +
                        std::to_string(s.lead) + " and " + std::to_string(s.step));
    if (map.count("config"))
        s.config = map["config"].as<std::string>();
    s.verbose = map.count("verbose") > 0;
    return s;
}

// A failure of the run on good settings: bad input, a refused image, an unwritable output.
using RunError = azm::ProgramFailure;

azm::TrecConf trec_configuration(const std::string &path) {
    if (path.empty())
        return azm::TrecConf();
    try {
        boost::property_tree::ptree tree;
        boost::property_tree::read_ini(path, tree);
        // TrecConf keeps its default for a value it cannot read: refuse such a file instead.
        for (const auto &[key, value] : tree) {
            if (!value.empty())
                throw RunError("bad configuration: " + path + ": [" + key +
                               "]: the settings are keys without sections");
            if (!value.get_value_optional<double>())
                throw RunError("bad configuration: " + path + ": " + key +
                               " is not a number: " + value.data());
        }
        return azm::TrecConf(tree);
    } catch (const boost::property_tree::ptree_error &e) {
        throw RunError(std::string("bad configuration: ") + e.what());
    }
}

ScanHandle read_one(const std::string &path) {
    azm::CheckedVolume input = azm::read_checked_volume({path}, azm::EightBitData::as_stored);
    if (!input.whole()) {
        std::string text;
        for (const azm::FileProblem &problem : input.problems)
            text += (text.empty() ? "" : "\n") + problem.message;
        throw RunError(text);
    }
    return std::move(input.scan);
}

double time_of(const radar_scan *scan) {
    timeval t{};
    pvol_get_time_stamp(scan, &t);
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

// The image of a volume: NaN within the bins' reach as no echo, NaN beyond as no data.
azm::Grid<double> grid_volume(const radar_scan *scan, const std::string &path, const Settings &s) {
    std::vector<double> values(static_cast<size_t>(s.grid) * s.grid);
    std::vector<unsigned char> reached(values.size());
    const int status =
        (s.sweep ? pvol_grid_sweep(scan, *s.sweep, s.moment_type, s.grid, s.pixel, kNoEcho,
                                   values.data())
                 : pvol_grid_max(scan, s.moment_type, s.grid, s.pixel, kNoEcho, values.data())) ||
        pvol_grid_reach(scan, s.sweep.value_or(-1), s.moment_type, s.grid, s.pixel, reached.data());
    if (status != 0)
        throw RunError(path + ": no image of " + s.quantity +
                       (s.sweep ? " in PPI sweep " + std::to_string(*s.sweep)
                                : std::string(" in any PPI sweep")));
    azm::Grid<double> image(s.grid, s.grid);
    for (int k = 0; k < image.size(); ++k)
        image.set(k, std::isnan(values[k]) && reached[k] ? kNoEcho : values[k]);
    return image;
}

std::vector<double> values_of(const azm::Grid<double> &image) {
    std::vector<double> values(static_cast<size_t>(image.size()));
    for (int k = 0; k < image.size(); ++k)
        values[k] = image.get(k);
    return values;
}

// A motion component in pixels per interval as m/s; sign -1 turns rows (southward) northward.
std::vector<double> metres_per_second(const azm::Grid<double> &field, double scale) {
    std::vector<double> values = values_of(field);
    for (double &v : values)
        v = std::isnan(v) || v == azm::kMissingVector ? NAN : v * scale;
    return values;
}

// Grid, projection and corners of the product, from the radar's position.
void set_geometry(const radar_scan *scan, const Settings &s, odim::ImageProduct &product) {
    map_proj proj;
    if (pvol_grid_projection(scan, &proj) != 0)
        throw RunError("the volume's radar position is not fixed");
    char projdef[160];
    std::snprintf(projdef, sizeof projdef,
                  "+proj=aeqd +lat_0=%.8f +lon_0=%.8f +R=%.0f +units=m +no_defs",
                  proj.reference.latitude * kDegreesPerRadian,
                  proj.reference.longitude * kDegreesPerRadian, proj.earth_radius * 1000.0);
    product.projdef = projdef;
    product.xsize = product.ysize = s.grid;
    product.xscale = product.yscale = s.pixel;
    const double half = s.grid * s.pixel / 2.0 / 1000.0;  // km, the map's unit
    const double corners[4][2] = {{-half, -half}, {-half, half}, {half, half}, {half, -half}};
    for (int c = 0; c < 4; ++c) {
        earth_pos pos;
        if (mpj_map_to_earth(&proj, corners[c], &pos) != MPJ_OK)
            throw RunError("a corner of the grid lies off the earth");
        product.corners[c][0] = pos.longitude * kDegreesPerRadian;
        product.corners[c][1] = pos.latitude * kDegreesPerRadian;
    }
}

// Wall and processor time of each stage: on a busy machine the two differ.
class StageClock {
  public:
    explicit StageClock(bool verbose) : verbose_(verbose) {}
    void done(const char *stage) {
        const auto now = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        if (verbose_)
            std::fprintf(stderr, "%s: %-14s %8.1f ms, processor %8.1f ms\n", kProgram, stage,
                         std::chrono::duration<double, std::milli>(now - last_).count(),
                         1000.0 * static_cast<double>(cpu - last_cpu_) / CLOCKS_PER_SEC);
        last_ = now;
        last_cpu_ = cpu;
    }

  private:
    bool verbose_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    std::clock_t last_cpu_ = std::clock();
};

void run(const Settings &s) {
    StageClock clock(s.verbose);
    const azm::TrecConf conf = trec_configuration(s.config);
    const std::string &earlier_path = s.inputs[s.inputs.size() - 2];
    const std::string &later_path = s.inputs.back();
    const ScanHandle earlier_scan = read_one(earlier_path);
    const ScanHandle later_scan = read_one(later_path);
    const double interval = time_of(later_scan.get()) - time_of(earlier_scan.get());
    if (!(interval > 0.0))
        throw RunError(later_path + " is not later than " + earlier_path);
    clock.done("reading");

    const azm::Grid<double> earlier = grid_volume(earlier_scan.get(), earlier_path, s);
    const azm::Grid<double> later = grid_volume(later_scan.get(), later_path, s);
    clock.done("gridding");

    azm::TrecAlgorithm trec(s.grid, s.grid, conf);
    if (!trec.runTrec(earlier, later))
        throw RunError("TREC refused the images (status " + std::to_string(trec.getStatus()) + ")");
    azm::Grid<double> motion_x = trec.getMotionFieldX();
    azm::Grid<double> motion_y = trec.getMotionFieldY();
    // TREC's vectors are whole pixels; without echo to track, its field stays as it is.
    azm::MotionRefiner(conf).refine(earlier, later, motion_x, motion_y);
    clock.done("motion");

    const azm::Extrapolator extrapolator(motion_x, motion_y);
    const int count = s.lead / s.step;
    const std::vector<azm::Grid<double>> forecasts =
        extrapolator.forecast(later, s.step * 60.0 / interval, count);
    if (static_cast<int>(forecasts.size()) != count)
        throw RunError("the motion field cannot carry the image");
    clock.done("extrapolation");

    odim::ImageProduct product;
    char site[129] = "";
    pvol_get_site_name(later_scan.get(), site, sizeof site - 1);
    product.source = std::string("PLC:") + site;
    const time_t now = static_cast<time_t>(std::floor(time_of(later_scan.get())));
    const time_t before = static_cast<time_t>(std::floor(time_of(earlier_scan.get())));
    product.nominal = now;
    set_geometry(later_scan.get(), s, product);
    const std::string kind = s.sweep ? "PPI" : "MAX";
    product.datasets.push_back({kind, now, now, {{s.quantity, values_of(later)}}});
    for (int k = 0; k < count; ++k) {
        const time_t valid = now + static_cast<time_t>(k + 1) * s.step * 60;
        product.datasets.push_back({kind, now, valid, {{s.quantity, values_of(forecasts[k])}}});
    }
    const double scale = s.pixel / interval;
    product.datasets.push_back({"COMP",
                                before,
                                now,
                                {{"UWND", metres_per_second(motion_x, scale)},
                                 {"VWND", metres_per_second(motion_y, -scale)}}});
    // Level 1 packs radar images nearly as tightly as 6, in a third of the time.
    product.compression = 1;
    odim::save_image(product, s.output);
    clock.done("writing");
}

}  // namespace

int main(int argc, char *argv[]) {
    po::options_description options("Options");
    options.add_options()                                                    //
        ("output,o", po::value<std::string>(), "the ODIM_H5 file to write")  //
        ("moment", po::value<std::string>()->default_value("DBZH"),
         "the ODIM quantity to forecast")                                                        //
        ("sweep", po::value<int>(), "image of PPI sweep K (0 the first) instead of --max")       //
        ("max", "image of the column maximum over every PPI sweep (the default)")                //
        ("grid", po::value<int>()->default_value(256), "pixels along each side, 16 to 4096")     //
        ("pixel", po::value<double>()->default_value(800.0), "pixel size in metres")             //
        ("lead", po::value<int>()->default_value(60), "the longest lead time in minutes")        //
        ("step", po::value<int>()->default_value(5), "minutes between forecast images")          //
        ("config", po::value<std::string>(), "TREC configuration (INI) instead of the default")  //
        ("verbose", "print the wall and processor time of each stage")                           //
        ("help,h", "show this help")                                                             //
        ("version,v", "show the version");

    const azm::Program program(kProgram);
    return program.run([&] {
        const Settings settings = settings_of(program.parse_command_line(
            argc, argv, options, "usage: nowcast [options] EARLIER.raw... LATER.raw -o FORECAST.h5",
            kVersion));
        try {
            run(settings);
        } catch (const odim::WriteError &e) {
            throw RunError(settings.output + ": " + e.what());
        }
        return azm::kSuccessStatus;
    });
}
