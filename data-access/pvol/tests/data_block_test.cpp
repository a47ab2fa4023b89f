// Data blocks: rays in ingest data file layout, loading from file bytes, widening and scales.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pvol/data_block.h"
#include "data_block_internal.h"
#include "pvol/orva_records.h"
#include "pvol_handles.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Words = std::vector<uint16_t>;

IDhdr data_header(int code, int bits, int rays) {
    IDhdr header{};
    header.hdr = {ST_INGEST_DATA, ST_INGEST_DATA_VERSION, IDHDR_SIZE, 0, 0};
    header.isweep = 3;
    header.irtotl = static_cast<int16_t>(rays);
    header.ibits_bin = static_cast<int16_t>(bits);
    header.idata_type = static_cast<int16_t>(code);
    return header;
}

// An ingest ray with the given bins (8-bit codes packed two to a word), padded to even bins.
Words ray_words(int bits, const std::vector<int> &bins, uint16_t azimuth = 0x1000) {
    Words words = {azimuth,
                   0x0100,
                   static_cast<uint16_t>(azimuth + 0x100),
                   0x0100,
                   static_cast<uint16_t>(bins.size()),
                   7};
    const size_t even = bins.size() + bins.size() % 2;
    if (bits == 16) {
        for (size_t i = 0; i < even; ++i)
            words.push_back(i < bins.size() ? bins[i] : 0);
    } else {
        Bytes bytes(even, 0);
        for (size_t i = 0; i < bins.size(); ++i)
            bytes[i] = static_cast<unsigned char>(bins[i]);
        for (size_t i = 0; i < even; i += 2)
            words.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return words;
}

int add(dblock *block, const Words &ray) {
    return dblock_add_ingest_ray(block, ray.data(), ray.size());
}

int32_t pointer_at(const dblock *block, int position) {
    uint64_t size;
    const auto *data = static_cast<const unsigned char *>(dblock_get_ingest_data(block, &size));
    int32_t pointer;
    std::memcpy(&pointer, data + IDHDR_SIZE + 4 * position, 4);
    return pointer;
}

// The bytes of an ingest data file after its header.
Bytes file_body(const dblock *block) {
    uint64_t size;
    const auto *data = static_cast<const unsigned char *>(dblock_get_ingest_data(block, &size));
    return Bytes(data + IDHDR_SIZE, data + size);
}

class DataBlockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&ih_, 0, sizeof ih_);
        ih_.tcf.dsp.iprf = 1000;
        ih_.tcf.misc.iwavelength = 530;
        ih_.proc_status.iflags = PROC_STATUS_FULL_PHIDP;
        // Four positions of 8-bit reflectivity: a ray of 5 bins, none, 3 bins, none.
        const IDhdr header = data_header(2, 8, 4);
        block_.reset(dblock_new_from_ihdr(&header, nullptr, 0));
        ASSERT_NE(block_, nullptr);
        ASSERT_EQ(add(block_.get(), ray_words(8, {0, 10, 84, 254, 255})), DBLOCK_ADDED);
        ASSERT_EQ(dblock_add_ingest_ray(block_.get(), nullptr, 0), DBLOCK_ADDED);
        ASSERT_EQ(add(block_.get(), ray_words(8, {1, 2, 3})), DBLOCK_ADDED);
        ASSERT_EQ(add(block_.get(), ray_words(8, {})), DBLOCK_ADDED);  // 0 bins: absent
    }
    ingest_header ih_;
    BlockHandle block_;
};

