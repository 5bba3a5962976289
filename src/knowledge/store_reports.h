#pragma once
#include <string>

#include "knowledge/experience_database.h"
#include "knowledge/game_records.h"

// The lines that say what became of a game offered to the experience file,
// each a whole "MESSAGE " line; the database itself only says what happened.

// Names the damaged file on its first refusal only; empty after that and for
// a sound file.
std::string damageReport(ExperienceDatabase& database);
// The line of every store refused for the size limit; empty while none was.
std::string sizeLimitReport(const ExperienceDatabase& database);
// For a game that saveGame could not store, with a line end: the
// preparation's outcome (Failed for a store that failed) and, for a refused
// game, why.
std::string refusalReport(ExperienceDatabase& database, Preparation outcome, const LineCut& cut);
// For a stored game, with a line end; a cut game says where and why.
std::string savedReport(int index, const LineCut& cut);
