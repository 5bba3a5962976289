#include "knowledge/experience_database.h"

#include <vector>

#include "knowledge/game_line.h"
#include "platform/data_directory.h"
#include "platform/shared_file.h"

// The knowledge base's one object. Its work is kept by concern: the record
// file and its links (experience_file.cpp), the store with its lock
// (experience_store.cpp, store_stamp.cpp, store_recovery.cpp), what is known
// of the file in memory (experience_cache.cpp, record_cache.cpp), the game
// cursor (game_cursor.cpp, symmetry_frame.cpp) and the reply policy
// (reply_policy.cpp).

ExperienceDatabase experienceDatabase;

bool GameStore::prepareGame(std::vector<int32_t>&) { return true; }

// A game is stored from its first move up to its first move near the edge
// or its first move that cannot be keyed.
bool ExperienceDatabase::prepareGame(std::vector<int32_t>& moves) { return !prepareLine(moves).refused(); }

void ExperienceDatabase::openAtStartUp() {
    // Also for a database that "db create" makes later in the run.
    platform::ignoreFileSizeSignal();
    const bool opened = open(platform::dataPath(platform::ExperienceFilePath));
    consultEnabled = opened;
    learnEnabled = opened;
}

ExperienceDatabase::~ExperienceDatabase() {
    if (file) std::fclose(file);
}
