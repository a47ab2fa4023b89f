// Radar platform positions.
#include "pvol/nav_system.h"

#include <cstdlib>
#include <cstring>

#include "nav_system_internal.h"
#include "pvol_check.h"

namespace {

rposition *new_position(int32_t type) {
    auto *pos = static_cast<rposition *>(std::calloc(1, sizeof(rposition)));
    if (pos == nullptr)
        return nullptr;
    pos->ref = 1;
    pos->type = type;
    return pos;
}

}  // namespace

rposition *rposition_new_fixed(const rposition_fixed *fixed) {
    rposition *pos = new_position(RPOSITION_FIXED);
    if (pos != nullptr && fixed != nullptr)
        pos->fixed = *fixed;
    return pos;
}

rposition *rposition_new_moving(void) {
    return new_position(RPOSITION_MOVING);
}

int rposition_get_type(const rposition *pos) {
    PVOL_CHECK(pos != nullptr);
    return pos->type;
}

double *rposition_get_orientation(const rposition *pos, double *out) {
    PVOL_CHECK(pos != nullptr);
    out[0] = pos->orientation[0];
    out[1] = pos->orientation[1];
    return out;
}

rposition_fixed *rposition_get_fixed(const rposition *pos, rposition_fixed *out) {
    PVOL_CHECK(pos != nullptr);
    if (pos->type != RPOSITION_FIXED)
        return nullptr;
    *out = pos->fixed;
    return out;
}

rposition_nav *rposition_get_nav(const rposition *pos, int index, rposition_nav *out) {
    PVOL_CHECK(pos != nullptr);
    if (pos->type != RPOSITION_MOVING || index < 0 ||
        static_cast<uint64_t>(index) >= pos->nav_count) {
        return nullptr;
    }
    *out = pos->nav[index];
    return out;
}

int rposition_is_equiv(const rposition *a, const rposition *b) {
    PVOL_CHECK(a != nullptr);
    PVOL_CHECK(b != nullptr);
    // Positions of different kinds never describe the same platform.
    if (a->type != b->type)
        return 0;
    if (a->type == RPOSITION_FIXED) {
        return std::memcmp(&a->fixed, &b->fixed, sizeof a->fixed) == 0 ? 1 : 0;
    }
    if (a->type == RPOSITION_MOVING) {
        if (a->nav_count != b->nav_count)
            return 0;
        if (a->nav_count == 0)
            return 1;
        return std::memcmp(a->nav, b->nav, a->nav_count * sizeof(rposition_nav)) == 0 ? 1 : 0;
    }
    return 0;
}

rposition *rposition_ref(rposition *pos) {
    PVOL_CHECK(pos != nullptr);
    if (pos->ref == 0)
        return nullptr;
    ++pos->ref;
    return pos;
}

void rposition_unref(rposition *pos) {
    if (pos == nullptr || pos->ref == 0)
        return;
    if (--pos->ref > 0)
        return;
    if (pos->type == RPOSITION_MOVING && pos->nav_count > 0)
        std::free(pos->nav);
    std::free(pos);
}
