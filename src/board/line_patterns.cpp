#include "board/line_patterns.h"

#include <bit>

namespace {

constexpr int segmentLength(int code) { return std::bit_width(static_cast<unsigned>(code)) - 1; }

// Point i counted from the far backward end.
constexpr bool holdsStone(int code, int i) { return (code >> (segmentLength(code) - 1 - i)) & 1; }
constexpr int fillPoint(int code, int i) { return code | (1 << (segmentLength(code) - 1 - i)); }

constexpr bool hasFive(int code) {
    int run = 0;
    for (int i = 0; i < segmentLength(code); ++i) {
        run = holdsStone(code, i) ? run + 1 : 0;
        if (run >= 5) return true;
    }
    return false;
}

constexpr int completionPoints(int code) {
    int n = 0;
    for (int i = 0; i < segmentLength(code); ++i)
        if (!holdsStone(code, i) && hasFive(fillPoint(code, i))) ++n;
    return n;
}

// Filling a point only sets a bit, so every filled code is larger than its
// source: walking the codes downwards sees each fill already classified.
constexpr void buildLineClasses(PatternTables& t) {
    t.lineClass[0] = t.lineClass[1] = NoThreat;
    for (int code = CodeCount - 1; code >= 2; --code) {
        int8_t& k = t.lineClass[code];
        if (segmentLength(code) < 5) { k = NoThreat; continue; }
        if (hasFive(code)) { k = 0; continue; }
        int completions = completionPoints(code);
        if (completions >= 2) { k = 1; continue; }
        if (completions == 1) { k = 12; continue; }
        bool gives[ClassCount] = {};
        for (int i = 0; i < segmentLength(code); ++i)
            if (!holdsStone(code, i)) gives[t.lineClass[fillPoint(code, i)]] = true;
        k = gives[1] ? 11 : gives[12] ? 13 : gives[11] ? 16 : gives[13] ? 17 : NoThreat;
    }
}

constexpr void buildPairClasses(PatternTables& t) {
    constexpr int lineClasses[8] = {0, 1, 11, 12, 13, 16, 17, 18};
    constexpr int8_t pairs[8][8] = {
        {0, 0, 0, 0, 0, 0, 0, 0},          {0, 1, 1, 1, 1, 1, 1, 1},
        {0, 1, 3, 2, 5, 6, 11, 11},        {0, 1, 2, 1, 4, 7, 12, 12},
        {0, 1, 5, 4, 8, 10, 13, 13},       {0, 1, 6, 7, 10, 9, 14, 16},
        {0, 1, 11, 12, 13, 14, 15, 17},    {0, 1, 11, 12, 13, 16, 17, 18},
    };
    for (auto& entry : t.pairClass) entry = -1;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) t.pairClass[19 * lineClasses[i] + lineClasses[j]] = pairs[i][j];
}

constexpr int distanceOf(const PatternTables& t, int code) {
    return segmentLength(code) < 5 ? 6 : t.lineDistance[code];
}

constexpr void buildLineDistances(PatternTables& t) {
    t.lineDistance[0] = t.lineDistance[1] = 0;
    for (int code = CodeCount - 1; code >= 2; --code) {
        int8_t& d = t.lineDistance[code];
        if (segmentLength(code) < 5) { d = 6; continue; }
        if (hasFive(code) || completionPoints(code) >= 2) { d = 0; continue; }
        int least = 6;
        for (int i = 0; i < segmentLength(code); ++i)
            if (!holdsStone(code, i) && t.lineDistance[fillPoint(code, i)] < least)
                least = t.lineDistance[fillPoint(code, i)];
        d = static_cast<int8_t>(least + 1 < 6 ? least + 1 : 6);
    }
}

