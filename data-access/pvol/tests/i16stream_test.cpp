// Record streams and run-length compression of rays.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "pvol/i16stream.h"
#include "pvol/orva_records.h"
#include "pvol_handles.h"

namespace {

using Words = std::vector<uint16_t>;

constexpr int kDataWords = RAW_RECORD_WORDS - RAW_RECORD_HEADER_WORDS;  // 3066 per record

// A memory stream over a buffer of whole records.
struct BufferStream {
    explicit BufferStream(int records, int first = RAW_FIRST_DATA_RECORD)
        : buffer(static_cast<size_t>(records) * RAW_RECORD_WORDS, 0xEEEE),
          stream(i16stream_new_bufrecord(buffer.data(), buffer.size(), first)) {}
    ~BufferStream() { i16stream_delete(stream); }
    // Reopens the stream over the same buffer for reading.
    void rewind(int first = RAW_FIRST_DATA_RECORD) {
        i16stream_delete(stream);
        stream = i16stream_new_bufrecord(buffer.data(), buffer.size(), first);
    }
    Words buffer;
    i16stream *stream;
};

// The stream data words (record headers left out) that packing a ray writes.
Words packed(const Words &ray) {
    BufferStream out(40);
    EXPECT_EQ(i16stream_pack(out.stream, ray.data(), ray.size()), ray.size());
    const int end = (i16stream_getpos(out.stream) - RAW_FIRST_DATA_RECORD) * RAW_RECORD_WORDS;
    Words codes;
    for (int i = 0; i < end; ++i)
        if (i % RAW_RECORD_WORDS >= RAW_RECORD_HEADER_WORDS && out.buffer[i] != 0xEEEE)
            codes.push_back(out.buffer[i]);
    return codes;
}

TEST(RayCompressionTest, PackVectors) {
    EXPECT_EQ(packed({}), (Words{PKCODE_END}));
    EXPECT_EQ(packed(Words(7, 0)), (Words{7, PKCODE_END}));
    EXPECT_EQ(packed({0, 0}), (Words{0x8002, 0, 0, PKCODE_END}));
    EXPECT_EQ(packed({5, 0, 0, 0, 7}), (Words{0x8001, 5, 3, 0x8001, 7, PKCODE_END}));
    EXPECT_EQ(packed({5, 0, 0, 7}), (Words{0x8004, 5, 0, 0, 7, PKCODE_END}));
    EXPECT_EQ(packed({5, 0, 0, 0}), (Words{0x8001, 5, 3, PKCODE_END}));
    EXPECT_EQ(packed({5, 6, 0, 0}), (Words{0x8004, 5, 6, 0, 0, PKCODE_END}));
    EXPECT_EQ(packed(Words(40000, 0)), (Words{32767, 7233, PKCODE_END}));

    const Words literal = packed(Words(40000, 9));
    ASSERT_EQ(literal.size(), 40000u + 3);
    EXPECT_EQ(literal[0], 0x8000 + 32767);
    EXPECT_EQ(literal[32768], 0x8000 + 7233);
    EXPECT_EQ(literal.back(), PKCODE_END);
}

TEST(RayCompressionTest, RaysRoundTripAcrossRecords) {
    std::mt19937 random(7);
    std::vector<Words> rays;
    for (int i = 0; i < 60; ++i) {
        Words ray(random() % 1500);
        for (auto &word : ray)
            word = random() % 3 == 0 ? random() : 0;  // runs of zeros
        rays.push_back(ray);
    }
    rays.push_back(Words(4206, 0));
    rays.push_back({});

    BufferStream stream(30);
    std::fill(stream.buffer.begin(), stream.buffer.end(), 0);
    for (const Words &ray : rays)
        ASSERT_EQ(i16stream_pack(stream.stream, ray.data(), ray.size()), ray.size());
    i16stream_finish_record(stream.stream);
    stream.rewind();
    for (const Words &ray : rays) {
        Words out(4206, 0xBEEF);
        ASSERT_EQ(i16stream_unpack(stream.stream, out.data(), out.size()),
                  static_cast<int64_t>(ray.size()));
        ASSERT_TRUE(std::equal(ray.begin(), ray.end(), out.begin()));
    }
    // Past the last ray the rest of the record reads as zero-length runs; the next record was
    // never written, so its number is wrong and the data ends.
    uint16_t word;
    EXPECT_EQ(i16stream_unpack(stream.stream, &word, 1), I16STREAM_END_OF_DATA);
}

// Unpacks words written raw into a stream.
int64_t unpack_words(const Words &words, uint64_t capacity, Words *out = nullptr) {
    BufferStream stream(1);
    i16stream_write(stream.stream, words.data(), words.size());
    stream.rewind();
    Words dst(capacity + 1, 0xBEEF);
    const int64_t result = i16stream_unpack(stream.stream, dst.data(), capacity);
    EXPECT_EQ(dst[capacity], 0xBEEF) << "wrote beyond the capacity";
    if (out != nullptr)
        *out = dst;
    return result;
}

TEST(RayCompressionTest, MalformedStreamsAreReportedApartFromAbsentRays) {
    EXPECT_EQ(unpack_words({PKCODE_END}, 10), 0);
    Words out;
    EXPECT_EQ(unpack_words({0, 0x8001, 4, 0, 3, PKCODE_END}, 10, &out), 4);  // 0 is a no-op run
    EXPECT_EQ(Words(out.begin(), out.begin() + 4), (Words{4, 0, 0, 0}));

    EXPECT_EQ(unpack_words({PKCODE_NOOP, PKCODE_END}, 10), I16STREAM_MALFORMED);
    EXPECT_EQ(unpack_words({0x8001, 4, PKCODE_NZBIT, PKCODE_END}, 10), I16STREAM_MALFORMED);
    // Runs that would overflow the capacity, literal or zero.
    EXPECT_EQ(unpack_words({0x8003, 1, 2, 3, PKCODE_END}, 2), I16STREAM_MALFORMED);
    EXPECT_EQ(unpack_words({0x8001, 1, 5, PKCODE_END}, 5), I16STREAM_MALFORMED);
    EXPECT_EQ(unpack_words({0x8001, 1, 4, PKCODE_END}, 5), 5);
}

TEST(RayCompressionTest, TruncatedStreamIsEndOfData) {
    // A literal run of 5000 words in a stream of one record (3066 words).
    BufferStream stream(1);
    const Words words = {0x8000 + 5000, 1, 2, 3};
    i16stream_write(stream.stream, words.data(), words.size());
    stream.rewind();
    Words out(6000);
    EXPECT_EQ(i16stream_unpack(stream.stream, out.data(), out.size()), I16STREAM_END_OF_DATA);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(i16stream_unpack(stream.stream, out.data(), out.size()), I16STREAM_END_OF_DATA);
}

TEST(RecordStreamTest, MemoryRecordsCarryNumbersAndTemplate) {
    BufferStream stream(3, 5);
    const uint16_t header[6] = {0x7777, 3, 0, 0, 0, 0};
    i16stream_set_bhdr(stream.stream, header);
    EXPECT_EQ(i16stream_getpos(stream.stream), 5);
    const Words words(kDataWords + 10, 0x1234);
    EXPECT_EQ(i16stream_write(stream.stream, words.data(), words.size()), words.size());
    EXPECT_EQ(i16stream_getpos(stream.stream), 7);
    EXPECT_EQ(stream.buffer[0], 5);
    EXPECT_EQ(stream.buffer[1], 3);
    EXPECT_EQ(stream.buffer[RAW_RECORD_WORDS], 6);
    EXPECT_EQ(i16stream_next_record(stream.stream), static_cast<uint64_t>(kDataWords - 10));
    EXPECT_EQ(i16stream_next_record(stream.stream), 0u);
    EXPECT_EQ(i16stream_getpos(stream.stream), 7);

    // One record is left: writing stops at its end.
    EXPECT_EQ(i16stream_write(stream.stream, words.data(), words.size()),
              static_cast<uint64_t>(kDataWords));
    EXPECT_TRUE(i16stream_is_empty(stream.stream));

    stream.rewind(5);
    Words back(words.size());
    EXPECT_FALSE(i16stream_is_empty(stream.stream));
    EXPECT_EQ(i16stream_read(stream.stream, back.data(), back.size()), back.size());
    EXPECT_EQ(back, words);
}

TEST(RecordStreamTest, MemoryRecordWithWrongNumberEndsTheData) {
    BufferStream stream(3);
    const Words words(3 * kDataWords, 0x4321);
    i16stream_write(stream.stream, words.data(), words.size());
    stream.buffer[RAW_RECORD_WORDS] = 9;  // the second record claims to be record 9
    stream.rewind();
    Words back(words.size());
    EXPECT_EQ(i16stream_read(stream.stream, back.data(), back.size()),
              static_cast<uint64_t>(kDataWords));
    EXPECT_TRUE(i16stream_is_empty(stream.stream));
    EXPECT_EQ(i16stream_read(stream.stream, back.data(), 1), 0u);
}

class FileStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override { std::fclose(file_); }