TEST_F(DataBlockTest, RaysGoBackToBackWithPointers) {
    EXPECT_EQ(pointer_at(block_.get(), 0), 1);
    EXPECT_EQ(pointer_at(block_.get(), 1), 0);
    EXPECT_EQ(pointer_at(block_.get(), 2), 1 + 18);  // 5 bins at 8 bits take 18 bytes
    EXPECT_EQ(pointer_at(block_.get(), 3), 0);
    const IDhdr *header = dblock_get_ihdr(block_.get());
    EXPECT_EQ(header->iwritten, 2);
    EXPECT_EQ(header->hdr.ibytes, IDHDR_SIZE + 4 * 4 + 18 + 16);
    EXPECT_EQ(dblock_get_ray_count(block_.get()), 4);
    EXPECT_EQ(dblock_get_schedule_index(block_.get()), 2);
    EXPECT_EQ(dblock_get_data_type(block_.get()), RD_DBZ);

    // Full: a fifth ray changes nothing.
    const Bytes before = file_body(block_.get());
    EXPECT_EQ(add(block_.get(), ray_words(8, {9})), DBLOCK_FULL);
    EXPECT_EQ(file_body(block_.get()), before);

    radar_ray_data view;
    ASSERT_EQ(dblock_get_radar_ray_data(block_.get(), &view, 2), &view);
    EXPECT_EQ(view.type, BITS_8);
    EXPECT_EQ(view.bins, 3u);
    EXPECT_EQ(std::memcmp(view.data, "\1\2\3", 3), 0);
    EXPECT_EQ(dblock_get_radar_ray_data(block_.get(), &view, 1), nullptr);
    EXPECT_EQ(dblock_get_ingest_ray(block_.get(), 3), nullptr);
    EXPECT_EQ(dblock_get_ingest_ray(block_.get(), 4), nullptr);
    EXPECT_EQ(dblock_get_ingest_ray(block_.get(), 0)[5], 7);
}

TEST(DataBlockEdgeTest, AbsentRaysOnlyStillCountTheirPointers) {
    const IDhdr header = data_header(9, 16, 3);
    BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
    ASSERT_EQ(dblock_add_ingest_ray(block.get(), nullptr, 0), DBLOCK_ADDED);
    // The readers take a data header of 76 bytes for no data at all.
    EXPECT_EQ(dblock_get_ihdr(block.get())->hdr.ibytes, IDHDR_SIZE + 12);
    EXPECT_EQ(file_body(block.get()), Bytes(12, 0));
}

TEST(DataBlockEdgeTest, RejectsRaysShorterThanTheirBins) {
    const IDhdr header = data_header(9, 16, 3);
    BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
    Words ray = ray_words(16, {1, 2, 3});
    EXPECT_EQ(dblock_add_ingest_ray(block.get(), ray.data(), ray.size() - 1), DBLOCK_BAD_RAY);
    EXPECT_EQ(dblock_add_ingest_ray(block.get(), ray.data(), 5), DBLOCK_BAD_RAY);
    EXPECT_EQ(dblock_add_ingest_ray(block.get(), ray.data(), ray.size()), DBLOCK_ADDED);
    EXPECT_EQ(dblock_get_ihdr(block.get())->iwritten, 1);
}

TEST_F(DataBlockTest, LoadsFromFileBytes) {
    const IDhdr header = *dblock_get_ihdr(block_.get());
    const Bytes body = file_body(block_.get());
    BlockHandle loaded(dblock_new_from_ihdr(&header, body.data(), body.size()));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(file_body(loaded.get()), body);
    EXPECT_EQ(dblock_get_ingest_ray(loaded.get(), 3), nullptr);
    EXPECT_EQ(dblock_get_ingest_ray(loaded.get(), 2)[4], 3);
    // Filling goes on after the last stored ray.
    EXPECT_EQ(add(loaded.get(), ray_words(8, {1})), DBLOCK_ADDED);
    EXPECT_EQ(pointer_at(loaded.get(), 3), 1 + 18 + 16);
    EXPECT_EQ(add(loaded.get(), ray_words(8, {1})), DBLOCK_FULL);
}

