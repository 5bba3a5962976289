#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// The process's committed memory in bytes, or 0 when the system cannot tell.
int64_t committedMemoryBytes();

// `bytes` of zeroed memory for a large table probed at random, or null when
// it cannot be had. Where the system offers them it comes in large pages:
// one fault on first touch per 2 MiB instead of per 4 KiB, and far fewer
// address-translation misses. The system hands the pages out as they are
// first touched, so a large table costs nothing before it is used. Given
// back with releaseLargeZeroed and the same `bytes`.
void* allocateLargeZeroed(size_t bytes);
void releaseLargeZeroed(void* memory, size_t bytes);

}  // namespace platform
