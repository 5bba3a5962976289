#pragma once
#include <string>
#include <vector>

namespace platform {

// Fills names with the entries of a directory in the order the system gives
// them ("." and ".." are never listed). False when path is not a listable directory.
bool listDirectory(const std::string& path, std::vector<std::string>& names);

// Creates a directory; the result is deliberately not reported.
void makeDirectory(const std::string& path);

}  // namespace platform
