// Default io record of the RAW readers and writers: input names, output names, list file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pvol/rawprod_io.h"
#include "temp_dir.h"
#include "pvol_handles.h"

namespace {

// Output through cb, closing the file at once; returns whether a file was given.
bool output(raw_output_callback cb, default_raw_io *io, int group, int mode, int sweep) {
    FILE *file = cb(io, group, mode, sweep);
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

TEST(DefaultRawIoTest, HybridRecordOpensItsInputsInOrderThenNone) {
    TempDir dir;
    const std::string a = dir.write("a", {'A'}), b = dir.write("b", {'B'}),
                      c = dir.write("c", {'C'});
    const char *names[] = {a.c_str(), b.c_str(), c.c_str()};
    RawIoHandle io(default_raw_io_new_hybrid(names, 3));
    ASSERT_NE(io, nullptr);
    for (char expected : {'A', 'B', 'C'}) {
        FILE *file = default_raw_input(io.get());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fgetc(file), expected);
        std::fclose(file);
    }
    EXPECT_EQ(default_raw_input(io.get()), nullptr);
    // A hybrid record has no base name and so no output.
    EXPECT_EQ(default_raw_output_base(io.get()), nullptr);
    EXPECT_FALSE(output(default_raw_output, io.get(), -1, 0, -1));
    io.reset();

    const char *with_null[] = {a.c_str(), nullptr};
    EXPECT_EQ(default_raw_io_new_hybrid(with_null, 2), nullptr);
}

TEST(DefaultRawIoTest, UnopenableInputEndsTheInputs) {
    TempDir dir;
    RawIoHandle io(default_raw_io_new(dir.file("missing").c_str()));
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(default_raw_input(io.get()), nullptr);
    EXPECT_EQ(default_raw_input(io.get()), nullptr);
    io.reset();
    EXPECT_EQ(default_raw_io_new(nullptr), nullptr);
}

TEST(DefaultRawIoTest, SingleTaskOutputIsTheBaseNameWithoutListFile) {
    TempDir dir;
    const std::string base = dir.write("OUT", {'x'});
    RawIoHandle io(default_raw_io_new(base.c_str()));
    EXPECT_STREQ(default_raw_output_base(io.get()), base.c_str());
    EXPECT_EQ(default_raw_output_count(io.get()), 0);
    EXPECT_EQ(default_raw_output_name(io.get(), 0), nullptr);

    ASSERT_TRUE(output(default_raw_output, io.get(), -1, 0, -1));
    EXPECT_EQ(default_raw_output_count(io.get()), 1);
    EXPECT_STREQ(default_raw_output_name(io.get(), 0), base.c_str());
    EXPECT_TRUE(TempDir::read_text(base).empty());  // opened for writing: truncated
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    // The input names are gone once output has started.
    EXPECT_EQ(default_raw_input(io.get()), nullptr);
}

TEST(DefaultRawIoTest, TaskAndSweepSuffixesAndListFile) {
    TempDir dir;
    const std::string base = dir.file("OUT");
    RawIoHandle io(default_raw_io_new(base.c_str()));
    ASSERT_TRUE(output(default_raw_output, io.get(), 0, 0, -1));
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    ASSERT_TRUE(output(default_raw_output, io.get(), 1, 0, -1));
    EXPECT_EQ(TempDir::read_text(base + ".meta"),
              "sPathName[0] = " + base + "_A\nsPathName[1] = " + base + "_B\n");

    ASSERT_TRUE(output(default_raw_output, io.get(), 1, 1, 3));
    EXPECT_STREQ(default_raw_output_name(io.get(), 2), (base + "_B_03").c_str());
    EXPECT_EQ(TempDir::read_text(base + ".meta"), "sPathName[0] = " + base +
                                                      "_A\nsPathName[1] = " + base +
                                                      "_B\nsPathName[2] = " + base + "_B_03\n");
    // Mode 0 ignores the sweep number; large sweep numbers keep their first two digits.
    ASSERT_TRUE(output(nometa_raw_output, io.get(), -1, 0, 7));
    ASSERT_TRUE(output(nometa_raw_output, io.get(), -1, 1, 123));
    EXPECT_STREQ(default_raw_output_name(io.get(), 3), base.c_str());
    EXPECT_STREQ(default_raw_output_name(io.get(), 4), (base + "_12").c_str());
    EXPECT_EQ(default_raw_output_count(io.get()), 5);

    EXPECT_FALSE(output(default_raw_output, io.get(), 26, 0, -1));
    ASSERT_TRUE(output(nometa_raw_output, io.get(), 25, 0, -1));
    EXPECT_STREQ(default_raw_output_name(io.get(), 5), (base + "_Z").c_str());
    EXPECT_EQ(default_raw_output_name(io.get(), 6), nullptr);
}

TEST(DefaultRawIoTest, NometaOutputKeepsNoListFileAndFailedOpensAreNotListed) {
    TempDir dir;
    const std::string base = dir.file("OUT");
    RawIoHandle io(default_raw_io_new(base.c_str()));
    ASSERT_TRUE(output(nometa_raw_output, io.get(), 0, 0, -1));
    ASSERT_TRUE(output(nometa_raw_output, io.get(), 1, 0, -1));
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    io.reset();

    RawIoHandle nowhere(default_raw_io_new(dir.file("no/such/dir/OUT").c_str()));
    EXPECT_FALSE(output(default_raw_output, nowhere.get(), 0, 0, -1));
    EXPECT_EQ(default_raw_output_count(nowhere.get()), 0);
}

}  // namespace
