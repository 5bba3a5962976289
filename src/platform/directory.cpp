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

bool publishFile(const std::string& written, const std::string& target) {
    std::error_code error;
    // A link never replaces a file that exists, where a rename would.
    std::filesystem::create_hard_link(written, target, error);
    bool published = !error;
    if (!published && !std::filesystem::exists(target)) {
        // A file system without hard links: a rename, checked just before.
        std::error_code renameError;
        std::filesystem::rename(written, target, renameError);
        published = !renameError;
    }
    std::error_code ignored;
    std::filesystem::remove(written, ignored);
    return published;
}

}  // namespace platform
