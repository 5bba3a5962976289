#pragma once
#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "board/cell.h"
#include "board/keys.h"
#include "board/line_words.h"
#include "board/threat_list.h"

// One side's stone on a cell, or none: the sides are 1 ('x') and 0 ('o').
constexpr int NoStone = -1;

struct PackedBoard;

// The position: 400 cell bytes and, kept current on every move, both sides'
// threat lists, their score totals and the position key (the keys of the
// stones, each by the side that did not play it).
class Board {
public:
    Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // What a position shows.
    bool isEmpty(int cell) const { return isEmptyByte(cells_[cell]); }
    int stoneAt(int cell) const { return isEmptyByte(cells_[cell]) ? NoStone : isXByte(cells_[cell]) ? 1 : 0; }
    // Whether the side's list has an entry on the cell (its listed bit).
    bool isListed(int cell, int side) const { return (cells_[cell] & (side ? ListedX : ListedO)) != 0; }
    // The cell bytes as a board image holds them: stone and listed bits.
    uint8_t cellByte(int cell) const { return cells_[cell]; }
    const uint8_t* cellBytes() const { return cells_; }
    int sideToMove() const { return sideToMove_; }
    int moveCount() const { return moveCount_; }
    int lastMove() const { return lastMove_; }  // -1: none
    PositionKey positionKey() const { return positionKey_; }
    // The threat-score totals of side 1 and side 0, and the mover's total
    // just before the last move.
    int32_t xScore() const { return xScore_; }
    int32_t oScore() const { return oScore_; }
    int32_t savedScore() const { return savedScore_; }
    const ThreatList& threats(int side) const { return side ? xThreats_ : oThreats_; }
    const ThreatList& moverThreats() const { return sideToMove_ ? xThreats_ : oThreats_; }
    const ThreatList& opponentThreats() const { return sideToMove_ ? oThreats_ : xThreats_; }
    // Whether a TrialMove can be played here (not on a Board whose lists an
    // image left without their index).
    bool canTryMoves() const { return xThreats_.hasIndex() && oThreats_.hasIndex(); }

    // What changes it.
    void makeMove(int cell);  // precondition: cell is empty
    // The other side to move; nothing else changes.
    void pass() { sideToMove_ = static_cast<uint8_t>(1 - sideToMove_); }
    void setSideToMove(int side) { sideToMove_ = static_cast<uint8_t>(side != 0); }
    // Takes back the last move played on this Board since it was set up,
    // cleared or copied: the Board becomes the position that the moves before
    // it give played afresh on the stones of the set-up (lists in their
    // order, totals, saved total, key, last move), with the side of the
    // stone taken back to move. False, with nothing changed, when the Board
    // holds no such move.
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
    // Searches that read only the strongest threats of most Boards they play
    // on turn this on: makeMove then leaves the lists' new layout to the
    // first reader that walks them (ThreatList::settle). Not copied.
    void deferLayouts(bool on) { deferLayout_ = on; }

    // The self-check: everything a move keeps up to date (line words, cell
    // ranks, both lists as sets of cell and class, listed bits, totals, key,
    // move count) against a rebuild from the stones, and a list that waits
    // for its layout against a replay of its updates one by one. The classes
    // of the rebuild come from the window tables; those of the cells within
    // four points of `around` (all for -1, none for CellCount) are read off
    // the cell bytes as well. Empty when all agree, else the first field
    // that differs. Builds with the self-check run it after every operation
    // that changes a Board, around the cell it played or took back; Boards
    // read from images that do not follow from their stones are not held to it.
    std::string selfCheck(int around = -1) const;
    bool isHeldToSelfCheck() const { return checked_; }
    // For a Board read from an image: ranks every cell and, when the lists
    // (as sets of cell and class), listed bits, cell bytes, move count, last
    // move and totals are what its stones give, holds it to the self-check,
    // so that probeMove takes its ranked path. The lists keep their order.
    void trustIfFollowsFromStones();

    // What a move would leave of one side's list as far as a leaf reads it
    // (the win test of the strongest classes and the static value): the
    // entries of classes 0 to 3 and the total.
    struct ProbeSide {
        int16_t strong[4];
        int32_t total;

        // The strongest class if it is 3 or stronger, else NoThreat.
        int strongestUpToThree() const {
            const uint32_t four = nonZeroCounts4(strong);
            return four ? std::countr_zero(four) : NoThreat;
        }
        bool twoFives() const { return strong[0] >= 2; }
    };
    // That of both lists, and the saved total, worked out without playing
    // the move. False when only playing it tells: a
    // Board that cannot try moves, or lists that hold what only an image
    // can. Precondition: cell is empty.
    struct MoveProbe {
        ProbeSide x, o;
        int32_t savedScore;
    };
    bool probeMove(int cell, MoveProbe& probe) const;

    // Both lists as they stand, for a TrialMove that lets the position it
    // leads to be searched (large: kept by the search, one per ply).
    struct SavedLists {
        ThreatList::Saved x, o;
    };

private:
    friend class TrialMove;
    friend void copyBoard(const Board& source, Board& target);
    friend void unpackBoard(const PackedBoard& packed, Board& board);

