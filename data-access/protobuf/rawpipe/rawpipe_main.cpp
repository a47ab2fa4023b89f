// rawpipe: one radar volume, stored as one or more ORVA RAW product files, into one serialised
// PayloadList written unframed to the output file or to standard output.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/string_generator.hpp>

#include "filepublisher.h"
#include "per_scan_publisher.h"
#include "pipe_settings.h"
#include "program_shell.h"
#include "publisher.h"

namespace po = boost::program_options;

namespace {

// "which moment data to store", with the names the stream gives the standard moments.
std::string moment_help() {
    std::string names;
    for (int type = 1; type < RD_CUSTOM; ++type)
        names += (type > 1 ? ", " : "") +
                 azm::PerScanPublisher::to_moment_name(static_cast<raw_data_type>(type));
    return "which moment data to store, default is `all`; a moment is named as in the stream (" +
           names + ", or a custom moment's own name); case matters";
}

std::string joined(const std::vector<std::string> &parts) {
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

// Namespace of --reproducible: the seed of a run is the name-based identifier (version 5) of the
// inputs' bytes, file after file, chained from this namespace, then of the volume's start time
// ("<seconds>.<microseconds>") under that.
const boost::uuids::uuid kReproducibleNamespace =
    boost::uuids::string_generator()("6f1c2f5e-3c1a-5d7e-9b8a-2a1d4e6c8f00");

boost::uuids::uuid reproducible_seed(const std::vector<azm::RawProdFile> &files,
                                     const radar_scan *scan) {
    boost::uuids::uuid seed = kReproducibleNamespace;
    for (const azm::RawProdFile &file : files) {
        std::ifstream in(file.path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        if (!in && !in.eof())
            throw std::runtime_error("cannot read " + file.path +
                                     " again: " + std::strerror(errno));
        seed = boost::uuids::name_generator_sha1(seed)(bytes.data(), bytes.size());
    }
    timeval start{};
    pvol_get_time_stamp(scan, &start);
    return boost::uuids::name_generator_sha1(seed)(std::to_string(start.tv_sec) + "." +
                                                   std::to_string(start.tv_usec));
}

// The --threads value, or one thread per processor.
unsigned compression_threads(const azm::PipeSettings &settings) {
    constexpr int kMostThreads = 256;
    if (settings.count("threads") == 0)
        return std::clamp(std::thread::hardware_concurrency(), 1u, unsigned{kMostThreads});
    const int threads = settings["threads"].as<int>();
    if (threads < 1 || threads > kMostThreads)
        throw po::validation_error(po::validation_error::invalid_option_value, "threads",
                                   std::to_string(threads));
    return static_cast<unsigned>(threads);
}

}  // namespace

int main(int argc, char *argv[]) {
    const azm::Program program("rawpipe");
    const unsigned line = po::options_description::m_default_line_length;
    po::options_description pipe_options("This pipe options", line, line / 2);
    const std::string moment_text = moment_help();
    pipe_options.add_options()                                                             //
        ("moment,m", po::value<std::string>()->default_value("all"), moment_text.c_str())  //
        ("keep-partial",
         "when some inputs are bad, still write the sweeps that could be read, and exit with "
         "status 3")  //
        ("reproducible",
         "derive every identifier from the input files and the volume time, so that equal inputs "
         "give equal output")  //
        ("threads", po::value<int>(),
         "how many threads compress the sweep data, from 1 to 256; default one per processor; the "
         "output is the same for any number");

    return program.run([&] {
        const azm::PipeSettings settings(argc, argv, "1.0", &pipe_options);
        for (const std::string &option : settings.unrecognised())
            program.report("unknown option " + option + " ignored");
        const bool keep_partial = settings.count("keep-partial") != 0;
        const unsigned threads = compression_threads(settings);
        const std::string target = settings["op"].as<std::string>();
        program.refuse_terminal_output(!settings["op"].defaulted());

        const auto inputs = settings["ip"].as<std::vector<std::string>>();
        azm::CheckedVolume volume = azm::read_checked_volume(inputs);
        for (const azm::FileProblem &problem : volume.problems)
            program.report(problem.message);
        if (volume.files.empty())
            throw azm::ProgramFailure("None of the files is a good ORVA RAW product file");
        if (!volume.scan)
            throw azm::ProgramFailure("no sweep could be read; nothing written");
        const bool partial = !volume.whole();
        if (partial && !keep_partial)
            throw azm::ProgramFailure(
                "nothing written, since the volume is incomplete (--keep-partial writes the "
                "sweeps that were read)");

        const std::string moment = settings["moment"].as<std::string>();
        if (moment != "all") {
            const std::vector<std::string> names =
                azm::PerScanPublisher::moment_names(volume.scan.get());
            if (std::find(names.begin(), names.end(), moment) == names.end())
                throw azm::ProgramFailure("the volume has no moment named " + moment +
                                          "; its moments are " + joined(names));
        }

        boost::uuids::uuid name_space{};
        azm::IdentifierSource ids;
        if (settings.count("reproducible") != 0) {
            name_space = reproducible_seed(volume.files, volume.scan.get());
            ids = azm::IdentifierSource(name_space);
        } else {
            name_space = boost::uuids::random_generator_mt19937()();
        }
        // The envelopes go out as they are published.
        azm::Output output(target);
        azm::StreamPublisher sink(output.stream());
        try {
            azm::PerScanPublisher publisher(&sink, volume.scan.release(), 0, name_space,
                                            azm::PerScanPublisher::PER_SWEEP_LZ4, std::move(ids));
            if (moment != "all")
                publisher.set_selected_moment(moment);
            publisher.set_threads(threads);
            publisher.publish();
        } catch (const std::runtime_error &e) {
            // A volume read in full that cannot be published (a moving platform, data of another
            // format) keeps its documented form: what was sent, closed by an error envelope.
            program.report(e.what());
            azm::pb::Payload error;
            error.set_type(azm::pb::Payload::ERROR);
            sink.send_payload(error);
        }
        sink.finish();
        output.commit();
        return partial ? azm::kPartialStatus : azm::kSuccessStatus;
    });
}
