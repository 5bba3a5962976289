#pragma once
#include <cstdint>

namespace platform {

// Milliseconds as seconds * 1000 + milliseconds of the time of day, folded into
// 32 bits. The value wraps; only differences and comparisons mean anything.
int32_t clockMs();

// a - b of two clock readings, wrapping like the clock itself.
inline int32_t clockDiff(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A reading plus a signed offset, wrapping.
inline int32_t clockAdd(int32_t a, int32_t offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(offset));
}

}  // namespace platform
