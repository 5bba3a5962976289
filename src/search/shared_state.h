#pragma once
#include <cstdint>

// Process-wide state of the search subsystem (single thread).
extern int32_t moveDeadline;  // clock reading at which searches turn nodes into leaves
