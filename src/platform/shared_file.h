#pragma once
#include <cstdint>
#include <cstdio>

namespace platform {

// What a file that several processes read and write at once needs from the
// system. The lock is advisory: it keeps cooperating processes apart and
// never stops a plain read or write.
enum class LockMode { Shared, Exclusive };

// Tries to lock the whole file for as long as waitMs (0: one attempt only).
// False when another process kept a conflicting lock that long.
bool lockFile(std::FILE* file, LockMode mode, int32_t waitMs);
void unlockFile(std::FILE* file);

// Cuts the file to size bytes through its open stream.
bool truncateFile(std::FILE* file, int64_t size);

// A write past the process's file-size limit then fails with an error instead
// of killing the process in the middle of a store.
void ignoreFileSizeSignal();

}  // namespace platform
