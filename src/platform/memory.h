#pragma once
#include <cstdint>

namespace platform {

// The process's committed memory in bytes, or 0 when the system cannot tell.
int64_t committedMemoryBytes();

}  // namespace platform
