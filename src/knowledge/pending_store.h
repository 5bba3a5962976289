#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "knowledge/node_record.h"

// The lines of a store that runs, kept beside the experience file until they
// are all written, so that a store cut short is finished by the next one.
struct PendingLine {
    std::vector<int32_t> moves;
    std::vector<NodeStats> stats;
};

// A line a store takes: as long as its stats, starting at the normalised
// first move, every move a cell, and (for its marker) at most PendingMaxMoves long.
bool validLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);
constexpr size_t PendingMaxMoves = 1024;
// A marker longer than this is none that a store wrote.
constexpr size_t PendingMaxBytes = size_t(64) << 20;

// In records of 48 bytes: a header (nextSibling the number of lines,
// firstChild a mark, parent the number of records), then for every line one
// record whose nextSibling is its length and one record per move, holding
// the move and its stats.
std::vector<uint8_t> encodePendingLines(const std::vector<PendingLine>& lines);
// Also reads the one-line form of earlier builds. A marker cut short (its
// store had written nothing yet) gives no lines.
std::vector<PendingLine> decodePendingLines(const std::vector<uint8_t>& bytes);
