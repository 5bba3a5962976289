#include "board/board.h"

#include <bit>
#include <cstring>

#include "board/line_patterns.h"
#include "board/shared_state.h"

namespace {

constexpr ReachTables buildReachTables() {
    ReachTables t{};
    constexpr int dx[8] = {-1, 1, 0, 0, -1, 1, 1, -1};
    constexpr int dy[8] = {0, 0, -1, 1, -1, 1, -1, 1};
    for (int d = 0; d < 8; ++d) {
        for (int c = 0; c < CellCount; ++c) {
            int k = 0;
            while (k < 4 && onBoard(cellX(c) + (k + 1) * dx[d], cellY(c) + (k + 1) * dy[d])) ++k;
            t.cell[d][c] = static_cast<int16_t>(c + k * ReachSteps[d]);
            t.count[d][c] = static_cast<int8_t>(k);
        }
    }
    return t;
}

// The points of a ray that make-move re-evaluates, from four 2-bit points
// of a line word: the empty points before the first stone of the second
// colour met (or the edge), as bit i for the point i + 1 steps away.
// Backward halves of a window hold the far point first, forward halves the near one.
struct RayTables {
    uint8_t backward[256];
    uint8_t forward[256];
};

constexpr uint8_t rayVisits(uint32_t points, bool farFirst) {
    uint8_t visits = 0;
    bool seenX = false, seenO = false;
    for (int i = 0; i < 4; ++i) {
        const uint32_t point = (points >> (2 * (farFirst ? 3 - i : i))) & 3;
        if (point == PointOff || (point == PointX && seenO) || (point == PointO && seenX)) break;
        if (point == PointEmpty) visits |= static_cast<uint8_t>(1u << i);
        seenX |= point == PointX;
        seenO |= point == PointO;
    }
    return visits;
}

constexpr RayTables buildRayTables() {
    RayTables t{};
    for (uint32_t points = 0; points < 256; ++points) {
        t.backward[points] = rayVisits(points, true);
        t.forward[points] = rayVisits(points, false);
    }
    return t;
}

constexpr RayTables rayTables = buildRayTables();

}  // namespace

constexpr ReachTables reachTables = buildReachTables();

Board::Board() {
    std::memcpy(ranks, emptyBoardRanks.data(), sizeof ranks);
    knowAllRanks();
}

void Board::forgetRanks() { std::fill(std::begin(rankKnown), std::end(rankKnown), 0); }

void Board::knowAllRanks() {
    std::fill(std::begin(rankKnown), std::end(rankKnown), ~uint64_t{0});
    rankKnown[CellCount / 64] = (uint64_t{1} << (CellCount % 64)) - 1;
}

bool Board::evaluateCell(int cell) {
    int xClass, oClass;
    setRanks(cell, cellRanks(*this, cell));
    classesOfRanks(ranks[cell], xClass, oClass);
    xThreats.update(cell, xClass, cells, ListedX, xScore_);
    oThreats.update(cell, oClass, cells, ListedO, oScore_);
    return xClass == 0 || oClass == 0;
}

void Board::makeMove(int cell) {
    if (playedCount < CellCount)
        played[playedCount++] = {static_cast<int16_t>(cell), static_cast<int16_t>(lastMove_), savedScore_};
    savedScore_ = sideToMove_ ? xScore_ : oScore_;
    cells[cell] = static_cast<uint8_t>((cells[cell] & 0x3F) | (sideToMove_ ? StoneX : StoneO));
    lines.place(cell, sideToMove_ ? PointX : PointO);
    ++moveCount_;
    lastMove_ = cell;
    updateAround(cell);
    ++nodeCounter;
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
    positionKey_ ^= key(sideToMove_, cell);
}

