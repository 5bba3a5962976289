#include "board/packed_board.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "board/line_patterns.h"

namespace {

constexpr int StoneBytes = CellCount / 4;
constexpr uint64_t EachByte = 0x0101010101010101ull;

// Which cells have an entry in a list, one bit a cell.
struct CellSet {
    uint64_t bits[(CellCount + 63) / 64] = {};
    bool add(int cell) {  // false when it was there already
        const uint64_t bit = uint64_t{1} << (cell & 63);
        const bool fresh = !(bits[cell >> 6] & bit);
        bits[cell >> 6] |= bit;
        return fresh;
    }
};

uint64_t load64(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// A list's entries in their order, laid out or not.
struct ListEntries {
    int count = 0;
    int32_t cells[CellCount + 1];
    int32_t classes[CellCount + 1];

    void read(const ThreatList& list) {
        count = list.size();
        list.entriesInOrder(cells, classes);
    }
};

// Whether every entry is listed once, on a cell that carries the listed bit;
// listedBits is how many cells carry it.
bool entriesMatchBits(const ListEntries& list, const uint8_t* cells, uint8_t listedBit, int listedBits) {
    if (list.count != listedBits) return false;
    CellSet seen;
    for (int i = 0; i < list.count; ++i) {
        const int cell = list.cells[i];
        if (cell < 0 || cell >= CellCount || !(cells[cell] & listedBit) || !seen.add(cell)) return false;
    }
    return true;
}

// Whether the cell bytes follow from stones and entries alone: a stone is
// 0x40 or 0x80 and nothing else, an empty point holds exactly the listed bits
// of its entries, and the low four bits are clear everywhere.
bool cellsFollowFromStones(const Board& board, const ListEntries& xs, const ListEntries& os) {
    uint64_t bad = 0, xBits = 0, oBits = 0;  // per byte lane: counts of listed bits (at most 50)
    for (int i = 0; i < CellCount; i += 8) {
        const uint64_t w = load64(board.cellBytes() + i);
        const uint64_t stone = w | w << 1;    // bit 7: a stone bit
        const uint64_t listed = w << 2 | w << 3;  // bit 7: a listed bit
        bad |= (w & 0x0F * EachByte) | (((stone & listed) | (w & w << 1)) & (0x80 * EachByte));
        xBits += w >> 4 & EachByte;
        oBits += w >> 5 & EachByte;
    }
    const int listedX = static_cast<int>(xBits * EachByte >> 56), listedO = static_cast<int>(oBits * EachByte >> 56);
    return bad == 0 && entriesMatchBits(xs, board.cellBytes(), ListedX, listedX) &&
           entriesMatchBits(os, board.cellBytes(), ListedO, listedO);
}

// Four stone bytes by their packed byte: each two bits 0 empty, 1 'o', 2 'x'.
struct StoneTable {
    uint32_t bytes[256];
};

constexpr StoneTable buildStoneTable() {
    StoneTable t{};
    for (uint32_t packed = 0; packed < 256; ++packed)
        for (int i = 0; i < 4; ++i) t.bytes[packed] |= ((packed >> (2 * i)) & 3) << 6 << (8 * i);
    return t;
}

constexpr StoneTable stoneTable = buildStoneTable();

bool entriesFit(const ListEntries& list) {
    for (int i = 0; i < list.count; ++i)
        if (list.cells[i] < 0 || list.cells[i] >= CellCount || list.classes[i] < 0 || list.classes[i] > 15)
            return false;
    return true;
}

uint8_t* putEntries(uint8_t* out, const ListEntries& list, bool wide) {
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

namespace {

constexpr int NoEntryClass = 15;  // an update that removes the entry

uint16_t entry16(int cell, int threatClass) { return static_cast<uint16_t>(cell | threatClass << 9); }

// Entries as laid out, then the updates since, two bytes each (the payload
// keeps them two-byte aligned).
uint16_t* putDelta(uint16_t* out, const ThreatList& list, const PackedEntries* laidOut, int side) {
    const int n = list.laidOutCount();
    if (laidOut && laidOut->count[side] == n)
        std::memcpy(out, laidOut->entry[side], sizeof(uint16_t) * n);
    else
        for (int i = 0; i < n; ++i) out[i] = entry16(list.laidOutEntry(i).cell, list.laidOutEntry(i).threatClass);
    out += n;
    for (int i = 0; i < list.pendingUpdates(); ++i) {
        const CellClass u = list.pendingUpdate(i);
        *out++ = entry16(u.cell, u.threatClass > WeakestListed ? NoEntryClass : u.threatClass);
    }
    return out;
}

void packStones(const uint8_t* cells, uint8_t* out) {
    for (int i = 0; i < StoneBytes; ++i) {
        uint32_t four;
        std::memcpy(&four, cells + 4 * i, 4);
        const uint32_t t = four >> 6 & 0x03030303;
        out[i] = static_cast<uint8_t>(t | t >> 6 | t >> 12 | t >> 18);
    }
}

void packHeader(PackedBoard& packed, const Board& board) {
    packed.positionKey = board.positionKey();
    packed.xScore = board.xScore();
    packed.oScore = board.oScore();
    packed.savedScore = board.savedScore();
    packed.moveCount = board.moveCount();
    packed.lastMove = board.lastMove();
    packed.sideToMove = static_cast<uint8_t>(board.sideToMove());
    packed.xUpdates = packed.oUpdates = 0;
    packed.checked = board.isHeldToSelfCheck();
}

// The lists of the plan in progress, when they are packed in their order.
ListEntries planned[2];

}  // namespace

void packEntries(const Board& board, PackedEntries& entries) {
    static ListEntries list;  // one packing at a time
    for (int side = 0; side < 2; ++side) {
        list.read(board.threats(1 - side));
        entries.count[side] = list.count;
        for (int i = 0; i < list.count; ++i) entries.entry[side][i] = entry16(list.cells[i], list.classes[i]);
    }
}

size_t planPacking(const Board& board, const PackedBoard* playedFrom, const PackedEntries* laidOut,
                   PackPlan& plan) {
    const ThreatList& xl = board.threats(1);
    const ThreatList& ol = board.threats(0);
    plan.playedFrom = playedFrom && !playedFrom->rawCells && !playedFrom->wideEntries ? playedFrom : nullptr;
    plan.laidOut = laidOut;
    if (plan.playedFrom) {
        plan.rawCells = plan.wideEntries = false;
        const size_t entries = xl.laidOutCount() + xl.pendingUpdates() + ol.laidOutCount() + ol.pendingUpdates();
        return sizeof(PackedBoard) + StoneBytes + 2 * entries;
    }
    ListEntries& xs = planned[0];
    ListEntries& os = planned[1];
    xs.read(xl);
    os.read(ol);
    // A Board held to the self-check follows from its stones by its invariant.
    plan.rawCells = !board.isHeldToSelfCheck() && !cellsFollowFromStones(board, xs, os);
    plan.wideEntries = !entriesFit(xs) || !entriesFit(os);
    return sizeof(PackedBoard) + (plan.rawCells ? CellCount : StoneBytes) +
           static_cast<size_t>(xs.count + os.count) * (plan.wideEntries ? 8 : 2);
}

PackedBoard* packInto(void* memory, const Board& board, const PackPlan& plan) {
    PackedBoard* packed = new (memory) PackedBoard;
    packHeader(*packed, board);
    packed->rawCells = plan.rawCells;
    packed->wideEntries = plan.wideEntries;
    uint8_t* out = packed->payload();
    if (plan.playedFrom) {
        const ThreatList& xl = board.threats(1);
        const ThreatList& ol = board.threats(0);
        packed->xCount = static_cast<uint16_t>(xl.laidOutCount());
        packed->oCount = static_cast<uint16_t>(ol.laidOutCount());
        packed->xUpdates = static_cast<uint8_t>(xl.pendingUpdates());
        packed->oUpdates = static_cast<uint8_t>(ol.pendingUpdates());
        // The stones are those the Board was unpacked from, and the move.
        std::memcpy(out, plan.playedFrom->payload(), StoneBytes);
        const int move = board.lastMove();
        const uint32_t stone = board.sideToMove() ? StoneO >> 6 : StoneX >> 6;  // the side that moved
        out[move >> 2] = static_cast<uint8_t>(out[move >> 2] | stone << (2 * (move & 3)));
        static_assert(sizeof(PackedBoard) % 2 == 0 && StoneBytes % 2 == 0);
        uint16_t* entries = reinterpret_cast<uint16_t*>(out + StoneBytes);
        putDelta(putDelta(entries, xl, plan.laidOut, 0), ol, plan.laidOut, 1);
        return packed;
    }
    const ListEntries& xs = planned[0];
    const ListEntries& os = planned[1];
    packed->xCount = static_cast<uint16_t>(xs.count);
    packed->oCount = static_cast<uint16_t>(os.count);
    if (plan.rawCells) {
        std::memcpy(out, board.cellBytes(), CellCount);
        out += CellCount;
    } else {
        packStones(board.cellBytes(), out);
        out += StoneBytes;
    }
    out = putEntries(out, xs, plan.wideEntries);
    putEntries(out, os, plan.wideEntries);
    return packed;
}

PackedBoardPtr packBoard(const Board& board, const PackedBoard* playedFrom, const PackedEntries* laidOut) {
    PackPlan plan;
    const size_t size = planPacking(board, playedFrom, laidOut, plan);
    return PackedBoardPtr(packInto(::operator new(size), board, plan));
}

namespace {

// Reads a list's entries and updates: assigns the entries, listing their
// cells in `bytes` unless the cells were read raw, and returns the updates.
const uint8_t* takeList(const uint8_t* in, int n, int updates, bool wide, bool rawCells, ThreatList& list,
                        uint8_t* bytes, uint8_t listedBit, CellClass* pending) {
    static int32_t cells[CellCount], classes[CellCount];  // one unpacking at a time
    in = takeEntries(in, n, wide, cells, classes);
    list.assign(cells, classes, n);
    if (!rawCells)
        for (int i = 0; i < n; ++i) bytes[cells[i]] |= listedBit;
    for (int i = 0; i < updates; ++i) {
        uint16_t e;
        std::memcpy(&e, in, 2);
        in += 2;
        const int k = e >> 9;
        pending[i] = {static_cast<int16_t>(e & 511), static_cast<int8_t>(k == NoEntryClass ? NoThreat : k)};
    }
    return in;
}

}  // namespace

void unpackBoard(const PackedBoard& packed, Board& board) {
    const uint8_t* in = packed.payload();
    if (packed.rawCells) {
        std::memcpy(board.cells_, in, CellCount);
        in += CellCount;
    } else {
        for (int i = 0; i < StoneBytes; ++i) std::memcpy(board.cells_ + 4 * i, &stoneTable.bytes[in[i]], 4);
        in += StoneBytes;
    }
    CellClass xPending[MaxBatch], oPending[MaxBatch];
    in = takeList(in, packed.xCount, packed.xUpdates, packed.wideEntries, packed.rawCells, board.xThreats_,
                  board.cells_, ListedX, xPending);
    takeList(in, packed.oCount, packed.oUpdates, packed.wideEntries, packed.rawCells, board.oThreats_, board.cells_,
             ListedO, oPending);
    // The updates set the listed bits and entries of their cells again; the
    // totals are the packed ones.
    int32_t total = 0;
    board.xThreats_.update(xPending, packed.xUpdates, board.cells_, ListedX, total, false);
    board.oThreats_.update(oPending, packed.oUpdates, board.cells_, ListedO, total, false);
    if (packed.rawCells) {
        board.xThreats_.checkListedBits(board.cells_, ListedX);
        board.oThreats_.checkListedBits(board.cells_, ListedO);
    }
    board.xScore_ = packed.xScore;
    board.oScore_ = packed.oScore;
    board.savedScore_ = packed.savedScore;
    board.moveCount_ = packed.moveCount;
    board.lastMove_ = packed.lastMove;
    board.playedCount_ = 0;
    board.sideToMove_ = packed.sideToMove;
    board.positionKey_ = packed.positionKey;
    board.checked_ = packed.checked;
    board.lines_.rebuild(board.cells_);
    board.forgetRanks();  // ranking 400 cells would cost more than the expansion's moves save
    board.checkInDebug(CellCount);
}
