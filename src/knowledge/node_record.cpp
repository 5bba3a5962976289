#include "knowledge/node_record.h"

#include <sstream>

namespace {

void putInt(uint8_t* at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint32_t getInt(const uint8_t* at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= uint32_t(at[i]) << (8 * i);
    return value;
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
    record.move = int16_t(uint16_t(getInt(bytes + 0, 2)));
    record.nextSibling = int32_t(getInt(bytes + 4, 4));
    record.firstChild = int32_t(getInt(bytes + 8, 4));
    record.parent = int32_t(getInt(bytes + 12, 4));
    const uint8_t* s = bytes + StatsOffset;
    record.stats.proof = int32_t(getInt(s + 8, 4));
    record.stats.disproof = int32_t(getInt(s + 12, 4));
    record.stats.secondWinsCut = int32_t(getInt(s + 16, 4));
    record.stats.secondWinsWhole = int32_t(getInt(s + 20, 4));
    record.stats.iterations = int32_t(getInt(s + 24, 4));
    const uint32_t bits = getInt(s + 28, 4);
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
