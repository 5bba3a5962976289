#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "protocol/game_session.h"
#include "search/turn_search.h"

// A level other than the tournament play's: a depth other than 7 or a node cap.
bool levelIsSet(const GameSession& game);

// INFO max_depth and INFO max_node: N > 0 sets the level, -1 or 0 takes it
// back to the tournament play's. False for a value that is no integer (the
// level stays).
bool setLevelDepth(GameSession& game, std::string_view value);
bool setLevelNodes(GameSession& game, std::string_view value);

// The largest table INFO hash_size can give the deeper search.
constexpr size_t MaxTableBytes = size_t{1} << 30;

// The deeper search's table size in bytes: INFO hash_size when sent, else
// half the memory budget; within half of an INFO max_memory when one was
// sent, and never above 1 GiB.
size_t tableBytes(const GameSession& game);
// yxhashclear, RESTART: the table forgets every position.
void clearSearchTable(GameSession& game);

// The turn's search at the game's level against moveDeadline (set by the
// caller from startMs): today's search at a depth below 7, capped at the
// level's nodes; above 7 the deeper search, which shows its iterations and
// root moves in the GUIs' words when INFO show_detail asks for them, and
// stops early when the input asks it to. Throws std::bad_alloc when no copy
// of the position can be made.
SearchReport searchAtLevel(GameSession& game, int32_t startMs);
// The same for every root move, best first, the first `count` of them with
// exact values (yxnbest; a turn that may avoid a stored lost line).
std::vector<SearchReport> searchBestAtLevel(GameSession& game, int32_t startMs, int count);
