#pragma once
#include <string>

namespace platform {

// The folder that holds the running executable, as a path the narrow file
// functions can open; empty when the system cannot tell.
std::string executableDirectory();

}  // namespace platform