constexpr void buildDefenceCells(PatternTables& t) {
    for (int code = 2; code < CodeCount; ++code) {
        int length = segmentLength(code);
        int pattern = code - (1 << length);
        for (int i = 0; i < length; ++i) {
            if (holdsStone(code, i)) continue;
            int rightLength = length - 1 - i;
            int left = (1 << i) | (pattern >> (length - i));
            int right = (1 << rightLength) | (pattern & ((1 << rightLength) - 1));
            int lowest = distanceOf(t, left) < distanceOf(t, right) ? distanceOf(t, left) : distanceOf(t, right);
            int rise = lowest - distanceOf(t, code);
            t.defenceCell[code][i] = static_cast<int8_t>(rise > 0 ? rise : 0);
        }
    }
}

constexpr PatternTables buildPatternTables() {
    PatternTables t{};
    buildLineClasses(t);
    buildPairClasses(t);
    buildLineDistances(t);
    buildDefenceCells(t);
    return t;
}

}  // namespace

constexpr PatternTables patternTables = buildPatternTables();

namespace {

// The usable part of four window points for `own` (PointX or PointO): the
// points up to the first one that is neither empty nor own, as a length and
// the own-stone bits in line order. Backward halves hold the far point first.
struct HalfSegment {
    int length = 0;
    int bits = 0;
};

constexpr HalfSegment halfSegment(uint32_t points, uint32_t own, bool backward) {
    HalfSegment h;
    for (int k = 0; k < 4; ++k) {
        const int i = backward ? 3 - k : k;  // nearest point first
        const uint32_t point = (points >> (2 * i)) & 3;
        if (point != PointEmpty && point != own) break;
        const int bit = point == own ? 1 : 0;
        h.bits = backward ? h.bits | bit << k : 2 * h.bits + bit;
        ++h.length;
    }
    return h;
}

// The stone-form code of `own` in a window: the cell and its usable neighbours.
constexpr int windowCode(const HalfSegment& back, const HalfSegment& forward) {
    const int withCell = ((1 << back.length | back.bits) << 1) | 1;
    return withCell << forward.length | forward.bits;
}

constexpr int rankOf(int lineClass) {
    int rank = 0;
    while (LineClassRanks[rank] != lineClass) ++rank;
    return rank;
}

constexpr WindowTables buildWindowTables() {
    WindowTables t{};
    HalfSegment back[256][2], forward[256][2];
    for (uint32_t points = 0; points < 256; ++points) {
        for (int side = 0; side < 2; ++side) {
            const uint32_t own = side ? PointX : PointO;
            back[points][side] = halfSegment(points, own, true);
            forward[points][side] = halfSegment(points, own, false);
        }
    }
    for (uint32_t halves = 0; halves < 1 << 16; ++halves) {
        const uint32_t b = halves & 0xFF, f = halves >> 8;
        const int x = rankOf(patternTables.lineClass[windowCode(back[b][1], forward[f][1])]);
        const int o = rankOf(patternTables.lineClass[windowCode(back[b][0], forward[f][0])]);
        for (uint32_t centre = 0; centre < 4; ++centre)
            t.lineRankBytes[b | centre << 8 | f << 10] = static_cast<uint8_t>(x | o << 3);
    }
    for (uint32_t ranks = 0; ranks < t.threatClass.size(); ++ranks) {
        int a = NoThreat, b = NoThreat;
        for (int line = 0; line < LineCount; ++line) {
            const int k = LineClassRanks[(ranks >> (3 * line)) & 7];
            if (k < a) { b = a; a = k; } else if (k < b) { b = k; }
        }
        t.threatClass[ranks] = patternTables.pairClass[19 * a + b];
    }
    return t;
}

}  // namespace

constexpr WindowTables windowTables = buildWindowTables();

