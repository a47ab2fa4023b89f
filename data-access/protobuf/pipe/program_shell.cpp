#include "program_shell.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace azm {

namespace po = boost::program_options;

void report(std::string_view program, std::string_view text) {
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    std::string lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.append(program).append(": ").append(text.substr(start, end - start)).append("\n");
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    std::cerr << lines << std::flush;
}

int report_bad_command_line(const std::string &program, const std::exception &error) {
    std::string what = error.what();
    for (char &c : what) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    report(program, "bad command line: " + what);
    return kBadCommandLineStatus;
}

void exit_after_answer() {
    std::cout.flush();
    const bool written = std::cout.good() && std::fflush(stdout) == 0;
    std::exit(written ? EXIT_SUCCESS : EXIT_FAILURE);
}

Program::Program(std::string name) : name_(std::move(name)) {
    std::signal(SIGPIPE, SIG_IGN);
}

int Program::run(const std::function<int()> &body) const {
    try {
        return body();
    } catch (const po::error &e) {
        return report_bad_command_line(name_, e);
    } catch (const ProgramFailure &e) {
        report(e.what());
        return e.status();
    } catch (const std::bad_alloc &) {
        report("out of memory");
    } catch (const std::exception &e) {
        report(e.what());
    }
    return kFailureStatus;
}

po::variables_map Program::parse_command_line(int argc, const char *const argv[],
                                              const po::options_description &options,
                                              const std::string &usage,
                                              const std::string &version) const {
    bool help = false, show_version = false;
    for (int k = 1; k < argc; ++k) {
        const std::string_view arg = argv[k];
        help = help || arg == "--help" || arg == "-h";
        show_version = show_version || arg == "--version" || arg == "-v";
    }
    if (show_version) {
        std::cout << name_ << " " << version << std::endl;
        exit_after_answer();
    }
    if (help) {
        std::cout << usage << "\n" << options << std::endl;
        exit_after_answer();
    }

    po::options_description hidden;
    hidden.add_options()("input", po::value<std::vector<std::string>>());
    po::options_description all;
    all.add(options).add(hidden);
    po::positional_options_description positional;
    positional.add("input", -1);
    po::variables_map map;
    po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), map);
    po::notify(map);
    return map;
}

void Program::refuse_terminal_output(bool output_chosen) const {
    if (!output_chosen && ::isatty(STDOUT_FILENO))
        throw ProgramFailure("standard output is a terminal; use -o FILE or a pipe");
}

// ---- Output --------------------------------------------------------------------------------

// A stream buffer over a file descriptor that keeps the system's reason of the first failed
// write, which a std::ofstream loses.
class Output::DescriptorBuffer : public std::streambuf {
  public:
    explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {
        setp(buffer_, buffer_ + sizeof buffer_);
    }
    int error() const { return error_; }

  protected:
    int_type overflow(int_type c) override {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char *data, std::streamsize size) override {
        if (size < epptr() - pptr()) {
            traits_type::copy(pptr(), data, static_cast<std::size_t>(size));
            pbump(static_cast<int>(size));
            return size;
        }
        // A large piece goes out directly, after what is buffered.
        return drain() && write_all(data, static_cast<std::size_t>(size)) ? size : 0;
    }
    int sync() override { return drain() ? 0 : -1; }

  private:
    bool drain() {
        const bool written = write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(buffer_, buffer_ + sizeof buffer_);
        return written;
    }
    bool write_all(const char *data, std::size_t size) {
        while (error_ == 0 && size > 0) {
            const ssize_t n = ::write(descriptor_, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return error_ == 0;
    }

    int descriptor_;
    int error_ = 0;
    char buffer_[1 << 16];
};

Output::Output(const std::string &target) {
    int descriptor = STDOUT_FILENO;
    if (target == "-") {
        name_ = "standard output";
    } else {
        name_ = target;
        try {
            file_ = std::make_unique<ReplacingFile>(target);
        } catch (const std::system_error &e) {
            throw ProgramFailure(target + ": " + e.what());
        }
        descriptor = file_->descriptor();
    }
    buffer_ = std::make_unique<DescriptorBuffer>(descriptor);
    stream_ = std::make_unique<std::ostream>(buffer_.get());
}

Output::~Output() = default;

std::ostream &Output::stream() {
    return *stream_;
}

void Output::commit() {
    stream_->flush();
    if (buffer_->error() != 0 || !*stream_) {
        const int error = buffer_->error() != 0 ? buffer_->error() : EIO;
        throw ProgramFailure(name_ + ": cannot write: " + std::strerror(error));
    }
    if (file_) {
        try {
            file_->commit();
        } catch (const std::system_error &e) {
            throw ProgramFailure(name_ + ": " + e.what());
        }
    }
}

void write_output(const std::string &target, std::string_view bytes) {
    Output output(target);
    output.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    output.commit();
}

}  // namespace azm
