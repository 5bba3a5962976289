#include "platform/shared_file.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
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

void ignoreFileSizeSignal() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace platform
