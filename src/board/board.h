#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "board/cell.h"
#include "board/keys.h"
#include "board/line_words.h"
#include "board/threat_list.h"

// What Board::makeMove(cell, undo) changes, for undoMove to put back.
struct MoveUndo {
    int32_t savedScore, xScore, oScore, lastMove;
    PositionKey positionKey;
    uint8_t sideToMove;
    bool xPending, oPending;
    int16_t cell;
    uint64_t rankKnown[(CellCount + 63) / 64];
    int touched = 0;  // the cells whose byte or ranks the move changes
    int16_t touchedCell[MaxBatch];
    uint8_t touchedByte[MaxBatch];
    uint32_t touchedRanks[MaxBatch];
    int8_t touchedLine[MaxBatch];  // the line through the move, -1 for the move's own cell
};

// The position: 400 cell bytes and, kept current on every move, both sides'
// threat lists, their score totals and the position key.
struct Board {
    uint8_t cells[CellCount] = {};
    ThreatList xThreats;  // side 1
    ThreatList oThreats;  // side 0
    int32_t xScore = 0;
    int32_t oScore = 0;
    int32_t savedScore = 0;  // mover's total just before the last move
    int32_t moveCount = 0;
    int32_t lastMove = -1;
    uint8_t sideToMove = 1;
    PositionKey positionKey;
    // The stones again, line by line, for the classification of a cell;
    // makeMove and takeBack keep them, rebuildThreats and image reading
    // rebuild them from the cell bytes.
    LineWords lines;
    // The cell ranks (line_patterns.h) of the empty cells, so that a move
    // re-reads only the line through a cell; meaningless under a stone and
    // where the cell's bit in rankKnown is clear (a Board unpacked for one
    // expansion does without: ranking its cells would cost more than the
    // few moves played on it save). A move ranks the cells it re-evaluates.
    uint32_t ranks[CellCount];
    uint64_t rankKnown[(CellCount + 63) / 64];
    // Searches that only read the strongest threats of most Boards they play
    // on set this: makeMove then leaves the lists' new layout to the first
    // reader that walks them (ThreatList::settle). Not copied.
    bool deferLayout = false;

    Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    ThreatList& moverThreats() { return sideToMove ? xThreats : oThreats; }
    ThreatList& opponentThreats() { return sideToMove ? oThreats : xThreats; }

    void makeMove(int cell);  // precondition: cell is empty
    // makeMove, counted as one, that undoMove can take back exactly (cells,
    // lists in their order, totals, key, all of it) as long as nothing else
    // changes the Board or walks its lists in between; reading the win test
    // is fine. Needs canUndoMoves.
    void makeMove(int cell, MoveUndo& undo);
    void undoMove(const MoveUndo& undo);
    bool canUndoMoves() const { return xThreats.hasIndex() && oThreats.hasIndex(); }
    void takeBack();
    bool updateAround(int cell, MoveUndo* undo = nullptr);
    bool rebuildThreats();  // precondition: both lists empty
    void clearThreatLists();
    bool evaluateCell(int cell);
    bool isRankKnown(int cell) const { return rankKnown[cell >> 6] >> (cell & 63) & 1; }
    void setRanks(int cell, uint32_t cellRanks) {
        ranks[cell] = cellRanks;
        rankKnown[cell >> 6] |= uint64_t{1} << (cell & 63);
    }
    void forgetRanks();
    void knowAllRanks();
    // Empties the board the way a new game does: lists cleared, stones and
    // listed bits gone, totals rebuilt; sideToMove and positionKey stay.
    void resetPosition();
};

// Deep copy; throws std::bad_alloc with nothing left allocated.
std::unique_ptr<Board> copyBoard(const Board& source);
// The same copy into an existing Board, without allocating.
void copyBoard(const Board& source, Board& target);

// Board image: the little-endian serial form used by the node files.
bool writeBoardImage(const Board& board, std::FILE* file);
// The same bytes, appended to a string.
void appendBoardImage(const Board& board, std::string& bytes);
void appendBoardImageBody(const Board& board, std::string& bytes);
// Fields 4 to 8 only, for writers that put the first three down themselves;
// the bytes are those of writeBoardImage.
bool writeBoardImageBody(const Board& board, std::FILE* file);
// False when the file ended or failed before the whole image was read, or the
// image holds impossible values; the Board is then left untouched.
bool readBoardImage(Board& board, std::FILE* file);

// Reach tables: for direction d (an index into ReachSteps) and cell c, the
// cell k steps from c, k the smaller of 4 and the steps possible before the
// edge; reachCount gives k. Every scan of a line is bounded by them, since
// index arithmetic alone would wrap from one row to the next.
inline constexpr int ReachSteps[8] = {-1, 1, -20, 20, -21, 21, -19, 19};

struct ReachTables {
    int16_t cell[8][CellCount];
    int8_t count[8][CellCount];
};
extern const ReachTables reachTables;

inline int reach(int direction, int cell) { return reachTables.cell[direction][cell]; }
inline int reachCount(int direction, int cell) { return reachTables.count[direction][cell]; }
