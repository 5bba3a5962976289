#include "knowledge/node_record.h"

#include <algorithm>
#include <climits>
#include <sstream>

namespace {

void putInt(uint8_t* at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) at[i] = uint8_t(value >> (8 * i));
}

// Walks of the tree decode many records: fixed widths compile to plain loads.
uint32_t get16(const uint8_t* at) { return uint32_t(at[0]) | uint32_t(at[1]) << 8; }
uint32_t get32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

constexpr int StatsOffset = 16;

uint32_t packBits(const NodeStats& s) {
    return (uint32_t(s.outcome) & 3u) | ((uint32_t(s.ply) & 511u) << 3) | ((uint32_t(s.toEnd) & 511u) << 12);
}

std::string proofText(int32_t value) { return value < 0 ? "OO" : std::to_string(value); }

}  // namespace

void encodeRecord(const NodeRecord& record, uint8_t bytes[RecordSize]) {
    for (int i = 0; i < RecordSize; ++i) bytes[i] = 0;
    putInt(bytes + 0, uint16_t(record.move), 2);
    putInt(bytes + 4, uint32_t(record.nextSibling), 4);
    putInt(bytes + 8, uint32_t(record.firstChild), 4);
    putInt(bytes + 12, uint32_t(record.parent), 4);
    uint8_t* s = bytes + StatsOffset;  // bytes 0..7 of the block stay reserved zeros
    putInt(s + 8, uint32_t(record.stats.proof), 4);
    putInt(s + 12, uint32_t(record.stats.disproof), 4);
    putInt(s + 16, uint32_t(record.stats.secondWinsCut), 4);
    putInt(s + 20, uint32_t(record.stats.secondWinsWhole), 4);
    putInt(s + 24, uint32_t(record.stats.iterations), 4);
    putInt(s + 28, packBits(record.stats), 4);
}

NodeRecord decodeRecord(const uint8_t bytes[RecordSize]) {
    NodeRecord record;
    record.move = int16_t(uint16_t(get16(bytes + 0)));
    record.nextSibling = int32_t(get32(bytes + 4));
    record.firstChild = int32_t(get32(bytes + 8));
    record.parent = int32_t(get32(bytes + 12));
    const uint8_t* s = bytes + StatsOffset;
    record.stats.proof = int32_t(get32(s + 8));
    record.stats.disproof = int32_t(get32(s + 12));
    record.stats.secondWinsCut = int32_t(get32(s + 16));
    record.stats.secondWinsWhole = int32_t(get32(s + 20));
    record.stats.iterations = int32_t(get32(s + 24));
    const uint32_t bits = get32(s + 28);
    record.stats.outcome = int32_t(bits & 3u);
    record.stats.ply = int32_t((bits >> 3) & 511u);
    record.stats.toEnd = int32_t((bits >> 12) & 511u);
    return record;
}

std::string statsLine(const NodeStats& s) {
    std::ostringstream line;
    line << '{' << proofText(s.proof) << ',' << proofText(s.disproof) << "}, " << s.outcome << ' '
         << s.secondWinsWhole << '/' << s.secondWinsCut << " iter=" << s.iterations << " deep=" << s.ply << '|'
         << s.toEnd;
    return line.str();
}

NodeRecord emptyTreeRoot() {
    NodeRecord root;
    root.stats.proof = 1;
    root.stats.disproof = 1;
    root.stats.outcome = 2;
    return root;
}

namespace {

int32_t addCount(int32_t a, int32_t b) {
    const int64_t sum = int64_t(a) + b;
    return int32_t(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

}  // namespace

void combineStats(NodeStats& a, const NodeStats& child) {
    a.secondWinsCut = addCount(a.secondWinsCut, child.secondWinsCut);
    a.secondWinsWhole = addCount(a.secondWinsWhole, child.secondWinsWhole);
    // Odd ply: the children are the second player's moves, who wants low classes.
    const bool secondChooses = a.ply % 2 == 1;
    const bool better = secondChooses ? child.outcome < a.outcome : child.outcome > a.outcome;
    const bool toEndWins = secondChooses ? child.toEnd < a.toEnd : child.toEnd > a.toEnd;
    if (better) {
        a.outcome = child.outcome;
        a.toEnd = child.toEnd;
    } else if (child.outcome == a.outcome && toEndWins) {
        a.toEnd = child.toEnd;
    }
}
