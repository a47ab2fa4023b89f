// The program shell: output files that are complete or absent, and the statuses and reports of
// failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <sstream>
#include <string>
#include <system_error>

#include "program_shell.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

void write_text(int descriptor, const std::string &text) {
    ASSERT_EQ(::write(descriptor, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::size_t entries(const TempDir &dir) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir.file("")))
        ++count;
    return count;
}

TEST(ReplacingFileTest, TakesTheNameOnlyWhenCommitted) {
    TempDir dir;
    const std::string target = dir.write("out.pb", {'o', 'l', 'd'});
    {
        azm::ReplacingFile file(target);
        EXPECT_NE(file.path(), target);
        write_text(file.descriptor(), "new");
        EXPECT_EQ(TempDir::read_text(target), "old");
    }  // a run that failed: no commit
    EXPECT_EQ(TempDir::read_text(target), "old");
    EXPECT_EQ(entries(dir), 1u);

    azm::ReplacingFile file(target);
    write_text(file.descriptor(), "new");
    file.commit();
    EXPECT_EQ(TempDir::read_text(target), "new");
    EXPECT_EQ(entries(dir), 1u);
}

TEST(ReplacingFileTest, KeepsTheTargetsPermissionsAndItsSymbolicLink) {
    TempDir dir;
    const std::string target = dir.write("data.pb", {'o'});
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string link = dir.file("latest.pb");
    fs::create_symlink(target, link);

    azm::ReplacingFile file(link);
    write_text(file.descriptor(), "new");
    file.commit();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(TempDir::read_text(target), "new");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ReplacingFileTest, APipeOrDeviceIsWrittenInPlace) {
    TempDir dir;
    const std::string pipe = dir.file("fifo");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        azm::ReplacingFile file(pipe);
        EXPECT_EQ(file.path(), pipe);
        write_text(file.descriptor(), "bytes");
        file.commit();
    }
    char read_back[8] = {};
    EXPECT_EQ(::read(reader, read_back, sizeof read_back), 5);
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(pipe));  // not replaced by a regular file
}

TEST(ReplacingFileTest, AMissingFolderIsNamedWithTheSystemsReason) {
    TempDir dir;
    try {
        azm::ReplacingFile file(dir.file("no/such/out.pb"));
        ADD_FAILURE() << "created " << file.path();
    } catch (const std::system_error &e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot create a file in " + dir.file("no/such") + ": No such file or directory");
    }
}

TEST(OutputTest, WriteFailuresNameTheFileAndLeaveNothing) {
    TempDir dir;
    const std::string target = dir.file("doc.json");
    {
        azm::Output output(target);
        output.stream() << "partial";
    }  // destroyed before commit, as when the writer throws
    EXPECT_FALSE(TempDir::exists(target));
    EXPECT_EQ(entries(dir), 0u);

    azm::write_output(target, std::string(200000, 'x'));  // larger than the buffer
    EXPECT_EQ(TempDir::read_text(target), std::string(200000, 'x'));

    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    try {
        azm::write_output("/dev/full", "bytes");
        ADD_FAILURE() << "wrote to /dev/full";
    } catch (const azm::ProgramFailure &e) {
        EXPECT_EQ(std::string(e.what()), "/dev/full: cannot write: No space left on device");
        EXPECT_EQ(e.status(), azm::kFailureStatus);
    }
}

// Standard error, captured while the object lives.
class CapturedErrors {
  public:
    CapturedErrors() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CapturedErrors() { std::cerr.rdbuf(old_); }
    std::string text() const { return text_.str(); }

  private:
    std::ostringstream text_;
    std::streambuf *old_;
};

TEST(ProgramTest, FailuresBecomeOneReportPerLineAndTheirStatus) {
    const azm::Program program("probe");
    struct Case {
        std::function<int()> body;
        int status;
        std::string report;
    };
    const Case cases[] = {
        {[] { return azm::kPartialStatus; }, 3, ""},
        {[]() -> int { throw boost::program_options::error("no input\nfile"); }, 2,
         "probe: bad command line: no input file\n"},
        {[]() -> int { throw azm::ProgramFailure("a.raw: bad\nb.raw: worse\n", 255); }, 255,
         "probe: a.raw: bad\nprobe: b.raw: worse\n"},
        {[]() -> int { throw std::bad_alloc(); }, 1, "probe: out of memory\n"},
        {[]() -> int { throw std::runtime_error("cannot serialise"); }, 1,
         "probe: cannot serialise\n"},
    };
    for (const Case &c : cases) {
        const CapturedErrors errors;
        EXPECT_EQ(program.run(c.body), c.status);
        EXPECT_EQ(errors.text(), c.report);
    }
}

}  // namespace
