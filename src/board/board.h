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

// One side's stone on a cell, or none: the sides are 1 ('x') and 0 ('o').
constexpr int NoStone = -1;

// The position: 400 cell bytes and, kept current on every move, both sides'
// threat lists, their score totals and the position key.
struct Board {
    Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // What a position shows.
    bool isEmpty(int cell) const { return isEmptyByte(cells[cell]); }
    int stoneAt(int cell) const { return isEmptyByte(cells[cell]) ? NoStone : isXByte(cells[cell]) ? 1 : 0; }
    // Whether the side's list has an entry on the cell (its listed bit).
    bool isListed(int cell, int side) const { return (cells[cell] & (side ? ListedX : ListedO)) != 0; }
    // The cell byte as a board image holds it: stone and listed bits.
    uint8_t cellByte(int cell) const { return cells[cell]; }
    int sideToMove() const { return sideToMove_; }
    int moveCount() const { return moveCount_; }
    int lastMove() const { return lastMove_; }  // -1: none
    PositionKey positionKey() const { return positionKey_; }
    // The threat-score totals of side 1 and side 0, and the mover's total
    // just before the last move.
    int32_t xScore() const { return xScore_; }
    int32_t oScore() const { return oScore_; }
    int32_t savedScore() const { return savedScore_; }
    const ThreatList& threats(int side) const { return side ? xThreats : oThreats; }
    const ThreatList& moverThreats() const { return sideToMove_ ? xThreats : oThreats; }
    const ThreatList& opponentThreats() const { return sideToMove_ ? oThreats : xThreats; }

    // What changes it.
    void makeMove(int cell);  // precondition: cell is empty
    // The other side to move; nothing else changes.
    void pass() { sideToMove_ = static_cast<uint8_t>(1 - sideToMove_); }
    void setSideToMove(int side) { sideToMove_ = static_cast<uint8_t>(side != 0); }
    // Takes back the last move played on this Board since it was set up,
    // cleared or copied: the stone goes and the cells around it are
    // evaluated again (the lists hold the same entries as before the move,
    // equal classes possibly in another order); totals, saved total, side to
    // move, key and last move are those from before it. False, with nothing
    // changed, when the Board holds no such move.
    bool takeBack();
    // The debug step back: takes the stone of the last move off the board
    // and evaluates the cells around it again; the side to move changes, the
    // saved total stays, and there is no last move afterwards, so a second
    // step does nothing. False when there is no last move.
    bool liftLastStone();
    // An empty board for a new game: no stones, lists or totals, move count
    // 0, no last move, key 0; the side to move stays.
    void clear();
    // The position of a position file: stones[c] is the side of the stone
    // on cell c or NoStone. Move count = the number of stones, no last move,
    // totals rebuilt, saved total 0.
    void setUp(const int8_t (&stones)[CellCount], int side);

    // Data, to be sealed.
    uint8_t cells[CellCount] = {};
    ThreatList xThreats;  // side 1
    ThreatList oThreats;  // side 0
    int32_t xScore_ = 0;
    int32_t oScore_ = 0;
    int32_t savedScore_ = 0;  // mover's total just before the last move
    int32_t moveCount_ = 0;
    int32_t lastMove_ = -1;
    uint8_t sideToMove_ = 1;
    PositionKey positionKey_;
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
    // What takeBack needs of the moves played since the last set-up: the
    // saved total and the last move before each.
    struct PlayedMove {
        int16_t cell;
        int16_t lastMove;
        int32_t savedScore;
    };
    PlayedMove played[CellCount];
    int playedCount = 0;

    ThreatList& moverThreats() { return sideToMove_ ? xThreats : oThreats; }
    ThreatList& opponentThreats() { return sideToMove_ ? oThreats : xThreats; }

    // makeMove, counted as one, that undoMove can take back exactly (cells,
    // lists in their order, totals, key, all of it) as long as nothing else
    // changes the Board or walks its lists in between; reading the win test
    // is fine. Needs canUndoMoves.
    void makeMove(int cell, MoveUndo& undo);
    void undoMove(const MoveUndo& undo);
    bool canUndoMoves() const { return xThreats.hasIndex() && oThreats.hasIndex(); }
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

private:
    void removeStone(int cell);
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