void Board::makeMove(int cell, MoveUndo& undo) {
    undo.savedScore = savedScore_;
    undo.xScore = xScore_;
    undo.oScore = oScore_;
    undo.lastMove = lastMove_;
    undo.positionKey = positionKey_;
    undo.sideToMove = sideToMove_;
    undo.cell = static_cast<int16_t>(cell);
    undo.touched = 0;
    std::memcpy(undo.rankKnown, rankKnown, sizeof rankKnown);
    const bool defer = deferLayout;
    deferLayout = true;  // a laid-out list could not be put back
    savedScore_ = sideToMove_ ? xScore_ : oScore_;
    const uint8_t byte = cells[cell];
    cells[cell] = static_cast<uint8_t>((byte & 0x3F) | (sideToMove_ ? StoneX : StoneO));
    lines.place(cell, sideToMove_ ? PointX : PointO);
    ++moveCount_;
    lastMove_ = cell;
    updateAround(cell, &undo);
    undo.touchedCell[undo.touched] = static_cast<int16_t>(cell);  // the stone's own byte last
    undo.touchedByte[undo.touched] = byte;
    undo.touchedRanks[undo.touched] = ranks[cell];
    undo.touchedLine[undo.touched] = -1;
    ++undo.touched;
    deferLayout = defer;
    undo.xPending = xThreats.isPending();
    undo.oPending = oThreats.isPending();
    ++nodeCounter;
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
    positionKey_ ^= key(sideToMove_, cell);
}

void Board::undoMove(const MoveUndo& undo) {
    if (undo.xPending) xThreats.undoPending();
    if (undo.oPending) oThreats.undoPending();
    lines.remove(undo.cell);
    std::memcpy(rankKnown, undo.rankKnown, sizeof rankKnown);
    for (int i = undo.touched - 1; i >= 0; --i) {
        const int c = undo.touchedCell[i];
        cells[c] = undo.touchedByte[i];
        if (isRankKnown(c)) {
            ranks[c] = undo.touchedRanks[i];
        } else if (const int line = undo.touchedLine[i]; line >= 0) {
            // Ranked afresh by the move: without the stone only its line
            // differs, and the next move near here finds the cell ranked.
            setRanks(c, (ranks[c] & ~(LineRankMask << (3 * line))) | lineRanks(*this, line, c));
        }
    }
    --moveCount_;
    savedScore_ = undo.savedScore;
    xScore_ = undo.xScore;
    oScore_ = undo.oScore;
    lastMove_ = undo.lastMove;
    positionKey_ = undo.positionKey;
    sideToMove_ = undo.sideToMove;
}

void Board::removeStone(int cell) {
    cells[cell] &= 0x3F;
    lines.remove(cell);
    --moveCount_;
    updateAround(cell);
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
}

bool Board::takeBack() {
    if (playedCount == 0 || lastMove_ < 0 || played[playedCount - 1].cell != lastMove_) return false;
    const PlayedMove move = played[--playedCount];
    const uint8_t side = isXByte(cells[move.cell]) ? 1 : 0;
    removeStone(move.cell);
    sideToMove_ = side;
    savedScore_ = move.savedScore;
    positionKey_ ^= key(1 - side, move.cell);
    lastMove_ = move.lastMove;
    return true;
}

bool Board::liftLastStone() {
    if (lastMove_ < 0) return false;
    const int cell = lastMove_;
    if (playedCount > 0 && played[playedCount - 1].cell == cell) --playedCount;
    positionKey_ ^= key(isXByte(cells[cell]) ? 0 : 1, cell);
    removeStone(cell);
    lastMove_ = -1;
    return true;
}

