#include "platform/data_directory.h"

#include <filesystem>
#include <system_error>

#include "platform/executable_path.h"

namespace platform {

namespace {

constexpr std::string_view DataFolder = "tarvo";

std::string dataRoot;

bool isDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

std::string besideExecutable() {
    const std::string folder = executableDirectory();
    if (folder.empty() || !isDirectory(folder + "/" + std::string(DataFolder))) return "";
    return folder;
}

}  // namespace

std::string dataPath(std::string_view relative) {
    const std::string path(relative);
    if (!dataRoot.empty()) return dataRoot + "/" + path;
    if (isDirectory(std::string(DataFolder))) return path;
    const std::string folder = besideExecutable();
    return folder.empty() ? path : folder + "/" + path;
}

bool dataFolderFound() { return isDirectory(std::string(DataFolder)) || !besideExecutable().empty(); }

void useDataRoot(const std::string& root) { dataRoot = root; }

}  // namespace platform
