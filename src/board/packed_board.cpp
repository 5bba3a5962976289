#include "board/packed_board.h"

#include <cstring>
#include <new>

#include "board/line_patterns.h"

namespace {

constexpr int StoneBytes = CellCount / 4;

// Which cells have an entry in a list, one bit a cell.
struct CellSet {
    uint64_t bits[(CellCount + 63) / 64] = {};
    void add(int cell) { bits[cell >> 6] |= uint64_t{1} << (cell & 63); }
    bool has(int cell) const { return bits[cell >> 6] >> (cell & 63) & 1; }
};

CellSet entriesOf(const ThreatList& list) {
    CellSet set;
    for (int i = 0; i < list.count; ++i)
        if (list.cells[i] >= 0 && list.cells[i] < CellCount) set.add(list.cells[i]);
    return set;
}

// The byte a cell has when it holds only what stones and entries say.
uint8_t derivedByte(uint32_t stone, int cell, const CellSet& x, const CellSet& o) {
    if (stone == PointX) return StoneX;
    if (stone == PointO) return StoneO;
    return static_cast<uint8_t>((x.has(cell) ? ListedX : 0) | (o.has(cell) ? ListedO : 0));
}

uint32_t stoneOf(uint8_t byte) {
    if (isEmptyByte(byte)) return PointEmpty;
    return isXByte(byte) ? PointX : PointO;
}

bool entriesFit(const ThreatList& list) {
    for (int i = 0; i < list.count; ++i)
        if (list.cells[i] < 0 || list.cells[i] >= CellCount || list.classes[i] < 0 || list.classes[i] > 15)
            return false;
    return true;
}

uint8_t* putEntries(uint8_t* out, const ThreatList& list, bool wide) {
    for (int i = 0; i < list.count; ++i) {
        if (wide) {
            std::memcpy(out, &list.cells[i], 4);
            std::memcpy(out + 4, &list.classes[i], 4);
            out += 8;
        } else {
            const uint16_t entry = static_cast<uint16_t>(list.cells[i] | list.classes[i] << 9);
            std::memcpy(out, &entry, 2);
            out += 2;
        }
    }
    return out;
}

const uint8_t* takeEntries(const uint8_t* in, int n, bool wide, int32_t* cells, int32_t* classes) {
    for (int i = 0; i < n; ++i) {
        if (wide) {
            std::memcpy(&cells[i], in, 4);
            std::memcpy(&classes[i], in + 4, 4);
            in += 8;
        } else {
            uint16_t entry;
            std::memcpy(&entry, in, 2);
            cells[i] = entry & 511;
            classes[i] = entry >> 9;
            in += 2;
        }
    }
    return in;
}

}  // namespace

void PackedBoardDelete::operator()(PackedBoard* board) const {
    board->~PackedBoard();
    ::operator delete(board);
}

PackedBoardPtr packBoard(const Board& board) {
    const ThreatList& xs = board.xThreats;
    const ThreatList& os = board.oThreats;
    xs.settle();
    os.settle();
    const CellSet xSet = entriesOf(xs), oSet = entriesOf(os);
    bool rawCells = false;
    for (int cell = 0; cell < CellCount && !rawCells; ++cell)
        rawCells = board.cells[cell] != derivedByte(stoneOf(board.cells[cell]), cell, xSet, oSet);
    const bool wide = !entriesFit(xs) || !entriesFit(os);
    const size_t size = sizeof(PackedBoard) + (rawCells ? CellCount : StoneBytes) +
                        static_cast<size_t>(xs.count + os.count) * (wide ? 8 : 2);
    PackedBoard* packed = new (::operator new(size)) PackedBoard;
    PackedBoardPtr owner(packed);
    packed->positionKey = board.positionKey;
    packed->xScore = board.xScore;
    packed->oScore = board.oScore;
    packed->savedScore = board.savedScore;
    packed->moveCount = board.moveCount;
    packed->lastMove = board.lastMove;
    packed->xCount = static_cast<uint16_t>(xs.count);
    packed->oCount = static_cast<uint16_t>(os.count);
    packed->sideToMove = board.sideToMove;
    packed->rawCells = rawCells;
    packed->wideEntries = wide;
    uint8_t* out = packed->payload();
    if (rawCells) {
        std::memcpy(out, board.cells, CellCount);
        out += CellCount;
    } else {
        for (int i = 0; i < StoneBytes; ++i) {
            const uint8_t* c = board.cells + 4 * i;
            out[i] = static_cast<uint8_t>(stoneOf(c[0]) | stoneOf(c[1]) << 2 | stoneOf(c[2]) << 4 | stoneOf(c[3]) << 6);
        }
        out += StoneBytes;
    }
    out = putEntries(out, xs, wide);
    putEntries(out, os, wide);
    return owner;
}

void unpackBoard(const PackedBoard& packed, Board& board) {
    const uint8_t* in = packed.payload();
    const uint8_t* stones = in;
    in += packed.rawCells ? CellCount : StoneBytes;
    int32_t cells[CellCount], classes[CellCount];
    in = takeEntries(in, packed.xCount, packed.wideEntries, cells, classes);
    board.xThreats.assign(cells, classes, packed.xCount);
    takeEntries(in, packed.oCount, packed.wideEntries, cells, classes);
    board.oThreats.assign(cells, classes, packed.oCount);
    if (packed.rawCells) {
        std::memcpy(board.cells, stones, CellCount);
    } else {
        const CellSet xSet = entriesOf(board.xThreats), oSet = entriesOf(board.oThreats);
        for (int cell = 0; cell < CellCount; ++cell)
            board.cells[cell] = derivedByte(stones[cell >> 2] >> (2 * (cell & 3)) & 3, cell, xSet, oSet);
    }
    board.xScore = packed.xScore;
    board.oScore = packed.oScore;
    board.savedScore = packed.savedScore;
    board.moveCount = packed.moveCount;
    board.lastMove = packed.lastMove;
    board.sideToMove = packed.sideToMove;
    board.positionKey = packed.positionKey;
    board.lines.rebuild(board.cells);
    for (int cell = 0; cell < CellCount; ++cell)
        if (isEmptyByte(board.cells[cell])) board.ranks[cell] = cellRanks(board, cell);
}
