// Data blocks: the ingest data of one sweep and one data type, in ingest data file layout.
#include "pvol/data_block.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "data_block_internal.h"
#include "pvol_check.h"
#include "pvol/radar_utils.h"
#include "radar_utils_internal.h"

struct dblock {
    int data_type;         // moment type of the data
    int schedule_index;    // isweep - 1
    int stored_rays;       // ray positions filled so far, present or absent
    uint64_t next_offset;  // 1-based offset in the ray area where the next ray goes
    uint64_t size;         // bytes of ingest data held
    uint64_t capacity;     // bytes allocated for data when more than size, else 0
    bool widen;            // widen to 16 bits when finalized
    bool half_scale;       // differential phase uses half its code range
    unsigned char *data;   // IDhdr, ray pointers, ray area
};

namespace {

constexpr size_t kPointerSize = 4;
constexpr int kBinsWord = 4;  // ray header word holding the bin count

IDhdr *header_of(const dblock *block) {
    return reinterpret_cast<IDhdr *>(block->data);
}

uint64_t pointers_size(int ray_positions) {
    return ray_positions > 0 ? kPointerSize * static_cast<uint64_t>(ray_positions) : 0;
}

uint64_t ray_area_offset(const IDhdr *header) {
    return IDHDR_SIZE + pointers_size(header->irtotl);
}

int32_t read_pointer(const unsigned char *data, int position) {
    int32_t pointer;
    std::memcpy(&pointer, data + IDHDR_SIZE + kPointerSize * position, sizeof pointer);
    return pointer;
}

void write_pointer(unsigned char *data, int position, int32_t pointer) {
    std::memcpy(data + IDHDR_SIZE + kPointerSize * position, &pointer, sizeof pointer);
}

int ray_bins(const unsigned char *ray) {
    int16_t bins;
    std::memcpy(&bins, ray + 2 * kBinsWord, sizeof bins);
    return bins > 0 ? bins : 0;
}

// The moment type whose ORVA code at this bit depth is code; -1 when none.
int data_type_of_code(int code, int bits_per_bin) {
    for (int type = RD_ANY; type <= RD_HCLASS; ++type) {
        const raw_data_type_desc &row = raw_data_types[type + 1];
        PVOL_CHECK(row.type == type);
        if ((bits_per_bin == 8 ? row.orva_code_8 : row.orva_code_16) == code)
            return type;
    }
    return -1;
}

// Grows the ingest data to size bytes, zeroing the new ones unless the caller fills them at once;
// false (block unchanged) when out of memory or beyond what a data header can count. The
// allocation at least doubles, so that a block filled ray by ray reallocates only now and then.
bool grow(dblock *block, uint64_t size, bool zero = true) {
    if (size <= block->size)
        return true;
    if (size > INT32_MAX)
        return false;
    if (size > block->capacity) {
        const uint64_t capacity = std::min<uint64_t>(std::max(size, 2 * block->size), INT32_MAX);
        auto *data = static_cast<unsigned char *>(std::realloc(block->data, capacity));
        if (data == nullptr)
            return false;
        block->data = data;
        block->capacity = capacity;
    }
    if (zero)
        std::memset(block->data + block->size, 0, size - block->size);
    block->size = size;
    return true;
}

// Checks that every ray pointer of file data lies inside the ray area with its whole ray, and at an
// even offset so that its words are aligned. Returns the last position with a ray (-1 for none).
bool check_rays(const unsigned char *data, const IDhdr *header, uint64_t area_size, int *last) {
    const unsigned char *area = data + ray_area_offset(header);
    *last = -1;
    for (int position = 0; position < header->irtotl; ++position) {
        const int32_t pointer = read_pointer(data, position);
        if (pointer == 0)
            continue;
        if (pointer < 0)
            return false;
        const uint64_t offset = static_cast<uint64_t>(pointer) - 1;
        if (offset % 2 != 0 || offset + RAY_HEADER_SIZE > area_size)
            return false;
        const size_t length = ingest_ray_size(header->ibits_bin, ray_bins(area + offset));
        if (offset + length > area_size)
            return false;
        *last = position;
    }
    return true;
}

// floor(value + 0.5); the NaN of a sector that is not given counts as 0.
int round_or_zero(double value) {
    return std::isfinite(value) ? pvol_internal::round_half_up_to_int(value) : 0;
}

// Ray positions whose pointers the ingest data holds; a block still being filled holds fewer
// than irtotl, and the others count as absent.
int held_positions(const unsigned char *data, uint64_t size) {
    const auto *header = reinterpret_cast<const IDhdr *>(data);
    const uint64_t held = (size - IDHDR_SIZE) / kPointerSize;
    return static_cast<int>(std::min<uint64_t>(held, header->irtotl > 0 ? header->irtotl : 0));
}

}  // namespace

