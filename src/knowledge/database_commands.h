#pragma once
#include <ostream>
#include <string>

#include "knowledge/experience_database.h"

// Imports one game record, or every record below a directory, writing one
// "DEBUG Partie ..." line per record file.
void addGames(ExperienceDatabase& database, const std::string& path, std::ostream& out);

// Appends every stored position but the empty board and each line's last one
// to the node file of its toEnd. Raises DatabaseError on a damaged or unreadable file.
void exportPositions(ExperienceDatabase& database);

// Replaces the file at path by one that holds only the root, and opens it.
void createDatabase(ExperienceDatabase& database, const std::string& path);

// Walks the whole tree of the experience file at path, read under a shared
// lock, and writes the one line of checkReport.
// capacity: the records the file may hold, for how full it is.
void checkDatabase(const std::string& path, std::ostream& out, int64_t capacity = MaxRecords);
