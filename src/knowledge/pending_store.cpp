#include "knowledge/pending_store.h"

#include <algorithm>

#include "board/cell.h"
#include "knowledge/symmetry_frame.h"

namespace {

constexpr int32_t SingleLineMark = 0x76726154;  // one line: nextSibling its length
constexpr int32_t LinesMark = 0x73726154;

NodeRecord recordAt(const std::vector<uint8_t>& bytes, size_t index) {
    return decodeRecord(bytes.data() + index * RecordSize);
}

void put(std::vector<uint8_t>& bytes, const NodeRecord& record) {
    const size_t at = bytes.size();
    bytes.resize(at + RecordSize);
    encodeRecord(record, bytes.data() + at);
}

// The moves and stats of records first .. first + length - 1.
PendingLine lineAt(const std::vector<uint8_t>& bytes, size_t first, size_t length) {
    PendingLine line;
    for (size_t i = first; i < first + length; ++i) {
        const NodeRecord r = recordAt(bytes, i);
        line.moves.push_back(r.move);
        line.stats.push_back(r.stats);
    }
    return line;
}

}  // namespace

std::vector<uint8_t> encodePendingLines(const std::vector<PendingLine>& lines) {
    std::vector<uint8_t> bytes;
    NodeRecord header;
    header.nextSibling = int32_t(lines.size());
    header.firstChild = LinesMark;
    size_t count = 1;
    for (const PendingLine& line : lines) count += 1 + line.moves.size();
    header.parent = int32_t(count);
    bytes.reserve(count * RecordSize);
    put(bytes, header);
    for (const PendingLine& line : lines) {
        NodeRecord start;
        start.nextSibling = int32_t(line.moves.size());
        put(bytes, start);
        for (size_t i = 0; i < line.moves.size(); ++i) {
            NodeRecord r;
            r.move = int16_t(line.moves[i]);
            r.stats = line.stats[i];
            put(bytes, r);
        }
    }
    return bytes;
}

std::vector<PendingLine> decodePendingLines(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 * RecordSize || bytes.size() % RecordSize != 0) return {};
    const size_t count = bytes.size() / RecordSize;
    const NodeRecord header = recordAt(bytes, 0);
    if (header.firstChild == SingleLineMark) {
        if (header.nextSibling < 1 || size_t(header.nextSibling) != count - 1 || count - 1 > PendingMaxMoves) return {};
        return {lineAt(bytes, 1, count - 1)};
    }
    if (header.firstChild != LinesMark || header.parent < 0 || size_t(header.parent) != count) return {};
    std::vector<PendingLine> lines;
    size_t at = 1;
    for (int32_t n = 0; n < header.nextSibling; ++n) {
        if (at >= count) return {};
        const int32_t length = recordAt(bytes, at).nextSibling;
        if (length < 1 || size_t(length) > PendingMaxMoves || size_t(length) > count - at - 1) return {};
        lines.push_back(lineAt(bytes, at + 1, size_t(length)));
        at += 1 + size_t(length);
    }
    if (at != count) return {};
    return lines;
}

bool validLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    if (moves.empty() || moves.size() != stats.size() || moves[0] != NormalisedFirstMove) return false;
    return std::all_of(moves.begin(), moves.end(), [](int32_t move) { return move >= 0 && move < CellCount; });
}