data_convert *ingest_data_convert(data_convert *conv, const ingest_header *ih) {
    FillDataConvert(conv, ih->tcf.dsp.iprf, ih->tcf.dsp.itrig_rate, ih->tcf.misc.iwavelength,
                    ih->tcf.misc.ipolarization, 0);
    return conv;
}

void convert_8to16(unsigned char *wide, const unsigned char *narrow, int position,
                   const ingest_header *ih) {
    const auto *wide_header = reinterpret_cast<const IDhdr *>(wide);
    const auto *narrow_header = reinterpret_cast<const IDhdr *>(narrow);
    PVOL_CHECK(wide_header->irtotl == narrow_header->irtotl);
    const unsigned char *ray =
        narrow + ray_area_offset(narrow_header) + read_pointer(narrow, position) - 1;
    unsigned char *out = wide + ray_area_offset(wide_header) + read_pointer(wide, position) - 1;
    std::memcpy(out, ray, RAY_HEADER_SIZE);

    data_convert conv;
    ingest_data_convert(&conv, ih);
    const int code8 = narrow_header->idata_type;
    const int code16 = wide_header->idata_type;
    const int bins = ray_bins(ray);
    for (int k = 0; k < bins; ++k) {
        const uint8_t v = ray[RAY_HEADER_SIZE + k];
        const uint16_t code =
            v == 0 ? 0 : iuser_to_data(fdata_to_user(v, code8, &conv), code16, &conv);
        std::memcpy(out + RAY_HEADER_SIZE + 2 * k, &code, sizeof code);
    }
    if (bins % 2 != 0)
        std::memset(out + RAY_HEADER_SIZE + 2 * bins, 0, 2);
}

unsigned char *ingest_to_16bit(unsigned char *data, uint64_t *size, ingest_header *ih) {
    const auto *narrow = reinterpret_cast<const IDhdr *>(data);
    if (narrow->ibits_bin == 16 || narrow->idata_type == DATA_TYPE_XHDR)
        return data;
    PVOL_CHECK(narrow->ibits_bin == 8);
    const int code8 = narrow->idata_type;
    const int type = data_type_of_code(code8, 8);
    if (type <= RD_ANY)
        return data;  // the null type and codes of no moment keep their bits
    const int code16 = raw_data_types[type + 1].orva_code_16;

    const int positions = held_positions(data, *size);
    const unsigned char *old_area = data + ray_area_offset(narrow);
    uint64_t new_size = ray_area_offset(narrow);
    for (int i = 0; i < positions; ++i) {
        const int32_t pointer = read_pointer(data, i);
        if (pointer != 0)
            new_size += ingest_ray_size(16, ray_bins(old_area + pointer - 1));
    }
    if (new_size > INT32_MAX)
        return nullptr;
    auto *wide = static_cast<unsigned char *>(std::calloc(new_size, 1));
    if (wide == nullptr)
        return nullptr;

    std::memcpy(wide, data, IDHDR_SIZE);
    auto *wide_header = reinterpret_cast<IDhdr *>(wide);
    wide_header->ibits_bin = 16;
    wide_header->idata_type = static_cast<int16_t>(code16);
    wide_header->hdr.ibytes = static_cast<int32_t>(new_size);

    uint64_t placed = 0;
    for (int i = 0; i < positions; ++i) {
        const int32_t pointer = read_pointer(data, i);
        if (pointer == 0)
            continue;
        write_pointer(wide, i, static_cast<int32_t>(placed + 1));
        convert_8to16(wide, data, i, ih);
        placed += ingest_ray_size(16, ray_bins(old_area + pointer - 1));
    }

    DspMaskClear(&ih->tcf.dsp.mask, code8);
    DspMaskSet(&ih->tcf.dsp.mask, code16);
    std::free(data);
    *size = new_size;
    return wide;
}