    // What makeMove(cell, undo) changes, for undoMove to put back.
    struct MoveUndo {
        int32_t savedScore, xScore, oScore, lastMove;
        PositionKey positionKey;
        uint8_t sideToMove;
        bool xPending, oPending;
        SavedLists* lists = nullptr;  // both lists saved before the move
        int16_t cell;
        uint64_t rankKnown[(CellCount + 63) / 64];
        int touched = 0;  // the cells whose byte or ranks the move changes
        int16_t touchedCell[MaxBatch];
        uint8_t touchedByte[MaxBatch];
        uint32_t touchedRanks[MaxBatch];
        int8_t touchedLine[MaxBatch];  // the line through the move, -1 for the move's own cell
    };
    // The moves played since the last set-up, for takeBack to play again.
    struct PlayedMove {
        int16_t cell;
        uint8_t side;
    };

    ThreatList& moverList() { return sideToMove_ ? xThreats_ : oThreats_; }
    void placeStone(int cell);
    void removeStone(int cell);
    void makeMove(int cell, MoveUndo& undo);
    void undoMove(const MoveUndo& undo);
    void updateAround(int cell, MoveUndo* undo = nullptr);
    // Calls visit(c, line, ranks on that line, the other lines' rank bits)
    // for every cell a stone on `cell` re-evaluates, in the order of its list
    // updates; `point` is the stone to read the lines with when they do not
    // hold it yet (PointEmpty when they do).
    template <class Visit>
    void forEachRayCell(int cell, uint64_t point, Visit visit) const;
    // The cell's ranks with those of one line replaced.
    uint32_t ranksWithLine(int cell, int line, uint32_t onLine, uint32_t keep) const;
    void checkProbe(int cell, const MoveProbe& probe) const;
    bool knowsAllRanks() const;
    bool rankAndCheck();
    void probeRanked(int cell, MoveProbe& probe) const;
    void rebuildThreats();  // precondition: both lists empty
    void evaluateCell(int cell);
    bool isRankKnown(int cell) const { return rankKnown_[cell >> 6] >> (cell & 63) & 1; }
    void setRanks(int cell, uint32_t cellRanks) {
        ranks_[cell] = cellRanks;
        rankKnown_[cell >> 6] |= uint64_t{1} << (cell & 63);
    }
    void forgetRanks();
    void knowAllRanks();
    // In builds with the self-check: stops the program, naming the field,
    // when it fails on a Board held to it.
    void checkInDebug(int around) const;

    uint8_t cells_[CellCount] = {};
    ThreatList xThreats_;  // side 1
    ThreatList oThreats_;  // side 0
    int32_t xScore_ = 0;
    int32_t oScore_ = 0;
    int32_t savedScore_ = 0;
    int32_t moveCount_ = 0;
    int32_t lastMove_ = -1;
    uint8_t sideToMove_ = 1;
    PositionKey positionKey_;
    // The stones again, line by line, for the classification of a cell;
    // every operation keeps them, image reading rebuilds them from the cell bytes.
    LineWords lines_;
    // The cell ranks (line_patterns.h) of the empty cells, so that a move
    // re-reads only the line through a cell; meaningless under a stone and
    // where the cell's bit in rankKnown is clear (a Board unpacked for one
    // expansion does without: ranking its cells would cost more than the
    // few moves played on it save). A move ranks the cells it re-evaluates.
    uint32_t ranks_[CellCount];
    uint64_t rankKnown_[(CellCount + 63) / 64];
    bool deferLayout_ = false;
    // False for a Board read from an image not known to follow from its
    // stones (builds without the self-check never know): the self-check
    // passes it by, and probeMove reads all its cells. Copies inherit it.
    bool checked_ = true;
    PlayedMove played_[CellCount];
    int playedCount_ = 0;
};

// Plays a move on a Board and takes it back, exactly (cells, lists in their
// order, totals, key, all of it), when it leaves scope.
// In between nothing else may change the Board or read its lists in order
// (begin, strongest): a list laid out then could not be put back. The win
// test and the strongest class read without laying out. Needs canTryMoves.
//
// Given room for both lists, the lists are saved before the move and put
// back after it, so that anything may read them in between, and further
// trial moves may be played and taken back there: the undo for a search.
class TrialMove {
public:
    TrialMove(Board& board, int cell) : board(board) { board.makeMove(cell, undo); }
    TrialMove(Board& board, int cell, Board::SavedLists& lists) : board(board) {
        undo.lists = &lists;
        board.makeMove(cell, undo);
    }
    ~TrialMove() { board.undoMove(undo); }
    TrialMove(const TrialMove&) = delete;
    TrialMove& operator=(const TrialMove&) = delete;

private:
    Board& board;
    Board::MoveUndo undo;
};

// Deep copy; throws std::bad_alloc with nothing left allocated.
std::unique_ptr<Board> copyBoard(const Board& source);
// The same copy into an existing Board, without allocating.
void copyBoard(const Board& source, Board& target);
