#include "platform/data_directory.h"

#include <filesystem>
#include <system_error>

#include "platform/executable_path.h"

namespace platform {

namespace {

constexpr std::string_view DataFolder = "tarvo";

bool isDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

}  // namespace

std::string dataPath(std::string_view relative) {
    const std::string path(relative);
    if (isDirectory(std::string(DataFolder))) return path;
    const std::string besideExecutable = executableDirectory();
    if (besideExecutable.empty() || !isDirectory(besideExecutable + "/" + std::string(DataFolder))) return path;
    return besideExecutable + "/" + path;
}

}  // namespace platform
