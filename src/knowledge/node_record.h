#pragma once
#include <cstdint>
#include <string>

// One 48-byte record of the experience file, little-endian, no header:
//   0 move (int16), 2 padding, 4 nextSibling, 8 firstChild, 12 parent,
//   16 NodeStats (32 bytes; its bit-field word at 28).
constexpr int RecordSize = 48;
constexpr int NoRecord = -1;
constexpr int PlyModulus = 512;  // ply and toEnd are 9-bit fields

// Outcome classes of a stored line: who won it, and whether the whole game is
// stored or only its beginning (cut at its first move near the edge). A game
// that nobody won is stored as one the first player won.
constexpr int32_t WholeSecondWins = 0;
constexpr int32_t CutFirstWins = 1;
constexpr int32_t CutSecondWins = 2;
constexpr int32_t WholeFirstWins = 3;

struct NodeStats {
    int32_t proof = 0;     // -1 stands for infinity
    int32_t disproof = 0;  // -1 stands for infinity
    int32_t secondWinsCut = 0;
    int32_t secondWinsWhole = 0;
    int32_t iterations = 0;
    int32_t outcome = 0;  // class 0..3
    int32_t ply = 0;      // 0..511
    int32_t toEnd = 0;    // 0..511

    bool operator==(const NodeStats&) const = default;
};

struct NodeRecord {
    int16_t move = -1;  // normalised cell; -1 at the root
    int32_t nextSibling = NoRecord;
    int32_t firstChild = NoRecord;
    int32_t parent = NoRecord;
    NodeStats stats;

    bool operator==(const NodeRecord&) const = default;
};

constexpr int32_t wrapPly(int32_t value) { return ((value % PlyModulus) + PlyModulus) % PlyModulus; }

void encodeRecord(const NodeRecord& record, uint8_t bytes[RecordSize]);
NodeRecord decodeRecord(const uint8_t bytes[RecordSize]);

// "{proof,disproof}, outcome whole/cut iter=n deep=ply|toEnd"
std::string statsLine(const NodeStats& stats);

// The root of a tree that holds no game yet.
NodeRecord emptyTreeRoot();

// Folds a child's stats into its parent's accumulator (first child's stats at
// the start): the counts add up, and the player who moves at the parent takes
// the best class for them, among equal classes the shortest (second player)
// or longest (first player) line.
void combineStats(NodeStats& accumulator, const NodeStats& child);
