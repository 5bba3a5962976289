#include "platform/data_directory.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/directory.h"
#include "platform/executable_path.h"

namespace platform {

namespace {

constexpr char Separator = static_cast<char>(std::filesystem::path::preferred_separator);

std::string dataRoot;

bool isDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

// Paths are put together with '/', which every system's file functions take;
// what is shown to a user has the platform's own separator throughout.
std::string nativePath(std::string path) {
    if constexpr (Separator != '/') std::replace(path.begin(), path.end(), '/', Separator);
    return path;
}

std::string joined(const std::string& folder, std::string_view name) {
    const bool separated = !folder.empty() && (folder.back() == '/' || folder.back() == Separator);
    return folder + (separated ? "" : "/") + std::string(name);
}

std::string besideExecutable() {
    const std::string folder = executableDirectory();
    if (folder.empty() || !isDirectory(joined(folder, DataFolder))) return "";
    return folder;
}

}  // namespace

std::string nodeFilePath(int toEnd) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", toEnd);
    return std::string(NodeFilePrefix) + digits + ".bin";
}

std::string problemFilePath(int set, int number, char side) {
    char name[48];
    std::snprintf(name, sizeof name, side == 'a' ? "%d/%06d-a.dat" : "%d/%06d-b.dat", set, number);
    return std::string(ProblemFolderPrefix) + name;
}

std::string pendingStorePath(const std::string& experiencePath) { return experiencePath + ".pending"; }

std::string storeStampPath(const std::string& experiencePath) { return experiencePath + ".stamp"; }

std::string dataPath(std::string_view relative) {
    const std::string path(relative);
    if (!dataRoot.empty()) return dataPathBelow(dataRoot, relative);
    if (isDirectory(std::string(DataFolder))) return nativePath(path);
    const std::string folder = besideExecutable();
    return nativePath(folder.empty() ? path : joined(folder, path));
}

std::string dataPathBelow(const std::string& root, std::string_view relative) {
    return nativePath(joined(root, relative));
}

bool dataFolderFound() { return isDirectory(std::string(DataFolder)) || !besideExecutable().empty(); }

void useDataRoot(const std::string& root) { dataRoot = root; }

std::string brainFolderIn(const std::string& folder) { return nativePath(joined(folder, BrainFolderName)); }

bool makeBrainFolder(const std::string& folder) {
    // A manager names the folder for its brains' files and may leave the
    // making of it to them.
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const std::string root = brainFolderIn(folder);
    makeDirectory(root);
    makeDirectory(joined(root, DataFolder));
    return isDirectory(joined(root, DataFolder));
}

}  // namespace platform
