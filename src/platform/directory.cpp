#include "platform/directory.h"

#include <filesystem>
#include <system_error>

namespace platform {

bool listDirectory(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::error_code error;
    std::filesystem::directory_iterator it(path, error);
    if (error) return false;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        names.push_back(it->path().filename().string());
    }
    return true;
}

void makeDirectory(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directory(path, ignored);
}

}  // namespace platform