native_data_desc *get_descriptor(native_data_desc *desc, int data_type, int bytes_per_bin,
                                 const data_convert *conv) {
    if (desc == nullptr || data_type < RD_XHDR || data_type > RD_HCLASS)
        return nullptr;
    const raw_data_type_desc &row = raw_data_types[data_type + 1];
    PVOL_CHECK(row.type == data_type);
    const bool narrow = bytes_per_bin == 1;
    const int code = narrow ? row.orva_code_8 : row.orva_code_16;
    desc->bin_format = narrow ? BITS_8 : BITS_16;
    desc->max_value = narrow ? 255 : 65535;
    desc->min_value = 1;
    desc->under_threshold = 0;
    desc->not_scanned = 0;
    desc->cyclic = data_type == RD_VEL || data_type == RD_PHIDP;
    desc->step = fDataScalePerBit(code, conv);
    desc->offset = fDataStartValue(code, conv);
    return desc;
}

uint64_t sweep_ray_positions(const radar_sweep *sweep) {
    const radar_sweep_conf *sconf = rsweep_get_config(sweep);
    if (sweepconf_get_type(sconf) == SWEEP_MANUAL)
        return rsweep_get_ray_count(sweep);
    dscan sector = {NAN, NAN, 0};
    sweepconf_get_sector(sconf, &sector);
    return sector.count;
}

bool dblock_reserve(dblock *block, uint64_t bytes) {
    PVOL_CHECK(block != nullptr);
    if (bytes <= std::max(block->size, block->capacity) || bytes > INT32_MAX)
        return true;
    auto *data = static_cast<unsigned char *>(std::realloc(block->data, bytes));
    if (data == nullptr)
        return false;
    block->data = data;
    block->capacity = bytes;
    return true;
}