TEST_F(DataBlockTest, RefusesFileBytesThatDoNotHoldTheirRays) {
    const IDhdr header = *dblock_get_ihdr(block_.get());
    const Bytes body = file_body(block_.get());
    auto load = [&](IDhdr h, Bytes bytes) {
        BlockHandle block(dblock_new_from_ihdr(&h, bytes.data(), bytes.size()));
        return block != nullptr;
    };
    auto with_pointer = [&](int position, int32_t pointer) {
        Bytes bytes = body;
        std::memcpy(bytes.data() + 4 * position, &pointer, 4);
        return bytes;
    };
    ASSERT_TRUE(load(header, body));
    IDhdr wrong_size = header;
    ++wrong_size.hdr.ibytes;
    EXPECT_FALSE(load(wrong_size, body));
    EXPECT_FALSE(load(header, with_pointer(3, 1 + 18 + 8)));  // header would end past the area
    EXPECT_FALSE(load(header, with_pointer(3, 1 + 18 + 4)));  // its bins would
    EXPECT_FALSE(load(header, with_pointer(1, 2)));           // odd offset
    EXPECT_FALSE(load(header, with_pointer(1, -5)));
    Bytes big_ray = body;
    const int16_t bins = 20;
    std::memcpy(big_ray.data() + 16 + 18 + 8, &bins, 2);
    EXPECT_FALSE(load(header, big_ray));
    IDhdr many_rays = header;
    many_rays.irtotl = 40;  // more pointers than bytes
    EXPECT_FALSE(load(many_rays, body));

    IDhdr unknown = header;
    unknown.idata_type = 6;  // no moment has this code
    EXPECT_FALSE(load(unknown, body));
    IDhdr odd_bits = header;
    odd_bits.ibits_bin = 12;
    EXPECT_FALSE(load(odd_bits, body));
}

TEST_F(DataBlockTest, WideningConvertsThroughPhysicalValues) {
    DspMaskSet(&ih_.tcf.dsp.mask, 2);
    dblock_force_16_bit(block_.get());
    ASSERT_EQ(dblock_finalize(block_.get(), &ih_), 0);
    const IDhdr *header = dblock_get_ihdr(block_.get());
    EXPECT_EQ(header->ibits_bin, 16);
    EXPECT_EQ(header->idata_type, 9);
    EXPECT_EQ(header->hdr.iflags, 1);
    EXPECT_EQ(lDspMaskTest(&ih_.tcf.dsp.mask, 2), 0);
    EXPECT_EQ(lDspMaskTest(&ih_.tcf.dsp.mask, 9), 1);
    // 5 bins at 8 bits took 18 bytes; as 6 bins of 16 bits they take 24.
    EXPECT_EQ(pointer_at(block_.get(), 2), 1 + 24);
    EXPECT_EQ(header->hdr.ibytes, IDHDR_SIZE + 16 + 24 + 20);

    const uint16_t *ray = dblock_get_ingest_ray(block_.get(), 0);
    EXPECT_EQ(ray[5], 7);             // the ray header is kept
    EXPECT_EQ(ray[6], 0);             // no data stays no data
    EXPECT_EQ(ray[7], 32768 - 2700);  // code 10 is -27 dBZ
    EXPECT_EQ(ray[8], 33768);         // code 84 is 10 dBZ
    EXPECT_EQ(ray[9], iuser_to_data(95.0, 9, nullptr));
    EXPECT_EQ(ray[11], 0);  // the pad bin
    radar_ray_data view;
    ASSERT_NE(dblock_get_radar_ray_data(block_.get(), &view, 2), nullptr);
    EXPECT_EQ(view.type, BITS_16);
    EXPECT_EQ(static_cast<const uint16_t *>(view.data)[2], iuser_to_data(-30.5, 9, nullptr));

    native_data_desc scale;
    ASSERT_NE(dblock_get_scale(block_.get(), &ih_, &scale), nullptr);
    EXPECT_EQ(scale.bin_format, BITS_16);
    EXPECT_EQ(scale.max_value, 65535);
    EXPECT_DOUBLE_EQ(scale.step, 0.01);
    EXPECT_DOUBLE_EQ(scale.offset, -327.68);
    EXPECT_EQ(scale.cyclic, 0);
}

