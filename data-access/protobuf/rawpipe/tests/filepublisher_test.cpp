// The file publisher: the header check of each file, directory listings, the date records of the
// headers, the cutting of files into volumes and the report of failed volumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "filepublisher.h"
#include "stream_support.h"

namespace {

using rawfile::Bytes;
using rawfile::RawFile;
using stream::task_file;

std::string domain_error_of(const std::function<void()> &action) {
    try {
        action();
    } catch (const std::domain_error &e) {
        return e.what();
    }
    return "(no error)";
}

TEST(CheckFileTest, ReadsTaskSiteAndTimeFromTheHeaders) {
    TempDir dir;
    RawFile file;
    rawfile::Time start;
    start.utc = false;
    start.msecs = 250;
    file.ingest.task("VOL_A", 7, 2).site("KOR  \t", 0, 0, 0, 0, 0).volume_time(start, -120);
    file.raw_flags = 1;
    const std::string path = dir.write("hybrid.raw", file.bytes());

    const azm::RawProdFile info = azm::check_file(path);
    EXPECT_EQ(info.path, path);
    EXPECT_EQ(info.site_name, "KOR");
    EXPECT_EQ(info.task_name, "VOL");
    EXPECT_EQ(info.task_suffix, "A");
    EXPECT_EQ(info.task_major, 7);
    EXPECT_EQ(info.task_minor, 2);
    EXPECT_TRUE(info.single_sweep);
    EXPECT_EQ(info.volume_time.tv_sec, start.posix() - 7200);  // two hours east of UTC
    EXPECT_EQ(info.volume_time.tv_usec, 250000);
}

TEST(CheckFileTest, SplitsTheTaskNameOnlyForHybridTasks) {
    struct Case {
        std::string name;
        int minor;
        std::string task, suffix;
    };
    TempDir dir;
    for (const Case &c :
         {Case{"VOL_A", 0, "VOL_A", ""}, Case{"A_B_C", 3, "A_B", "C"},
          Case{"PLAIN", 1, "PLAIN", "PLAIN"}, Case{"", 0, "", ""}, Case{"VOL_", 2, "VOL", ""}}) {
        RawFile file;
        file.ingest.task(c.name, 7, c.minor);
        const azm::RawProdFile info = azm::check_file(dir.write("task.raw", file.bytes()));
        EXPECT_EQ(info.task_name, c.task) << c.name << " " << c.minor;
        EXPECT_EQ(info.task_suffix, c.suffix) << c.name << " " << c.minor;
        EXPECT_FALSE(info.single_sweep);
    }
}

TEST(CheckFileTest, ReportsEachKindOfBadFile) {
    TempDir dir;
    const Bytes good = RawFile{}.bytes();
    auto message_for = [&](Bytes bytes) {
        const std::string path = dir.write("bad.raw", bytes);
        return std::pair{path, domain_error_of([&] { azm::check_file(path); })};
    };

    EXPECT_EQ(domain_error_of([&] { azm::check_file(dir.file("missing.raw")); }),
              "Can not open " + dir.file("missing.raw") + ": No such file or directory");

    auto [path, message] = message_for(Bytes(good.begin(), good.begin() + 639));
    EXPECT_EQ(message, "Failed to read product header from " + path);

    Bytes other = good;
    rawfile::put16(other, 0, 26);
    std::tie(path, message) = message_for(other);
    EXPECT_EQ(message, path + "is not an ORVA product file!");

    Bytes ppi = good;
    rawfile::put16(ppi, 24, 1);
    std::tie(path, message) = message_for(ppi);
    EXPECT_EQ(message, path + "is not an  ORVA RAW product file!");

    const size_t headers = rawfile::kRecordSize + rawfile::kIngestHeaderSize;
    std::tie(path, message) = message_for(Bytes(good.begin(), good.begin() + headers - 1));
    EXPECT_EQ(message, "Failed to read ingest header from " + path);
    // Both headers and nothing else are enough for the check.
    EXPECT_EQ(azm::check_file(dir.write("short.raw", Bytes(good.begin(), good.begin() + headers)))
                  .task_name,
              "VOL");
}

TEST(FileListTest, ListsADirectorySortedAndAFileAsItself) {
    TempDir dir;
    for (const char *name : {"b", "a", "c", "B"})
        dir.write(name, {1});
    std::filesystem::create_directory(dir.file("a.d"));  // entries of every kind are listed
    const std::string root = dir.file("");
    const std::string base = root.substr(0, root.size() - 1);
    EXPECT_EQ(azm::file_list(base),
              (std::vector<std::string>{base + "/B", base + "/a", base + "/a.d", base + "/b",
                                        base + "/c"}));
    EXPECT_EQ(azm::file_list(dir.file("c")), std::vector<std::string>{dir.file("c")});
    EXPECT_TRUE(azm::file_list(dir.file("a.d")).empty());

    EXPECT_EQ(domain_error_of([&] { azm::file_list(dir.file("none")); }),
              dir.file("none") + " does not exist!");
    EXPECT_EQ(domain_error_of([] { azm::file_list("/dev/null"); }),
              "/dev/null exists, but is neither a regular file nor a directory!");
}

TEST(Ymds2TimevalTest, ReadsUtcShiftsLocalTimesAndIgnoresTheTimeZone) {
    ymds_time record{3600 + 61, 0x800 | 0x400 | 999, 2024, 2, 29};
    timeval utc{};
    azm::ymds2timeval(&utc, record, 60);
    EXPECT_EQ(utc.tv_sec, 1709168461);  // 2024-02-29 01:01:01 UTC; the offset does not apply
    EXPECT_EQ(utc.tv_usec, 999000);

    record.msecs_flags = 0x400 | 5;  // local time, one hour west of UTC
    timeval local{};
    azm::ymds2timeval(&local, record, 60);
    EXPECT_EQ(local.tv_sec, utc.tv_sec + 3600);
    EXPECT_EQ(local.tv_usec, 5000);
    azm::ymds2timeval(&local, record, -90);
    EXPECT_EQ(local.tv_sec, utc.tv_sec - 5400);

    // The seconds of the day are unsigned and wrap within the day.
    record = {-1, 0x800, 2024, 2, 29};
    azm::ymds2timeval(&utc, record, 0);
    EXPECT_EQ(utc.tv_sec, 1709164800 + 4294967295LL % 86400);

    // The process's time zone has no say.
    const char *old_tz = std::getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    timeval zoned{};
    azm::ymds2timeval(&zoned, record, 0);
    old_tz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(zoned.tv_sec, utc.tv_sec);
}

// Sweeps of each published volume in order; -1 stands for an ERROR envelope.
std::vector<int> volumes_of(const azm::pb::PayloadList &list) {
    std::vector<int> volumes;
    for (const azm::pb::Payload &p : list.payload()) {
        if (p.type() == azm::pb::Payload::VOLUME_HEADER)
            volumes.push_back(0);
        else if (p.type() == azm::pb::Payload::SWEEP_HEADER)
            ++volumes.back();
        else if (p.type() == azm::pb::Payload::ERROR)
            volumes.push_back(-1);
    }
    return volumes;
}

TEST(FilePublisherRunTest, CutsTheFilesIntoVolumes) {
    struct Case {
        const char *what;
        std::vector<Bytes> files;
        std::vector<int> volumes;
    };
    const std::vector<Case> cases = {
        {"single sweeps of one volume start, then of another",
         {task_file("VOL", 0, 1, true, 0, 1), task_file("VOL", 0, 1, true, 0, 2),
          task_file("VOL", 0, 1, true, 0, 3), task_file("VOL", 0, 1, true, 1, 1)},
         {3, 1}},
        {"two runs of a hybrid task",
         {task_file("VOL_A", 1, 1, false), task_file("VOL_B", 2, 1, false),
          task_file("VOL_C", 3, 1, false), task_file("VOL_A", 1, 1, false),
          task_file("VOL_B", 2, 1, false)},
         {3, 2}},
        {"one part of a hybrid task in two single-sweep files, then the next part",
         {task_file("VOL_A", 1, 1, true, 0, 1), task_file("VOL_A", 1, 1, true, 0, 2),
          task_file("VOL_B", 2, 1, true, 0, 3)},
         {3}},
        {"complete volumes",
         {task_file("VOL", 0, 2, false), task_file("VOL", 0, 3, false)},
         {2, 3}},
        {"another task", {task_file("VOL", 0, 1, true), task_file("PPI", 0, 1, true)}, {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (size_t i = 0; i < c.files.size(); ++i)
            dir.write(std::string(1, static_cast<char>('a' + i)) + ".raw", c.files[i]);
        const std::string root = dir.file("");
        DataListPublisher sink;
        azm::FilePublisher publisher(&sink, root.substr(0, root.size() - 1));
        ASSERT_EQ(publisher.files().size(), c.files.size());
        publisher.run();
        EXPECT_EQ(volumes_of(sink.get()), c.volumes);
    }
}

// Refuses the first envelope of one type, as a sink that ran out of room would.
class RefusingSink : public azm::Publisher {
  public:
    explicit RefusingSink(azm::pb::Payload::PayloadType refused) : refused_(refused) {}
    void send_payload(azm::pb::Payload &payload) override {
        if (payload.type() == refused_ && !refused_once_) {
            refused_once_ = true;
            throw std::runtime_error("sink is full");
        }
        list.add_payload()->CopyFrom(payload);
    }
    azm::pb::PayloadList list;

  private:
    azm::pb::Payload::PayloadType refused_;
    bool refused_once_ = false;
};

TEST(FilePublisherFailureTest, AFailedVolumeEndsWithAnErrorAndTheNextOneFollows) {
    TempDir dir;
    const std::vector<std::string> paths = {dir.write("a.raw", task_file("VOL", 0, 2, false)),
                                            dir.write("b.raw", task_file("VOL", 0, 1, false))};
    RefusingSink sink(azm::pb::Payload::SWEEP_HEADER);
    azm::FilePublisher publisher(&sink, paths);
    testing::internal::CaptureStderr();
    publisher.run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "sink is full\n");
    // The first volume's configuration and header stay, then its error; the second is whole.
    EXPECT_EQ(volumes_of(sink.list), (std::vector<int>{0, -1, 1}));
    const auto types = stream::types_of(sink.list);
    const auto error = std::find(types.begin(), types.end(), azm::pb::Payload::ERROR);
    ASSERT_NE(error, types.end());
    EXPECT_EQ(*(error - 1), azm::pb::Payload::VOLUME_HEADER);
    EXPECT_EQ(sink.list.payload(static_cast<int>(error - types.begin())).ByteSizeLong(), 2u);

    // Files that pass the check but lack sweeps their task plans: one error envelope.
    RawFile short_task = stream::volume(1, {{rawfile::kZdr16, 16}});
    short_task.ingest.scan(4, 30000, 3);
    const std::vector<std::string> empty = {dir.write("c.raw", short_task.bytes()),
                                            dir.write("d.raw", short_task.bytes())};
    DataListPublisher list;
    azm::FilePublisher unreadable(&list, empty);
    testing::internal::CaptureStderr();
    unreadable.publish_scan(empty);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open scan file(s): " + empty[0] + "," + empty[1] + "\n");
    EXPECT_EQ(volumes_of(list.get()), std::vector<int>{-1});
    EXPECT_EQ(list.get().payload_size(), 1);
}

}  // namespace
