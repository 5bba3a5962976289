#include "search/proof_memory.h"

#include "platform/memory.h"

namespace {

// Every allocation counts its size plus a generous allowance for the
// allocator's own pages; whatever else may grow meanwhile (stack, code and
// tables touched for the first time) is kept back as a fixed reserve below
// the limit.
constexpr int64_t AllocationAllowance = 64 * 1024;
constexpr int64_t UnaccountedGrowth = 16 * 1024 * 1024;
int64_t grownSinceReading = 0;
int64_t headroom = 0;  // growth since the last reading that cannot reach the limit
// A caller that allocates little between searches lets the next one start from
// the last reading, counting this much for whatever it allocated meanwhile.
constexpr int64_t BetweenSearches = 1024 * 1024;
bool carryReading = false;
int64_t headroomLimit = 0;  // the limit that headroom was worked out against

}  // namespace

void countAllocation(size_t bytes) { grownSinceReading += static_cast<int64_t>(bytes) + AllocationAllowance; }

void startMemoryAccounting(int64_t memoryLimit) {
    if (carryReading && memoryLimit == headroomLimit)
        grownSinceReading += BetweenSearches;
    else
        headroom = 0;
    carryReading = false;
    headroomLimit = memoryLimit;
}

bool memoryBelowLimit(int64_t memoryLimit) {
    if (grownSinceReading < headroom) return true;
    const int64_t committed = platform::committedMemoryBytes();
    if (committed >= memoryLimit) return false;
    headroom = memoryLimit - committed - UnaccountedGrowth;
    grownSinceReading = 0;
    return true;
}

void forgetMemoryReading() { headroom = 0; }

void carryMemoryReading() { carryReading = true; }
