#include "platform/memory.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fstream>
#include <unistd.h>
#endif

namespace platform {

int64_t committedMemoryBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<int64_t>(counters.PagefileUsage);
#else
    // The resident set is the part of the address space backed by memory; the
    // total size would count reserved but untouched mappings (and, in sanitizer
    // builds, terabytes of shadow space).
    std::ifstream statm("/proc/self/statm");
    int64_t sizePages = 0, residentPages = 0;
    if (!(statm >> sizePages >> residentPages)) return 0;
    return residentPages * static_cast<int64_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace platform