// Classifies every cell first and then updates each list once for them all:
// classes come from the line words alone, so the list updates cannot change
// them, and the lists end as if each cell had been evaluated in turn.
bool Board::updateAround(int cell, MoveUndo* undo) {
    // Per side, the cells with something to do in the list: listed, or now
    // of a listed class.
    struct SideOps {
        CellClass ops[MaxBatch];
        int n = 0;

        void add(uint8_t byte, uint8_t listedBit, int c, int threatClass) {
            ops[n] = {static_cast<int16_t>(c), static_cast<int8_t>(threatClass)};
            n += (byte & listedBit) != 0 || threatClass <= WeakestListed;
        }
    };
    SideOps x, o;
    auto classify = [&](int c, int line, uint32_t cellRanks) {
        int xClass, oClass;
        if (undo) {
            undo->touchedCell[undo->touched] = static_cast<int16_t>(c);
            undo->touchedByte[undo->touched] = cells[c];
            undo->touchedRanks[undo->touched] = ranks[c];
            undo->touchedLine[undo->touched] = static_cast<int8_t>(line);
            ++undo->touched;
        }
        ranks[c] = cellRanks;
        classesOfRanks(cellRanks, xClass, oClass);
        const uint8_t byte = cells[c];
        x.add(byte, ListedX, c, xClass);
        o.add(byte, ListedO, c, oClass);
        return (xClass == 0) | (oClass == 0);
    };
    if (isEmptyByte(cells[cell])) {
        setRanks(cell, cellRanks(*this, cell));
        classify(cell, -1, ranks[cell]);
    } else {  // a stone: its entries go
        x.add(cells[cell], ListedX, cell, NoThreat);
        o.add(cells[cell], ListedO, cell, NoThreat);
    }
    // The rays in the order -1, +1, -20, +20, -21, +21, +19, -19: each
    // line's backward ray, then its forward ray. A cell on a ray sees the
    // stone on that ray's line only.
    bool fivePoint = false;
    // The cells of a ray share the stone's line word.
    for (int line = 0; line < LineCount; ++line) {
        const LinePlace& place = linePlaces.place[cell][line];
        const uint64_t lineWord = lines.word[place.word];
        const uint32_t window = LineWords::windowAt(lineWord, place.shift);
        const uint32_t others = ~(LineRankMask << (3 * line));
        auto visit = [&](int c, int shift) {
            const uint32_t onLine = windowRanks(LineWords::windowAt(lineWord, shift), line);
            uint32_t r;
            if (isRankKnown(c)) {
                r = (ranks[c] & others) | onLine;
            } else {
                r = onLine;
                for (int other = 0; other < LineCount; ++other)
                    if (other != line) r |= lineRanks(*this, other, c);
                rankKnown[c >> 6] |= uint64_t{1} << (c & 63);
            }
            fivePoint |= classify(c, line, r);
        };
        for (uint32_t visits = rayTables.backward[window & 0xFF]; visits; visits &= visits - 1) {
            const int steps = std::countr_zero(visits) + 1;
            visit(cell + BackwardStep[line] * steps, place.shift - 2 * steps);
        }
        for (uint32_t visits = rayTables.forward[window >> 8]; visits; visits &= visits - 1) {
            const int steps = std::countr_zero(visits) + 1;
            visit(cell + ForwardStep[line] * steps, place.shift + 2 * steps);
        }
    }
    xThreats.update(x.ops, x.n, cells, ListedX, xScore_, deferLayout);
    oThreats.update(o.ops, o.n, cells, ListedO, oScore_, deferLayout);
    return fivePoint;
}

bool Board::rebuildThreats() {
    lines.rebuild(cells);
    xScore_ = oScore_ = savedScore_ = 0;
    bool fivePoint = false;
    for (int cell = 0; cell < CellCount; ++cell) {
        if (!isEmptyByte(cells[cell])) continue;
        cells[cell] &= static_cast<uint8_t>(~(ListedX | ListedO));
        if (evaluateCell(cell)) fivePoint = true;
    }
    return fivePoint;
}

void Board::clearThreatLists() {
    oThreats.clear();
    xThreats.clear();
}

void Board::clear() {
    resetPosition();
    positionKey_ = PositionKey{};
    playedCount = 0;
}

void Board::setUp(const int8_t (&stones)[CellCount], int side) {
    clearThreatLists();
    moveCount_ = 0;
    positionKey_ = PositionKey{};
    for (int cell = 0; cell < CellCount; ++cell) {
        cells[cell] = stones[cell] == NoStone ? 0 : stones[cell] ? StoneX : StoneO;
        if (stones[cell] == NoStone) continue;
        ++moveCount_;
        positionKey_ ^= key(1 - stones[cell], cell);
    }
    lastMove_ = -1;
    sideToMove_ = static_cast<uint8_t>(side != 0);
    playedCount = 0;
    rebuildThreats();
}

void Board::resetPosition() {
    clearThreatLists();
    // rebuildThreats clears the listed bits of every cell left empty.
    for (auto& byte : cells) byte &= 0x3F;
    moveCount_ = 0;
    lastMove_ = -1;
    rebuildThreats();
}

std::unique_ptr<Board> copyBoard(const Board& source) {
    auto copy = std::make_unique<Board>();
    copyBoard(source, *copy);
    return copy;
}

void copyBoard(const Board& source, Board& target) {
    std::memcpy(target.cells, source.cells, sizeof target.cells);
    target.xThreats.copyFrom(source.xThreats);
    target.oThreats.copyFrom(source.oThreats);
    target.xScore_ = source.xScore_;
    target.oScore_ = source.oScore_;
    target.savedScore_ = source.savedScore_;
    target.lastMove_ = source.lastMove_;
    target.moveCount_ = source.moveCount_;
    target.sideToMove_ = source.sideToMove_;
    target.positionKey_ = source.positionKey_;
    target.playedCount = 0;
    std::memcpy(target.lines.word, source.lines.word, sizeof target.lines.word);
    std::memcpy(target.rankKnown, source.rankKnown, sizeof target.rankKnown);
    std::memcpy(target.ranks, source.ranks, sizeof target.ranks);
}

