#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A fresh temporary working directory for the life of the object.
struct ScratchDirectory {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path path;

    explicit ScratchDirectory(bool withDataDirectory = true) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
        std::filesystem::current_path(path);
        if (withDataDirectory) std::filesystem::create_directory("tarvo");
    }
    ~ScratchDirectory() {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline std::string fileText(const std::string& name) {
    std::ifstream file(name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
