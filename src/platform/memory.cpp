#include "platform/memory.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace platform {

#ifndef _WIN32
namespace {

constexpr size_t LargePage = size_t{2} << 20;

size_t roundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

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

#ifdef _WIN32
void* allocateLargeZeroed(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void releaseLargeZeroed(void* memory, size_t) {
    if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}
#else
void* allocateLargeZeroed(size_t bytes) {
    static const size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    bytes = roundUp(bytes, pageSize);
    if (bytes < LargePage) {
        void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return memory == MAP_FAILED ? nullptr : memory;
    }
    // Large pages need an aligned start: map a large page more and give
    // back what lies outside the aligned part.
    const size_t mapped = bytes + LargePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    char* const first = static_cast<char*>(raw);
    char* const start = first + (roundUp(reinterpret_cast<uintptr_t>(first), LargePage) - reinterpret_cast<uintptr_t>(first));
    if (start > first) munmap(first, static_cast<size_t>(start - first));
    if (first + mapped > start + bytes) munmap(start + bytes, static_cast<size_t>(first + mapped - (start + bytes)));
    // Only a hint: without large pages the table works as well, slower.
    madvise(start, bytes, MADV_HUGEPAGE);
    return start;
}

void releaseLargeZeroed(void* memory, size_t bytes) {
    static const size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (memory) munmap(memory, roundUp(bytes, pageSize));
}
#endif

}  // namespace platform
