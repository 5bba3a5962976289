#pragma once
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "knowledge/experience_database.h"
#include "knowledge/game_records.h"

// Every target works in a folder of its own below the system's temporary
// folder, which it makes its working directory, so that the engine's data
// folder tarvo/ is the target's.
inline std::filesystem::path enterScratchFolder(const char* name) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (std::string(name) + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "tarvo");
    std::filesystem::current_path(folder);
    return folder;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
}

// A small experience file of three stored games, as play leaves one.
inline void writeSmallExperienceFile(const std::string& path) {
    ExperienceDatabase database;
    database.createFile(path);
    const std::vector<std::vector<int32_t>> games = {
        {189, 190, 169, 168, 149, 129, 209, 229},
        {189, 190, 169, 168, 209, 149, 229, 249, 129},
        {189, 168, 210, 231, 252, 147, 126, 105, 84},
    };
    for (std::vector<int32_t> moves : games) {
        const int value = judgeGame(moves);
        std::ostringstream out;
        if (value != Unsuitable) saveGame(database, moves, value, out);
    }
    database.close();
}
