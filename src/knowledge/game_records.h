#pragma once
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "knowledge/experience_database.h"
#include "knowledge/game_line.h"
#include "knowledge/node_record.h"

// Outcome values of judgeGame.
constexpr int SecondPlayerWins = 1;
constexpr int FirstPlayerWins = -1;
constexpr int Undecided = 0;
constexpr int Unsuitable = 100;

// Indexed by: 0 whole, 1 cut, 2 cut and won by the second player, 3 whole and
// won by the second player.
extern const std::array<NodeStats, 4> statsTemplates;

// Game records hold "%d,%d,%d" triples (x, y, ignored); a .rec file after two
// header lines, a .psq file after a header line that names the 20x20 board.
// Both empty the list first and return false when the file cannot be read.
// readRecGame raises DatabaseError when the file cannot be closed.
bool readRecGame(const std::string& path, std::vector<int32_t>& moves);
bool readPsqGame(const std::string& path, std::vector<int32_t>& moves);

// Replays the game on a fresh Board and cuts it after the move that decides it:
// SecondPlayerWins, FirstPlayerWins, Undecided or Unsuitable.
int judgeGame(std::vector<int32_t>& moves);

// Normalises and stores a judged game, writing one "MESSAGE " report line.
bool saveGame(ExperienceDatabase& database, std::vector<int32_t>& moves, int value, std::ostream& out);

// saveGame in its two steps, for stores made many at a time. The first
// normalises the moves (cut tells where and why the line stops) and gives
// every move its stats; it needs no lock and no file.
enum class Preparation { Ready, Refused, Failed };
Preparation prepareSave(std::vector<int32_t>& moves, int value, std::vector<NodeStats>& stats, int& index,
                        LineCut& cut);
// Its report lines are in store_reports.h.