namespace {

void appendInt32(std::string& bytes, int32_t value) {
    const uint32_t u = static_cast<uint32_t>(value);
    const char four[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                          static_cast<char>(u >> 24)};
    bytes.append(four, 4);
}

bool readInt32(std::FILE* file, int32_t& value) {
    unsigned char bytes[4];
    if (std::fread(bytes, 1, 4, file) != 4) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                 static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

void appendList(std::string& bytes, const ThreatList& list) {
    list.settle();
    appendInt32(bytes, list.count);
    for (int i = 0; i < list.count; ++i) appendInt32(bytes, list.cells[i]);
    for (int i = 0; i < list.count; ++i) appendInt32(bytes, list.classes[i]);
}

bool writeBytes(std::FILE* file, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// An image read from disk is checked before it touches the Board: counts,
// cells and classes index arrays later on.
struct ListImage {
    int32_t count = 0;
    int32_t cells[CellCount];
    int32_t classes[CellCount];
};

bool readList(std::FILE* file, ListImage& list) {
    if (!readInt32(file, list.count) || list.count < 0 || list.count > CellCount) return false;
    for (int i = 0; i < list.count; ++i)
        if (!readInt32(file, list.cells[i]) || list.cells[i] < 0 || list.cells[i] >= CellCount) return false;
    for (int i = 0; i < list.count; ++i)
        if (!readInt32(file, list.classes[i]) || list.classes[i] < 0 || list.classes[i] > WeakestListed)
            return false;
    return true;
}

void installList(ThreatList& list, const ListImage& image) {
    if (image.count == 0) {
        list.clear();
        return;
    }
    list.assign(image.cells, image.classes, image.count);
}

}  // namespace

void appendBoardImage(const Board& board, std::string& bytes) {
    appendInt32(bytes, board.moveCount_);
    appendInt32(bytes, board.lastMove_);
    bytes.push_back(static_cast<char>(board.sideToMove_));
    appendBoardImageBody(board, bytes);
}

void appendBoardImageBody(const Board& board, std::string& bytes) {
    appendInt32(bytes, board.xScore_);
    appendInt32(bytes, board.oScore_);
    appendList(bytes, board.xThreats);
    appendList(bytes, board.oThreats);
    bytes.append(reinterpret_cast<const char*>(board.cells), CellCount);
}

bool writeBoardImage(const Board& board, std::FILE* file) {
    std::string bytes;
    appendBoardImage(board, bytes);
    return writeBytes(file, bytes);
}

bool writeBoardImageBody(const Board& board, std::FILE* file) {
    std::string bytes;
    appendBoardImageBody(board, bytes);
    return writeBytes(file, bytes);
}

bool readBoardImage(Board& board, std::FILE* file) {
    int32_t moveCount, lastMove, xScore, oScore;
    uint8_t side;
    auto xList = std::make_unique<ListImage>();
    auto oList = std::make_unique<ListImage>();
    uint8_t cells[CellCount];
    if (!readInt32(file, moveCount) || !readInt32(file, lastMove) || std::fread(&side, 1, 1, file) != 1 ||
        !readInt32(file, xScore) || !readInt32(file, oScore) || !readList(file, *xList) || !readList(file, *oList) ||
        std::fread(cells, 1, CellCount, file) != CellCount)
        return false;
    if (side > 1 || lastMove < -1 || lastMove >= CellCount) return false;
    board.moveCount_ = moveCount;
    board.lastMove_ = lastMove;
    board.playedCount = 0;
    board.sideToMove_ = side;
    board.xScore_ = xScore;
    board.oScore_ = oScore;
    installList(board.xThreats, *xList);
    installList(board.oThreats, *oList);
    std::memcpy(board.cells, cells, CellCount);
    board.xThreats.checkListedBits(board.cells, ListedX);
    board.oThreats.checkListedBits(board.cells, ListedO);
    board.lines.rebuild(board.cells);
    for (int cell = 0; cell < CellCount; ++cell) board.ranks[cell] = cellRanks(board, cell);
    board.knowAllRanks();
    return true;
}
