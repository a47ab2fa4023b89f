// rawpipe: one radar volume, stored as one or more ORVA RAW product files, into one serialised
// PayloadList written unframed to the output file or to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "filepublisher.h"
#include "pipe_settings.h"
#include "publisher.h"

namespace po = boost::program_options;

namespace {

const char kProgram[] = "rawpipe";

// Writes all of `bytes` to `fd`; false with errno set when a write fails.
bool write_all(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the stream to standard output ("-") or to the named file (created or truncated). A file
// whose writing fails is removed when it is a regular file, so that no truncated stream is left
// looking complete. Throws std::runtime_error on failure.
void write_output(const std::string &target, const std::string &bytes) {
    if (target == "-") {
        if (!write_all(STDOUT_FILENO, bytes))
            throw std::runtime_error(std::string("cannot write to standard output: ") +
                                     std::strerror(errno));
        return;
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        throw std::runtime_error("cannot open " + target + ": " + std::strerror(errno));
    bool written = write_all(fd, bytes);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(target.c_str());
        throw std::runtime_error("cannot write " + target + ": " + std::strerror(error));
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    // A reader that goes away makes the write fail with a message rather than end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const unsigned line = po::options_description::m_default_line_length;
    po::options_description pipe_options("This pipe options", line, line / 2);
    pipe_options.add_options()  //
        ("moment,m", po::value<std::string>()->default_value("all"),
         "which moment data to store, default is `all`");

    try {
        const azm::PipeSettings settings(argc, argv, "1.0", &pipe_options);

        DataListPublisher sink;
        sink.clear();
        const auto inputs = settings["ip"].as<std::vector<std::string>>();
        azm::FilePublisher publisher(&sink, inputs);
        publisher.set_delay_multiplier(0);
        const std::string moment = settings["moment"].as<std::string>();
        if (moment != "all")
            publisher.set_selected_moment(moment);
        // All inputs form one volume, even those that failed the check: the reader decides.
        publisher.publish_scan(inputs);

        std::string bytes;
        if (!sink.get().SerializeToString(&bytes))
            throw std::runtime_error("cannot serialise the published volume");
        write_output(settings["op"].as<std::string>(), bytes);
    } catch (const po::error &e) {
        return azm::report_bad_command_line(kProgram, e);
    } catch (const std::exception &e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    return 0;
}