    long file_size() {
        std::fflush(file_);
        std::fseek(file_, 0, SEEK_END);
        return std::ftell(file_);
    }
    Words file_words() {
        Words words(static_cast<size_t>(file_size()) / 2);
        std::rewind(file_);
        EXPECT_EQ(std::fread(words.data(), 2, words.size(), file_), words.size());
        return words;
    }
    FILE *file_ = nullptr;
};

TEST_F(FileStreamTest, WritesWholeRecordsOncePerRecord) {
    StreamHandle stream(i16stream_new_frecord(file_, RAW_FIRST_DATA_RECORD));
    const uint16_t header[6] = {0, 4, 0, 0, 0, 0};
    i16stream_set_bhdr(stream.get(), header);
    const Words words(kDataWords, 0x0101);
    // Data that ends exactly at the last word of a record stays buffered until finished.
    EXPECT_EQ(i16stream_write(stream.get(), words.data(), words.size()), words.size());
    EXPECT_EQ(file_size(), 0);
    EXPECT_EQ(i16stream_getpos(stream.get()), 3);
    EXPECT_EQ(i16stream_finish_record(stream.get()), 0u);
    EXPECT_EQ(file_size(), RAW_RECORD_SIZE);

    EXPECT_EQ(i16stream_write(stream.get(), words.data(), 100), 100u);
    EXPECT_EQ(i16stream_finish_record(stream.get()), static_cast<uint64_t>(kDataWords - 100));
    EXPECT_EQ(i16stream_finish_record(stream.get()), 0u);
    stream.reset();
    ASSERT_EQ(file_size(), 2 * RAW_RECORD_SIZE);

    const Words disk = file_words();
    EXPECT_EQ(disk[0], 2);
    EXPECT_EQ(disk[1], 4);
    EXPECT_EQ(disk[RAW_RECORD_WORDS], 3);
    EXPECT_EQ(disk[RAW_RECORD_WORDS + RAW_RECORD_HEADER_WORDS + 99], 0x0101);
    EXPECT_EQ(disk[RAW_RECORD_WORDS + RAW_RECORD_HEADER_WORDS + 100], 0);  // zero fill
    EXPECT_EQ(disk.back(), 0);
}

