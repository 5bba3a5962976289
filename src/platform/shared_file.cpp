#include "platform/shared_file.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace platform {

namespace {

#ifdef _WIN32
// Windows locks are mandatory for the bytes they cover, so the lock covers one
// byte far beyond any data instead of the records that readers need.
constexpr DWORD LockOffsetLow = 0xFFFFFFF0u;
constexpr DWORD LockOffsetHigh = 0x7FFFFFFFu;

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

bool tryLock(std::FILE* file, LockMode mode) {
    OVERLAPPED where = {};
    where.Offset = LockOffsetLow;
    where.OffsetHigh = LockOffsetHigh;
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (mode == LockMode::Exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    return LockFileEx(handleOf(file), flags, 0, 1, 0, &where) != 0;
}
#else
// flock belongs to the open file, not to the process: closing another stream
// on the same file (a check, a test) leaves this lock alone.
bool tryLock(std::FILE* file, LockMode mode) {
    const int operation = (mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (;;) {
        if (flock(fileno(file), operation) == 0) return true;
        if (errno != EINTR) return false;
    }
}
#endif

}  // namespace

bool lockFile(std::FILE* file, LockMode mode, int32_t waitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
    for (;;) {
        if (tryLock(file, mode)) return true;
        if (Clock::now() >= until) return false;
        // Stores take milliseconds; a short sleep keeps the wait close to its bound.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void unlockFile(std::FILE* file) {
#ifdef _WIN32
    OVERLAPPED where = {};
    where.Offset = LockOffsetLow;
    where.OffsetHigh = LockOffsetHigh;
    UnlockFileEx(handleOf(file), 0, 1, 0, &where);
#else
    flock(fileno(file), LOCK_UN);
#endif
}

bool truncateFile(std::FILE* file, int64_t size) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return _chsize_s(_fileno(file), size) == 0;
#else
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

#ifdef _WIN32
namespace {

OVERLAPPED at(int64_t offset) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

}  // namespace

bool readAt(std::FILE* file, int64_t offset, void* bytes, size_t size) {
    auto* to = static_cast<char*>(bytes);
    while (size > 0) {
        OVERLAPPED where = at(offset);
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!ReadFile(handleOf(file), to, want, &got, &where) || got == 0) return false;
        to += got;
        offset += got;
        size -= got;
    }
    return true;
}

bool writeAt(std::FILE* file, int64_t offset, const void* bytes, size_t size) {
    OVERLAPPED where = at(offset);
    DWORD put = 0;
    return size <= 0xFFFFFFFFu && WriteFile(handleOf(file), bytes, static_cast<DWORD>(size), &put, &where) &&
           put == size;
}

int64_t fileSize(std::FILE* file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(handleOf(file), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

int64_t dataFrom(std::FILE*, int64_t offset) { return offset; }
#else
// A long read may come back in parts; a part of 0 bytes is the file's end.
bool readAt(std::FILE* file, int64_t offset, void* bytes, size_t size) {
    auto* to = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t got = pread(fileno(file), to, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got;
        offset += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// One attempt: a write that stops short has met a full disk or the file-size
// limit, and a second one would only meet it again (or the signal).
bool writeAt(std::FILE* file, int64_t offset, const void* bytes, size_t size) {
    for (;;) {
        const ssize_t put = pwrite(fileno(file), bytes, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        return put >= 0 && static_cast<size_t>(put) == size;
    }
}

int64_t fileSize(std::FILE* file) {
    struct stat status;
    return fstat(fileno(file), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

int64_t dataFrom(std::FILE* file, int64_t offset) {
#ifdef SEEK_DATA
    const off_t data = lseek(fileno(file), static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return data;
    if (errno == ENXIO) return -1;
#endif
    return offset;
}
#endif

void ignoreFileSizeSignal() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace platform
