#pragma once
#include <string>
#include <vector>

namespace platform {

// Fills names with the entries of a directory in the order the system gives
// them ("." and ".." are never listed). False when path is not a listable directory.
bool listDirectory(const std::string& path, std::vector<std::string>& names);

// Creates a directory; the result is deliberately not reported.
void makeDirectory(const std::string& path);

// Gives the whole file at `written` the name `target`, unless a file of that
// name exists already (another process may have made it the same moment):
// the file is either there before or appears whole. `written` is gone
// afterwards. False when target was not made from it.
bool publishFile(const std::string& written, const std::string& target);

}  // namespace platform
