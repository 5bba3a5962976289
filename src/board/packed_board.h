#pragma once
#include <cstdint>
#include <memory>

#include "board/board.h"

// A Board stored compactly, for positions that are kept in great numbers and
// searched from seldom (the nodes of the proof-number search): the stones at
// two bits a cell, each list entry in two bytes, the totals and the key.
// Lines, cell ranks and listed bits are worked out again when it is unpacked.
// Cell bytes that do not follow from stones and entries, or entries that do
// not fit two bytes (only a board image could hold such), are kept as they are.
// A list whose last update waits for its layout is kept as the entries before
// it and the update, so that only the positions that are unpacked pay for
// the layout.
struct PackedBoard {
    PositionKey positionKey;
    int32_t xScore;
    int32_t oScore;
    int32_t savedScore;
    int32_t moveCount;
    int32_t lastMove;
    uint16_t xCount;  // entries as laid out
    uint16_t oCount;
    uint8_t xUpdates;  // the updates since, as cell and class entries (class 15: none)
    uint8_t oUpdates;
    uint8_t sideToMove;
    bool rawCells;    // 400 cell bytes instead of 100 bytes of stones
    bool wideEntries; // entries as int32 cell and class instead of 16 bits
    bool checked;     // the Board's self-check holds it to its stones

    // The stones or cell bytes, then the entries and updates of xThreats,
    // then those of oThreats.
    const uint8_t* payload() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint8_t* payload() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct PackedBoardDelete {
    void operator()(PackedBoard* board) const;
};
using PackedBoardPtr = std::unique_ptr<PackedBoard, PackedBoardDelete>;

// The laid-out lists of a Board as packBoard stores them, worked out once for
// the many moves packed from one position (see packBoard's laidOut).
struct PackedEntries {
    int count[2];  // xThreats, oThreats
    uint16_t entry[2][CellCount];
};
void packEntries(const Board& board, PackedEntries& entries);

// Throws std::bad_alloc. Reads lists that wait for their layout in the order
// it will give them, without laying them out.
// playedFrom: a PackedBoard without raw cells or wide entries that the Board
// was unpacked from, one makeMove ago: its cells and entries keep that form,
// which need not be checked again, and its stones are those plus the move.
// laidOut, with playedFrom: packEntries of the Board before the move.
PackedBoardPtr packBoard(const Board& board, const PackedBoard* playedFrom = nullptr,
                         const PackedEntries* laidOut = nullptr);

// packBoard in two steps, for a PackedBoard placed in memory of the caller's
// (aligned for 8 bytes): the size it takes, then the packing, with nothing
// changed on the Board in between. One plan at a time.
struct PackPlan {
    const PackedBoard* playedFrom;  // null unless the cells and entries need no check
    const PackedEntries* laidOut;
    bool rawCells;
    bool wideEntries;
};
size_t planPacking(const Board& board, const PackedBoard* playedFrom, const PackedEntries* laidOut, PackPlan& plan);
PackedBoard* packInto(void* memory, const Board& board, const PackPlan& plan);
// Makes `board` the packed position again: cells, lists in their order,
// totals, move count, last move, side to move and key.
void unpackBoard(const PackedBoard& packed, Board& board);
