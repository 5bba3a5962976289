#pragma once
#include <string>

namespace platform {

// Opening a FIFO or a device for reading can block for ever, so anything
// read from a path the user names is asked first what it is.
enum class FileKind { Missing, Regular, Directory, Other };

// Follows symbolic links; a path that cannot be examined counts as missing.
FileKind fileKind(const std::string& path);

}  // namespace platform