extern "C" {

dblock *dblock_new_from_ihdr(const IDhdr *header, const void *data, uint64_t size) {
    if (header == nullptr)
        return nullptr;
    if (header->ibits_bin != 8 && header->ibits_bin != 16)
        return nullptr;
    if (header->irtotl < 0)
        return nullptr;
    const int data_type = data_type_of_code(header->idata_type, header->ibits_bin);
    if (data_type < 0)
        return nullptr;

    const uint64_t total = data != nullptr ? size + IDHDR_SIZE : IDHDR_SIZE;
    int last_ray = -1;
    if (data != nullptr) {
        const uint64_t pointers = pointers_size(header->irtotl);
        if (static_cast<int64_t>(header->hdr.ibytes) != static_cast<int64_t>(total) ||
            size < pointers)
            return nullptr;
        // Validate against the file bytes as laid out after the header.
        auto *bytes = static_cast<unsigned char *>(std::malloc(total));
        if (bytes == nullptr)
            return nullptr;
        std::memcpy(bytes, header, IDHDR_SIZE);
        std::memcpy(bytes + IDHDR_SIZE, data, size);
        if (!check_rays(bytes, header, size - pointers, &last_ray)) {
            std::free(bytes);
            return nullptr;
        }
        auto *block = static_cast<dblock *>(std::calloc(1, sizeof(dblock)));
        if (block == nullptr) {
            std::free(bytes);
            return nullptr;
        }
        block->data = bytes;
        block->size = total;
        block->data_type = data_type;
        block->schedule_index = header->isweep - 1;
        block->next_offset = 1;
        if (last_ray >= 0) {
            const int32_t pointer = read_pointer(bytes, last_ray);
            const unsigned char *ray = bytes + IDHDR_SIZE + pointers + pointer - 1;
            block->stored_rays = last_ray + 1;
            block->next_offset = pointer + ingest_ray_size(header->ibits_bin, ray_bins(ray));
        }
        return block;
    }

    auto *block = static_cast<dblock *>(std::calloc(1, sizeof(dblock)));
    if (block == nullptr)
        return nullptr;
    block->data = static_cast<unsigned char *>(std::malloc(IDHDR_SIZE));
    if (block->data == nullptr) {
        std::free(block);
        return nullptr;
    }
    std::memcpy(block->data, header, IDHDR_SIZE);
    block->size = IDHDR_SIZE;
    block->data_type = data_type;
    block->schedule_index = header->isweep - 1;
    block->next_offset = 1;
    return block;
}

dblock *dblock_new_from_sweep(const radar_sweep *sweep, const radar_moment *moment,
                              int bin_format) {
    PVOL_CHECK(sweep != nullptr);
    const radar_sweep_conf *sconf = rsweep_get_config(sweep);
    if (sweepconf_get_rayconf_count(sconf) != 1)
        return nullptr;
    const int type = rmoment_get_raw_type(moment);
    if (type < RD_DBT || type > RD_HCLASS)
        return nullptr;
    if (bin_format != BITS_8 && bin_format != BITS_16)
        return nullptr;
    dscan sector = {NAN, NAN, 0};
    sweepconf_get_sector(sconf, &sector);
    const uint64_t positions = sweep_ray_positions(sweep);
    if (positions > INT16_MAX)
        return nullptr;

    // The sweep number is stored as schedule index + 1 in 16 bits and read back only when positive.
    const int schedule_index = rsweep_get_schedule_index(sweep);
    if (schedule_index < 0 || schedule_index >= INT16_MAX)
        return nullptr;

    IDhdr header{};
    header.hdr.id = ST_INGEST_DATA;
    header.hdr.iversion = ST_INGEST_DATA_VERSION;
    header.hdr.ibytes = IDHDR_SIZE;
    struct timeval time;
    rsweep_get_time(sweep, &time);
    if (time.tv_sec != 0 || time.tv_usec != 0)
        timeval2ymds(&header.sweep_time, &time);
    header.isweep = static_cast<int16_t>(schedule_index + 1);
    header.irays_full = static_cast<int16_t>(round_or_zero(2.0 * M_PI / sector.step));
    header.ifirst_ray = static_cast<int16_t>(round_or_zero(sector.start / sector.step));
    header.irtotl = static_cast<int16_t>(positions);
    header.ifixed_angle = static_cast<uint16_t>(iBin2FromRadian(rsweep_get_fixed_angle(sweep)));
    header.ibits_bin = bin_format == BITS_8 ? 8 : 16;
    const raw_data_type_desc &row = raw_data_types[type + 1];
    PVOL_CHECK(row.type == type);
    header.idata_type =
        static_cast<int16_t>(bin_format == BITS_8 ? row.orva_code_8 : row.orva_code_16);
    return dblock_new_from_ihdr(&header, nullptr, 0);
}

int dblock_add_ingest_ray(dblock *block, const uint16_t *ray, uint64_t words) {
    PVOL_CHECK(block != nullptr);
    IDhdr *header = header_of(block);
    if (block->stored_rays >= header->irtotl)
        return DBLOCK_FULL;
    uint64_t needed = ray_area_offset(header);
    int bins = 0;
    if (ray != nullptr) {
        if (words < RAY_HEADER_WORDS)
            return DBLOCK_BAD_RAY;
        bins = ray_bins(reinterpret_cast<const unsigned char *>(ray));
    }
    const int position = block->stored_rays;
    if (bins == 0) {
        if (!grow(block, needed))
            return DBLOCK_NO_MEMORY;
        header = header_of(block);
        write_pointer(block->data, position, 0);
    } else {
        const size_t length = ingest_ray_size(header->ibits_bin, bins);
        if (2 * words < length)
            return DBLOCK_BAD_RAY;
        // The pointers are zeroed once; the ray starts at or before the end of the data, so its
        // bytes, copied in right away, cover all that grows after them.
        if (!grow(block, needed))
            return DBLOCK_NO_MEMORY;
        needed += length + block->next_offset - 1;
        if (!grow(block, needed, false))
            return DBLOCK_NO_MEMORY;
        header = header_of(block);
        write_pointer(block->data, position, static_cast<int32_t>(block->next_offset));
        std::memcpy(block->data + ray_area_offset(header) + block->next_offset - 1, ray, length);
        block->next_offset += length;
        ++header->iwritten;
    }
    ++block->stored_rays;
    // The count covers the pointers too, so that a block of absent rays still reads as data.
    header->hdr.ibytes = static_cast<int32_t>(block->size);
    return DBLOCK_ADDED;
}

dblock *dblock_force_16_bit(dblock *block) {
    PVOL_CHECK(block != nullptr);
    block->widen = true;
    return block;
}

int dblock_finalize(dblock *block, ingest_header *ih) {
    PVOL_CHECK(block != nullptr);
    PVOL_CHECK(ih != nullptr);
    block->half_scale = false;
    bool widened = false;
    if (block->widen && header_of(block)->ibits_bin != 16) {
        uint64_t size = block->size;
        unsigned char *data = ingest_to_16bit(block->data, &size, ih);
        if (data == nullptr)
            return 1;
        widened = data != block->data;
        if (widened) {
            block->data = data;
            block->size = size;
            block->capacity = 0;
            // Rays now lie back to back from the start of the area.
            block->next_offset = size - ray_area_offset(header_of(block)) + 1;
        }
    }
    if (widened) {
        block->half_scale = true;
    } else {
        block->half_scale =
            lDspMaskTest(&ih->tcf.dsp.mask_orig, 16) != 0 ||
            (ih->proc_status.iflags & PROC_STATUS_FULL_PHIDP) != PROC_STATUS_FULL_PHIDP;
    }
    header_of(block)->hdr.iflags = 1;
    return 0;
}

int dblock_get_ray_count(const dblock *block) {
    PVOL_CHECK(block != nullptr);
    return header_of(block)->irtotl;
}

const uint16_t *dblock_get_ingest_ray(const dblock *block, int position) {
    PVOL_CHECK(block != nullptr);
    if (position < 0 || position >= block->stored_rays)
        return nullptr;
    const int32_t pointer = read_pointer(block->data, position);
    if (pointer == 0)
        return nullptr;
    return reinterpret_cast<const uint16_t *>(block->data + ray_area_offset(header_of(block)) +
                                              pointer - 1);
}

radar_ray_data *dblock_get_radar_ray_data(const dblock *block, radar_ray_data *view, int position) {
    PVOL_CHECK(view != nullptr);
    const uint16_t *ray = dblock_get_ingest_ray(block, position);
    const int bits = header_of(block)->ibits_bin;
    if (ray == nullptr || (bits != 8 && bits != 16))
        return nullptr;
    view->type = bits == 8 ? BITS_8 : BITS_16;
    view->data = const_cast<uint16_t *>(ray + RAY_HEADER_WORDS);
    view->bins = static_cast<uint64_t>(ray_bins(reinterpret_cast<const unsigned char *>(ray)));
    view->capacity = 0;
    return view;
}

native_data_desc *dblock_get_scale(const dblock *block, const ingest_header *ih,
                                   native_data_desc *desc) {
    PVOL_CHECK(block != nullptr);
    PVOL_CHECK(ih != nullptr);
    data_convert conv;
    ingest_data_convert(&conv, ih);
    if (get_descriptor(desc, block->data_type, header_of(block)->ibits_bin / 8, &conv) == nullptr)
        return nullptr;
    if (block->half_scale && block->data_type == RD_PHIDP)
        desc->max_value = static_cast<uint16_t>((desc->max_value >> 1) + 1);
    return desc;
}

int dblock_delete(dblock *block) {
    if (block == nullptr)
        return 1;
    std::free(block->data);
    std::free(block);
    return 0;
}

int dblock_get_data_type(const dblock *block) {
    PVOL_CHECK(block != nullptr);
    return block->data_type;
}

int dblock_get_schedule_index(const dblock *block) {
    PVOL_CHECK(block != nullptr);
    return block->schedule_index;
}

const IDhdr *dblock_get_ihdr(const dblock *block) {
    PVOL_CHECK(block != nullptr);
    return header_of(block);
}

const void *dblock_get_ingest_data(const dblock *block, uint64_t *size) {
    PVOL_CHECK(block != nullptr);
    if (size != nullptr)
        *size = block->size;
    return block->data;
}

}  // extern "C"
