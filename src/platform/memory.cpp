#include "platform/memory.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace platform {

#ifndef _WIN32
namespace {

// The proof-number search asks once per iteration, so the file stays open and
// is read again from its start; a forked child opens its own.
int statmDescriptor() {
    static int descriptor = -1;
    static bool stale = true;
    static const int registered = pthread_atfork(nullptr, nullptr, [] { stale = true; });
    (void)registered;
    if (stale) {
        if (descriptor >= 0) close(descriptor);
        descriptor = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
        stale = false;
    }
    return descriptor;
}

}  // namespace
#endif

int64_t committedMemoryBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<int64_t>(counters.PagefileUsage);
#else
    // The resident set is the part of the address space backed by memory; the
    // total size would count reserved but untouched mappings (and, in sanitizer
    // builds, terabytes of shadow space).
    const int descriptor = statmDescriptor();
    if (descriptor < 0) return 0;
    char text[128];
    const ssize_t length = pread(descriptor, text, sizeof text - 1, 0);
    if (length <= 0) return 0;
    text[length] = '\0';
    char* end = nullptr;
    std::strtoll(text, &end, 10);  // the total size, passed over
    const long long residentPages = std::strtoll(end, &end, 10);
    static const long pageSize = sysconf(_SC_PAGESIZE);
    return static_cast<int64_t>(residentPages) * pageSize;
#endif
}

}  // namespace platform