TEST_F(FileStreamTest, ReadStopsAtRecordWithWrongNumber) {
    StreamHandle writer(i16stream_new_frecord(file_, RAW_FIRST_DATA_RECORD));
    const Words words(3 * kDataWords, 0x5555);
    i16stream_write(writer.get(), words.data(), words.size());
    i16stream_finish_record(writer.get());
    writer.reset();
    // The second data record carries a wrong number.
    const uint16_t wrong = 7;
    std::fseek(file_, RAW_RECORD_SIZE, SEEK_SET);
    std::fwrite(&wrong, 2, 1, file_);
    std::rewind(file_);

    StreamHandle reader(i16stream_new_frecord(file_, RAW_FIRST_DATA_RECORD));
    Words back(words.size());
    EXPECT_EQ(i16stream_read(reader.get(), back.data(), back.size()),
              static_cast<uint64_t>(kDataWords));
    EXPECT_TRUE(i16stream_is_empty(reader.get()));
    EXPECT_EQ(i16stream_read(reader.get(), back.data(), back.size()), 0u);
    EXPECT_EQ(i16stream_getpos(reader.get()), 3);
}

TEST(FileStreamFailureTest, FailedWriteStopsWritingAndPacking) {
    FILE *read_only = std::fopen("/dev/null", "r");
    ASSERT_NE(read_only, nullptr);
    StreamHandle stream(i16stream_new_frecord(read_only, RAW_FIRST_DATA_RECORD));
    const Words ray(2 * kDataWords, 3);
    // The first record fills the buffer; starting the second needs a write, which fails.
    EXPECT_EQ(i16stream_pack(stream.get(), ray.data(), ray.size()), 0u);
    EXPECT_EQ(i16stream_finish_record(stream.get()), 0u);
    stream.reset();
    std::fclose(read_only);

    // A ray whose words fill the last record exactly has no room for its end code: that pack
    // failed, and so does an absent ray packed into a full buffer.
    BufferStream full(1);
    const Words fills(kDataWords - 1, 5);  // one literal code and its words
    EXPECT_EQ(i16stream_pack(full.stream, fills.data(), fills.size()), I16STREAM_PACK_FAILED);
    EXPECT_EQ(i16stream_pack(full.stream, nullptr, 0), I16STREAM_PACK_FAILED);
    BufferStream room(1);
    const Words leaves_one(kDataWords - 2, 5);
    EXPECT_EQ(i16stream_pack(room.stream, leaves_one.data(), leaves_one.size()), leaves_one.size());

    EXPECT_EQ(i16stream_new_frecord(nullptr, 2), nullptr);
    EXPECT_EQ(i16stream_new_bufrecord(nullptr, 3072, 2), nullptr);
}

}  // namespace
