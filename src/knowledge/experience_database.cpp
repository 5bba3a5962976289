#include "knowledge/experience_database.h"

#include <vector>

#include "board/cell.h"
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

namespace {

bool isEdgeCoordinate(int value) { return value < 3 || value > 16; }
bool nearEdge(int cell) { return isEdgeCoordinate(cellX(cell)) || isEdgeCoordinate(cellY(cell)); }

}  // namespace

// A game is stored from its first move up to its first move near the edge.
bool ExperienceDatabase::prepareGame(std::vector<int32_t>& moves) {
    if (moves.size() < 5) return false;
    if (nearEdge(moves[0])) return false;
    SymmetryFrame gameFrame;
    std::vector<int32_t> keys;
    for (const int32_t move : moves) {
        if (nearEdge(move)) break;
        keys.push_back(normalise(gameFrame, move));
    }
    // Keys do not always tell far-apart offsets apart, so every kept move must
    // come back as the cell it was, in a cut game as in a whole one.
    for (size_t k = 0; k < keys.size(); ++k)
        if (denormalise(gameFrame, keys[k]) != moves[k]) throw DatabaseError{};
    moves = keys;
    return true;
}

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