TEST(DataBlockScaleTest, HalfScaleOfDifferentialPhase) {
    ingest_header ih{};
    ih.proc_status.iflags = PROC_STATUS_FULL_PHIDP;
    auto scale_max = [&](int code, int bits, bool widen) {
        const IDhdr header = data_header(code, bits, 1);
        BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
        add(block.get(), ray_words(bits, {5}));
        if (widen)
            dblock_force_16_bit(block.get());
        dblock_finalize(block.get(), &ih);
        native_data_desc scale;
        dblock_get_scale(block.get(), &ih, &scale);
        EXPECT_EQ(scale.cyclic, 1);
        return scale.max_value;
    };
    EXPECT_EQ(scale_max(16, 8, false), 255);
    EXPECT_EQ(scale_max(24, 16, false), 65535);
    EXPECT_EQ(scale_max(16, 8, true), 32768);  // widened phase keeps the halved range
    ih.proc_status.iflags = 0x1000;            // only one of the two bits
    EXPECT_EQ(scale_max(16, 8, false), 128);
    EXPECT_EQ(scale_max(24, 16, false), 32768);
    ih.proc_status.iflags = PROC_STATUS_FULL_PHIDP;
    DspMaskSet(&ih.tcf.dsp.mask_orig, 16);
    EXPECT_EQ(scale_max(16, 8, false), 128);
}

TEST(DataBlockScaleTest, DescriptorsFollowTheConversionParameters) {
    ingest_header ih{};
    ih.tcf.dsp.iprf = 1000;
    ih.tcf.misc.iwavelength = 640;
    ih.tcf.dsp.itrig_rate = 1;  // Nyquist velocity 32 m/s
    const IDhdr header = data_header(3, 8, 1);
    BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
    native_data_desc scale;
    ASSERT_NE(dblock_get_scale(block.get(), &ih, &scale), nullptr);
    EXPECT_EQ(scale.bin_format, BITS_8);
    EXPECT_EQ(scale.min_value, 1);
    EXPECT_EQ(scale.max_value, 255);
    EXPECT_EQ(scale.cyclic, 1);
    EXPECT_DOUBLE_EQ(scale.step, 32.0 / 127);
    EXPECT_DOUBLE_EQ(scale.offset, -128 * 32.0 / 127);
    EXPECT_EQ(get_descriptor(nullptr, RD_VEL, 1, nullptr), nullptr);
    EXPECT_EQ(get_descriptor(&scale, 25, 1, nullptr), nullptr);
}

TEST(DataBlockEdgeTest, BlockWithoutRaysWidensToAbsentRays) {
    ingest_header ih{};
    const IDhdr header = data_header(16, 8, 3);
    BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
    dblock_force_16_bit(block.get());
    ASSERT_EQ(dblock_finalize(block.get(), &ih), 0);
    EXPECT_EQ(dblock_get_ihdr(block.get())->idata_type, 24);
    EXPECT_EQ(file_body(block.get()), Bytes(12, 0));
    EXPECT_EQ(lDspMaskTest(&ih.tcf.dsp.mask, 24), 1);
    // Rays added afterwards are 16-bit rays.
    EXPECT_EQ(add(block.get(), ray_words(16, {1, 2, 3})), DBLOCK_ADDED);
    EXPECT_EQ(pointer_at(block.get(), 0), 1);
}

TEST(DataBlockEdgeTest, NullTypeIsNotWidened) {
    ingest_header ih{};
    const IDhdr header = data_header(34, 8, 1);
    BlockHandle block(dblock_new_from_ihdr(&header, nullptr, 0));
    ASSERT_EQ(dblock_get_data_type(block.get()), RD_ANY);
    add(block.get(), ray_words(8, {5}));
    dblock_force_16_bit(block.get());
    EXPECT_EQ(dblock_finalize(block.get(), &ih), 0);
    EXPECT_EQ(dblock_get_ihdr(block.get())->ibits_bin, 8);
    EXPECT_EQ(dblock_get_ihdr(block.get())->hdr.iflags, 1);
    EXPECT_EQ(dblock_delete(nullptr), 1);
}

}  // namespace
