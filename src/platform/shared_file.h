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

// Reads and writes at an offset in one system call each, past the stream's
// buffer and position (use them only on unbuffered streams). readAt is true
// only when all size bytes were read, writeAt when all were written.
bool readAt(std::FILE* file, int64_t offset, void* bytes, size_t size);
bool writeAt(std::FILE* file, int64_t offset, const void* bytes, size_t size);
// The file's size now, -1 when it cannot be told.
int64_t fileSize(std::FILE* file);
// Where data may lie at or after offset in a file with holes (which read as
// zeros): offset itself where the system cannot tell, -1 past the last data.
int64_t dataFrom(std::FILE* file, int64_t offset);

// A write past the process's file-size limit then fails with an error instead
// of killing the process in the middle of a store.
void ignoreFileSizeSignal();

}  // namespace platform