void lineCodes(const uint8_t* cells, int cell, int line, int& x, int& o) {
    const int back = BackwardStep[line];
    const int backPoints = reachCount(BackwardReach[line], cell);
    int p = cell;
    int w = 2;
    int i = 0;
    for (; i < backPoints; ++i) {
        p += back;
        if (!isEmptyByte(cells[p])) break;
        w <<= 1;
    }
    if (i == backPoints) {
        x = o = w + 1;
    } else {
        const bool ownIsX = isXByte(cells[p]);
        int& own = ownIsX ? x : o;
        int& other = ownIsX ? o : x;
        other = w + 1;
        own = w + 1;
        w <<= 1;
        for (++i; i < backPoints; ++i) {
            p += back;
            const uint8_t v = cells[p];
            if (!isEmptyByte(v)) {
                if (isXByte(v) != ownIsX) break;
                own += w;
            }
            w <<= 1;
        }
        own += w;
    }

    const int forward = ForwardStep[line];
    const int forwardPoints = reachCount(ForwardReach[line], cell);
    p = cell;
    for (i = 0; i < forwardPoints; ++i) {
        p += forward;
        if (!isEmptyByte(cells[p])) break;
        x <<= 1;
        o <<= 1;
    }
    if (i == forwardPoints) return;
    const bool ownIsX = isXByte(cells[p]);
    int& own = ownIsX ? x : o;
    own = 2 * own + 1;
    for (++i; i < forwardPoints; ++i) {
        p += forward;
        const uint8_t v = cells[p];
        if (isEmptyByte(v)) {
            own <<= 1;
        } else {
            if (isXByte(v) != ownIsX) return;
            own = 2 * own + 1;
        }
    }
}

int emptyFormCode(const uint8_t* cells, int cell, int line, int side) {
    auto isOwn = [side](uint8_t v) { return side ? isXByte(v) : isOByte(v); };
    auto isOpposing = [side](uint8_t v) { return side ? isOByte(v) : isXByte(v); };
    int code = 0;
    int w = 2;
    int p = cell;
    for (int i = reachCount(BackwardReach[line], cell); i > 0; --i) {
        p += BackwardStep[line];
        if (isOpposing(cells[p])) break;
        if (isOwn(cells[p])) code += w;
        w <<= 1;
    }
    code += w;
    p = cell;
    for (int i = reachCount(ForwardReach[line], cell); i > 0; --i) {
        p += ForwardStep[line];
        if (isOpposing(cells[p])) break;
        code = 2 * code + (isOwn(cells[p]) ? 1 : 0);
    }
    return code;
}

void classifyByScanning(const uint8_t* cells, int cell, int& xClass, int& oClass) {
    int xa = NoThreat, xb = NoThreat, oa = NoThreat, ob = NoThreat;
    for (int line = 0; line < LineCount; ++line) {
        int x, o;
        lineCodes(cells, cell, line, x, o);
        const int kx = lineClass(x);
        const int ko = lineClass(o);
        if (kx < xa) { xb = xa; xa = kx; } else if (kx < xb) { xb = kx; }
        if (ko < oa) { ob = oa; oa = ko; } else if (ko < ob) { ob = ko; }
    }
    xClass = pairClass(xa, xb);
    oClass = pairClass(oa, ob);
}

namespace {

// On the empty board a window holds only empty and off-board points.
constexpr std::array<uint32_t, CellCount> buildEmptyBoardRanks() {
    constexpr int forwardX[LineCount] = {1, 0, 1, 1};
    constexpr int forwardY[LineCount] = {0, 1, 1, -1};
    std::array<uint32_t, CellCount> ranks{};
    for (int cell = 0; cell < CellCount; ++cell) {
        for (int line = 0; line < LineCount; ++line) {
            uint32_t window = 0;
            for (int d = 1; d <= 4; ++d) {
                const bool back = onBoard(cellX(cell) - d * forwardX[line], cellY(cell) - d * forwardY[line]);
                const bool ahead = onBoard(cellX(cell) + d * forwardX[line], cellY(cell) + d * forwardY[line]);
                if (!back) window |= PointOff << (2 * (4 - d));
                if (!ahead) window |= PointOff << (2 * (4 + d));
            }
            ranks[cell] |= windowRanks(window, line);
        }
    }
    return ranks;
}

}  // namespace

constexpr std::array<uint32_t, CellCount> emptyBoardRanks = buildEmptyBoardRanks();
