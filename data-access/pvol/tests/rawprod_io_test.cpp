// Default io record of the RAW readers and writers: input names, output names, list file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pvol/rawprod_io.h"
#include "temp_dir.h"

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
    default_raw_io *io = default_raw_io_new_hybrid(names, 3);
    ASSERT_NE(io, nullptr);
    for (char expected : {'A', 'B', 'C'}) {
        FILE *file = default_raw_input(io);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fgetc(file), expected);
        std::fclose(file);
    }
    EXPECT_EQ(default_raw_input(io), nullptr);
    // A hybrid record has no base name and so no output.
    EXPECT_EQ(default_raw_output_base(io), nullptr);
    EXPECT_FALSE(output(default_raw_output, io, -1, 0, -1));
    default_raw_io_delete(io);

    const char *with_null[] = {a.c_str(), nullptr};
    EXPECT_EQ(default_raw_io_new_hybrid(with_null, 2), nullptr);
}

TEST(DefaultRawIoTest, UnopenableInputEndsTheInputs) {
    TempDir dir;
    default_raw_io *io = default_raw_io_new(dir.file("missing").c_str());
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(default_raw_input(io), nullptr);
    EXPECT_EQ(default_raw_input(io), nullptr);
    default_raw_io_delete(io);
    EXPECT_EQ(default_raw_io_new(nullptr), nullptr);
}

TEST(DefaultRawIoTest, SingleTaskOutputIsTheBaseNameWithoutListFile) {
    TempDir dir;
    const std::string base = dir.write("OUT", {'x'});
    default_raw_io *io = default_raw_io_new(base.c_str());
    EXPECT_STREQ(default_raw_output_base(io), base.c_str());
    EXPECT_EQ(default_raw_output_count(io), 0);
    EXPECT_EQ(default_raw_output_name(io, 0), nullptr);

    ASSERT_TRUE(output(default_raw_output, io, -1, 0, -1));
    EXPECT_EQ(default_raw_output_count(io), 1);
    EXPECT_STREQ(default_raw_output_name(io, 0), base.c_str());
    EXPECT_TRUE(TempDir::read_text(base).empty());  // opened for writing: truncated
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    // The input names are gone once output has started.
    EXPECT_EQ(default_raw_input(io), nullptr);
    default_raw_io_delete(io);
}

TEST(DefaultRawIoTest, TaskAndSweepSuffixesAndListFile) {
    TempDir dir;
    const std::string base = dir.file("OUT");
    default_raw_io *io = default_raw_io_new(base.c_str());
    ASSERT_TRUE(output(default_raw_output, io, 0, 0, -1));
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    ASSERT_TRUE(output(default_raw_output, io, 1, 0, -1));
    EXPECT_EQ(TempDir::read_text(base + ".meta"),
              "sPathName[0] = " + base + "_A\nsPathName[1] = " + base + "_B\n");

    ASSERT_TRUE(output(default_raw_output, io, 1, 1, 3));
    EXPECT_STREQ(default_raw_output_name(io, 2), (base + "_B_03").c_str());
    EXPECT_EQ(TempDir::read_text(base + ".meta"), "sPathName[0] = " + base +
                                                      "_A\nsPathName[1] = " + base +
                                                      "_B\nsPathName[2] = " + base + "_B_03\n");
    // Mode 0 ignores the sweep number; large sweep numbers keep their first two digits.
    ASSERT_TRUE(output(nometa_raw_output, io, -1, 0, 7));
    ASSERT_TRUE(output(nometa_raw_output, io, -1, 1, 123));
    EXPECT_STREQ(default_raw_output_name(io, 3), base.c_str());
    EXPECT_STREQ(default_raw_output_name(io, 4), (base + "_12").c_str());
    EXPECT_EQ(default_raw_output_count(io), 5);

    EXPECT_FALSE(output(default_raw_output, io, 26, 0, -1));
    ASSERT_TRUE(output(nometa_raw_output, io, 25, 0, -1));
    EXPECT_STREQ(default_raw_output_name(io, 5), (base + "_Z").c_str());
    EXPECT_EQ(default_raw_output_name(io, 6), nullptr);
    default_raw_io_delete(io);
}

TEST(DefaultRawIoTest, NometaOutputKeepsNoListFileAndFailedOpensAreNotListed) {
    TempDir dir;
    const std::string base = dir.file("OUT");
    default_raw_io *io = default_raw_io_new(base.c_str());
    ASSERT_TRUE(output(nometa_raw_output, io, 0, 0, -1));
    ASSERT_TRUE(output(nometa_raw_output, io, 1, 0, -1));
    EXPECT_FALSE(TempDir::exists(base + ".meta"));
    default_raw_io_delete(io);

    default_raw_io *nowhere = default_raw_io_new(dir.file("no/such/dir/OUT").c_str());
    EXPECT_FALSE(output(default_raw_output, nowhere, 0, 0, -1));
    EXPECT_EQ(default_raw_output_count(nowhere), 0);
    default_raw_io_delete(nowhere);
}

}  // namespace
