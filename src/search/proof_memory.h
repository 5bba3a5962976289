#pragma once
#include <cstddef>
#include <cstdint>

// The proof-number search's memory limit on the process's committed memory.
// The figure costs a system call, so it is read again only once the process
// may have grown enough to reach the limit since the last reading: every
// allocation of the graph is counted here.

// An allocation of the graph of `bytes`.
void countAllocation(size_t bytes);
// A search against memoryLimit begins: it goes on from the last reading if
// the caller asked for that (carryMemoryReading) and the limit is the same.
void startMemoryAccounting(int64_t memoryLimit);
// False once the committed memory has reached the limit; reads it only when
// the growth since the last reading could have.
bool memoryBelowLimit(int64_t memoryLimit);
// The next check reads the figure afresh (at the limit, or after a pruning
// freed memory).
void forgetMemoryReading();
// Lets the next search go on from the memory figure that the last one read,
// for a caller that allocates under a MiB between the two.
void carryMemoryReading();
