#include "board/board.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "board/line_patterns.h"

namespace {

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

// The cells of the rays through a cell as one mask, bit 8 * line + j: j 0-3
// the backward ray's cells 1-4 steps away, j 4-7 the forward ray's. By bit,
// the step to the cell and the shift of its window in the line word of the
// probe's walk (that word shifted so that the probed cell's window starts at 8).
// Array by array, so that the bit indexes each one as it is.
struct RayBits {
    int64_t step[32];
    uint32_t spread[32];  // the multiplier that spreads a window's rank byte to the line's cell-rank bits
    uint32_t keep[32];    // the other lines' cell-rank bits
    uint8_t shift[32];
};

constexpr RayBits buildRayBits() {
    RayBits t{};
    for (int b = 0; b < 32; ++b) {
        const int line = b >> 3, j = b & 7;
        const int s = j < 4 ? j + 1 : j - 3;
        t.step[b] = s * (j < 4 ? BackwardStep[line] : ForwardStep[line]);
        t.shift[b] = static_cast<uint8_t>(j < 4 ? 8 - 2 * s : 8 + 2 * s);
        t.spread[b] = 0x2001u << (3 * line);
        t.keep[b] = ~(LineRankMask << (3 * line));
    }
    return t;
}

constexpr RayBits rayBits = buildRayBits();

// Debug builds, and builds that ask for it, check every Board after every
// operation that changes it.
#if defined(TARVO_SELF_CHECK) || !defined(NDEBUG)
constexpr bool SelfCheckOn = true;
#else
constexpr bool SelfCheckOn = false;
#endif

}  // namespace

Board::Board() {
    std::memcpy(ranks_, emptyBoardRanks.data(), sizeof ranks_);
    knowAllRanks();
}

void Board::forgetRanks() { std::fill(std::begin(rankKnown_), std::end(rankKnown_), 0); }

void Board::knowAllRanks() {
    std::fill(std::begin(rankKnown_), std::end(rankKnown_), ~uint64_t{0});
    rankKnown_[CellCount / 64] = (uint64_t{1} << (CellCount % 64)) - 1;
}

void Board::evaluateCell(int cell) {
    int xClass, oClass;
    setRanks(cell, cellRanks(lines_, cell));
    classesOfRanks(ranks_[cell], xClass, oClass);
    xThreats_.update(cell, xClass, cells_, ListedX, xScore_);
    oThreats_.update(cell, oClass, cells_, ListedO, oScore_);
}

void Board::placeStone(int cell) {
    savedScore_ = sideToMove_ ? xScore_ : oScore_;
    cells_[cell] = static_cast<uint8_t>((cells_[cell] & 0x3F) | (sideToMove_ ? StoneX : StoneO));
    lines_.place(cell, sideToMove_ ? PointX : PointO);
    ++moveCount_;
    lastMove_ = cell;
}

void Board::makeMove(int cell) {
    if (playedCount_ < CellCount) played_[playedCount_++] = {static_cast<int16_t>(cell), sideToMove_};
    placeStone(cell);
    updateAround(cell);
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
    positionKey_ ^= key(sideToMove_, cell);
    checkInDebug(cell);
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
    if (undo.lists) {
        xThreats_.save(undo.lists->x);
        oThreats_.save(undo.lists->o);
    }
    std::memcpy(undo.rankKnown, rankKnown_, sizeof rankKnown_);
    const bool defer = deferLayout_;
    deferLayout_ = true;  // a laid-out list could not be put back
    const uint8_t byte = cells_[cell];
    placeStone(cell);
    updateAround(cell, &undo);
    undo.touchedCell[undo.touched] = static_cast<int16_t>(cell);  // the stone's own byte last
    undo.touchedByte[undo.touched] = byte;
    undo.touchedRanks[undo.touched] = ranks_[cell];
    undo.touchedLine[undo.touched] = -1;
    ++undo.touched;
    deferLayout_ = defer;
    undo.xPending = xThreats_.isPending();
    undo.oPending = oThreats_.isPending();
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
    positionKey_ ^= key(sideToMove_, cell);
    checkInDebug(cell);
}

void Board::undoMove(const MoveUndo& undo) {
    if (undo.lists) {
        xThreats_.restore(undo.lists->x);
        oThreats_.restore(undo.lists->o);
    } else if constexpr (SelfCheckOn) {
        if ((undo.xPending && !xThreats_.isPending()) || (undo.oPending && !oThreats_.isPending())) {
            std::fprintf(stderr, "Board self-check: %s laid out during a trial move, which cannot be taken back\n",
                         undo.xPending && !xThreats_.isPending() ? "xThreats" : "oThreats");
            std::abort();
        }
    }
    if (!undo.lists) {
        if (undo.xPending) xThreats_.undoPending();
        if (undo.oPending) oThreats_.undoPending();
    }
    lines_.remove(undo.cell);
    std::memcpy(rankKnown_, undo.rankKnown, sizeof rankKnown_);
    for (int i = undo.touched - 1; i >= 0; --i) {
        const int c = undo.touchedCell[i];
        cells_[c] = undo.touchedByte[i];
        if (isRankKnown(c)) {
            ranks_[c] = undo.touchedRanks[i];
        } else if (const int line = undo.touchedLine[i]; line >= 0) {
            // Ranked afresh by the move: without the stone only its line
            // differs, and the next move near here finds the cell ranked.
            setRanks(c, (ranks_[c] & ~(LineRankMask << (3 * line))) | lineRanks(lines_, line, c));
        }
    }
    --moveCount_;
    savedScore_ = undo.savedScore;
    xScore_ = undo.xScore;
    oScore_ = undo.oScore;
    lastMove_ = undo.lastMove;
    positionKey_ = undo.positionKey;
    sideToMove_ = undo.sideToMove;
    checkInDebug(undo.cell);
}

void Board::removeStone(int cell) {
    positionKey_ ^= key(isXByte(cells_[cell]) ? 0 : 1, cell);
    cells_[cell] &= 0x3F;
    lines_.remove(cell);
    --moveCount_;
    updateAround(cell);
    sideToMove_ = static_cast<uint8_t>(1 - sideToMove_);
}

// The set-up's stones are the Board's less those of its moves; set up again,
// they take the moves but the last in their order, as a game replayed from
// its record would (a manager's round trip costs more than the replay).
bool Board::takeBack() {
    if (playedCount_ == 0 || lastMove_ < 0 || played_[playedCount_ - 1].cell != lastMove_) return false;
    int8_t stones[CellCount];
    for (int c = 0; c < CellCount; ++c) stones[c] = static_cast<int8_t>(stoneAt(c));
    const int kept = playedCount_ - 1;
    PlayedMove moves[CellCount];
    std::copy(played_, played_ + playedCount_, moves);
    for (int i = 0; i < playedCount_; ++i) stones[moves[i].cell] = NoStone;
    setUp(stones, moves[kept].side);
    for (int i = 0; i < kept; ++i) {
        sideToMove_ = moves[i].side;
        makeMove(moves[i].cell);
    }
    sideToMove_ = moves[kept].side;
    return true;
}

bool Board::liftLastStone() {
    if (lastMove_ < 0) return false;
    const int cell = lastMove_;
    if (playedCount_ > 0 && played_[playedCount_ - 1].cell == cell) --playedCount_;
    removeStone(cell);
    lastMove_ = -1;
    checkInDebug(cell);
    return true;
}

// The rays in the order -1, +1, -20, +20, -21, +21, +19, -19: each line's
// backward ray, then its forward ray, as the bits of one mask walked from
// the lowest. A cell on a ray sees the stone on that ray's line only, so the
// cells of a ray share the stone's line word: shifted so that the cell's own
// window starts at bit 8 (a line word takes 56 bits), it holds the window
// of the cell s steps back at bit 8 - 2s and s steps ahead at 8 + 2s.
template <class Visit>
inline void Board::forEachRayCell(int cell, uint64_t point, Visit visit) const {
    uint64_t near[LineCount];
    uint64_t visits = 0;
    for (int line = 0; line < LineCount; ++line) {
        const LinePlace& place = linePlaces.place[cell][line];
        near[line] = ((lines_.word[place.word] | point << (place.shift + 8)) << 8) >> place.shift;
        const uint32_t window = LineWords::windowAt(near[line], 8);
        visits |= static_cast<uint64_t>(rayTables.backward[window & 0xFF] | rayTables.forward[window >> 10] << 4)
                  << (8 * line);
    }
    const int64_t from = cell;
    for (; visits; visits &= visits - 1) {
        const size_t b = static_cast<size_t>(std::countr_zero(visits));
        const uint32_t rankByte = windowTables.lineRankBytes[LineWords::windowAt(near[b >> 3], rayBits.shift[b])];
        const uint32_t keep = rayBits.keep[b];
        visit(from + rayBits.step[b], static_cast<int>(b >> 3), rankByte * rayBits.spread[b] & ~keep, keep);
    }
}

inline uint32_t Board::ranksWithLine(int cell, int line, uint32_t onLine, uint32_t keep) const {
    if (isRankKnown(cell)) return (ranks_[cell] & keep) | onLine;
    uint32_t r = onLine;
    for (int other = 0; other < LineCount; ++other)
        if (other != line) r |= lineRanks(lines_, other, cell);
    return r;
}

// Classifies every cell first and then updates each list once for them all:
// classes come from the line words alone, so the list updates cannot change
// them, and the lists end as if each cell had been evaluated in turn.
void Board::updateAround(int cell, MoveUndo* undo) {
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
    auto listClasses = [&](int c, uint32_t cellRanks) {
        int xClass, oClass;
        ranks_[c] = cellRanks;
        classesOfRanks(cellRanks, xClass, oClass);
        const uint8_t byte = cells_[c];
        x.add(byte, ListedX, c, xClass);
        o.add(byte, ListedO, c, oClass);
    };
    auto classify = [&](int c, int line, uint32_t cellRanks) {
        if (undo) {
            undo->touchedCell[undo->touched] = static_cast<int16_t>(c);
            undo->touchedByte[undo->touched] = cells_[c];
            undo->touchedRanks[undo->touched] = ranks_[c];
            undo->touchedLine[undo->touched] = static_cast<int8_t>(line);
            ++undo->touched;
        }
        listClasses(c, cellRanks);
    };
    if (isEmptyByte(cells_[cell])) {
        setRanks(cell, cellRanks(lines_, cell));
        classify(cell, -1, ranks_[cell]);
    } else {  // a stone: its entries go
        x.add(cells_[cell], ListedX, cell, NoThreat);
        o.add(cells_[cell], ListedO, cell, NoThreat);
    }
    // The search's copies know every cell's ranks and keep no undo: one
    // test for all their cells.
    if (!undo && knowsAllRanks()) {
        forEachRayCell(cell, PointEmpty, [&](int64_t c, int, uint32_t onLine, uint32_t keep) {
            listClasses(static_cast<int>(c), (ranks_[c] & keep) | onLine);
        });
    } else {
        forEachRayCell(cell, PointEmpty, [&](int64_t c, int line, uint32_t onLine, uint32_t keep) {
            const bool known = isRankKnown(c);
            const uint32_t r = ranksWithLine(static_cast<int>(c), line, onLine, keep);
            if (!known) rankKnown_[c >> 6] |= uint64_t{1} << (c & 63);
            classify(static_cast<int>(c), line, r);
        });
    }
    xThreats_.update(x.ops, x.n, cells_, ListedX, xScore_, deferLayout_);
    oThreats_.update(o.ops, o.n, cells_, ListedO, oScore_, deferLayout_);
}

namespace {

// What a probe changes of a side's list, summed in one word as plain
// integers: the entries of classes 0 to 3 in byte lanes 0-3 and the total in
// bits 32-63. A lane's sum is a change of at most MaxBatch either way, so
// adding 64 to each lane at the end reads every lane and the total whatever
// the borrows in between. By class from -1 (no entry) to NoThreat: its share.
struct ProbeShares {
    uint64_t share[ClassCount + 1];
};

constexpr ProbeShares buildProbeShares() {
    ProbeShares t{};
    for (int k = 0; k <= WeakestListed; ++k)
        t.share[k + 1] = (k < 4 ? uint64_t{1} << (8 * k) : 0) + (static_cast<uint64_t>(threatWeight[k]) << 32);
    return t;
}

constexpr ProbeShares probeShares = buildProbeShares();
static_assert(MaxBatch < 64);

// The list's side of a probe: its counts and total changed by a sum of shares.
Board::ProbeSide probeSide(const ThreatList& list, int32_t total, uint64_t shares) {
    constexpr uint64_t Bias = 0x40404040u;
    shares += Bias;
    // The four lanes spread to the counts' 16 bits and added at once: each
    // count ends between 0 and the list's size.
    const uint64_t lanes = static_cast<uint32_t>(shares);
    const uint64_t spread = (lanes & 0xFF) | (lanes & 0xFF00) << 8 | (lanes & 0xFF0000) << 16 | (lanes & 0xFF000000) << 24;
    uint64_t counts;
    std::memcpy(&counts, list.classCounts(), sizeof counts);
    counts += spread - 0x0040004000400040ull;
    Board::ProbeSide side;
    std::memcpy(side.strong, &counts, sizeof counts);
    side.total = total + static_cast<int32_t>(static_cast<int64_t>(shares) >> 32);
    return side;
}

Board::ProbeSide probeSide(const ThreatList::Tally& tally) {
    Board::ProbeSide side;
    for (int k = 0; k < 4; ++k) side.strong[k] = tally.perClass[k];
    side.total = tally.total;
    return side;
}

}  // namespace

bool Board::knowsAllRanks() const {
    uint64_t all = ~uint64_t{0};
    for (int w = 0; w < CellCount / 64; ++w) all &= rankKnown_[w];
    constexpr uint64_t lastWord = (uint64_t{1} << (CellCount % 64)) - 1;
    return all == ~uint64_t{0} && (rankKnown_[CellCount / 64] & lastWord) == lastWord;
}

// On a Board whose entries follow from its stones and whose cells are all
// ranked, every listed bit matches an entry, so the probe is exact, and a
// side's ranks that stay leave its class as it is. Every ray cell follows
// its classes without a branch: one whose ranks stay adds nothing, and most
// cells' ranks change for one side or both.
inline void Board::probeRanked(int cell, MoveProbe& probe) const {
    const int8_t* xClassOf = xThreats_.classesByCell();
    const int8_t* oClassOf = oThreats_.classesByCell();
    const uint64_t* shareOf = probeShares.share + 1;  // by class from -1
    uint64_t x = shareOf[NoThreat] - shareOf[xClassOf[cell]];
    uint64_t o = shareOf[NoThreat] - shareOf[oClassOf[cell]];
    forEachRayCell(cell, sideToMove_ ? PointX : PointO, [&](int64_t c, int, uint32_t onLine, uint32_t keep) {
        const uint32_t r = (ranks_[c] & keep) | onLine;
        x += shareOf[windowTables.threatClass[r & 0xFFF]] - shareOf[xClassOf[c]];
        o += shareOf[windowTables.threatClass[r >> 16]] - shareOf[oClassOf[c]];
    });
    probe.x = probeSide(xThreats_, xScore_, x);
    probe.o = probeSide(oThreats_, oScore_, o);
}

bool Board::probeMove(int cell, MoveProbe& probe) const {
    if (!canTryMoves()) return false;
    probe.savedScore = sideToMove_ ? xScore_ : oScore_;
    if (checked_ && knowsAllRanks()) {
        probeRanked(cell, probe);
        if constexpr (SelfCheckOn) checkProbe(cell, probe);
        return true;
    }
    ThreatList::Tally x, o;
    xThreats_.startTally(x, xScore_);
    oThreats_.startTally(o, oScore_);
    bool exact = xThreats_.tally(x, cell, NoThreat, cells_[cell], ListedX);
    exact &= oThreats_.tally(o, cell, NoThreat, cells_[cell], ListedO);
    const bool trusted = checked_;
    forEachRayCell(cell, sideToMove_ ? PointX : PointO, [&](int64_t c, int line, uint32_t onLine, uint32_t keep) {
        // On a Board whose entries follow from its stones, a side's ranks
        // that stay leave its class as it is.
        const uint32_t changed = trusted && isRankKnown(c) ? (ranks_[c] ^ onLine) & ~keep : ~0u;
        if (!changed) return;
        const uint32_t r = ranksWithLine(c, line, onLine, keep);
        if (changed & 0xFFFF) exact &= xThreats_.tally(x, c, windowTables.threatClass[r & 0xFFF], cells_[c], ListedX);
        if (changed >> 16) exact &= oThreats_.tally(o, c, windowTables.threatClass[r >> 16], cells_[c], ListedO);
    });
    probe.x = probeSide(x);
    probe.o = probeSide(o);
    if constexpr (SelfCheckOn) {
        if (exact) checkProbe(cell, probe);
    }
    return exact;
}

// The probe against the move played on a copy.
void Board::checkProbe(int cell, const MoveProbe& probe) const {
    const auto played = copyBoard(*this);
    played->makeMove(cell);
    const ProbeSide* sides[2] = {&probe.o, &probe.x};
    const int32_t totals[2] = {played->oScore_, played->xScore_};
    for (int side = 0; side < 2; ++side) {
        const ThreatList& list = played->threats(side);
        const ProbeSide& t = *sides[side];
        const int strongest = list.strongestClass() <= 3 ? list.strongestClass() : NoThreat;
        if (t.total == totals[side] && t.strongestUpToThree() == strongest && t.twoFives() == list.twoFives())
            continue;
        std::fprintf(stderr, "Board self-check: the probe of %d differs from the move for side %d\n", cell, side);
        std::abort();
    }
    if (probe.savedScore != played->savedScore_) {
        std::fprintf(stderr, "Board self-check: the probe of %d saves another total\n", cell);
        std::abort();
    }
}

void Board::rebuildThreats() {
    lines_.rebuild(cells_);
    xScore_ = oScore_ = savedScore_ = 0;
    for (int cell = 0; cell < CellCount; ++cell) {
        if (!isEmptyByte(cells_[cell])) continue;
        cells_[cell] &= static_cast<uint8_t>(~(ListedX | ListedO));
        evaluateCell(cell);
    }
}

void Board::clear() {
    oThreats_.clear();
    xThreats_.clear();
    // rebuildThreats clears the listed bits of every cell left empty.
    for (auto& byte : cells_) byte &= 0x3F;
    moveCount_ = 0;
    lastMove_ = -1;
    positionKey_ = PositionKey{};
    playedCount_ = 0;
    checked_ = true;
    rebuildThreats();
    checkInDebug(-1);
}

void Board::setUp(const int8_t (&stones)[CellCount], int side) {
    oThreats_.clear();
    xThreats_.clear();
    moveCount_ = 0;
    for (int cell = 0; cell < CellCount; ++cell) {
        cells_[cell] = stones[cell] == NoStone ? 0 : stones[cell] ? StoneX : StoneO;
        moveCount_ += stones[cell] != NoStone;
    }
    positionKey_ = stonesKey(cells_);
    lastMove_ = -1;
    sideToMove_ = static_cast<uint8_t>(side != 0);
    playedCount_ = 0;
    checked_ = true;
    rebuildThreats();
    checkInDebug(-1);
}

std::unique_ptr<Board> copyBoard(const Board& source) {
    auto copy = std::make_unique<Board>();
    copyBoard(source, *copy);
    return copy;
}

void copyBoard(const Board& source, Board& target) {
    std::memcpy(target.cells_, source.cells_, sizeof target.cells_);
    target.xThreats_.copyFrom(source.xThreats_);
    target.oThreats_.copyFrom(source.oThreats_);
    target.xScore_ = source.xScore_;
    target.oScore_ = source.oScore_;
    target.savedScore_ = source.savedScore_;
    target.lastMove_ = source.lastMove_;
    target.moveCount_ = source.moveCount_;
    target.sideToMove_ = source.sideToMove_;
    target.positionKey_ = source.positionKey_;
    target.playedCount_ = 0;
    target.checked_ = source.checked_;
    std::memcpy(target.lines_.word, source.lines_.word, sizeof target.lines_.word);
    std::memcpy(target.rankKnown_, source.rankKnown_, sizeof target.rankKnown_);
    std::memcpy(target.ranks_, source.ranks_, sizeof target.ranks_);
}

namespace {

constexpr int CellWords = (CellCount + 63) / 64;
constexpr int LinePoints = 20;  // the most points a line holds on the board

// By line word and position along it (positions as in LinePlace::shift / 2),
// the cell there, -1 off the board: the inverse of linePlaces.
struct CellsOnLines {
    int16_t cell[LineWordCount][LinePoints];
    int8_t line[LineWordCount];
};

CellsOnLines buildCellsOnLines() {
    CellsOnLines t{};
    for (auto& word : t.cell) std::fill(std::begin(word), std::end(word), static_cast<int16_t>(-1));
    for (int c = 0; c < CellCount; ++c)
        for (int line = 0; line < LineCount; ++line) {
            const LinePlace& place = linePlaces.place[c][line];
            t.cell[place.word][place.shift / 2] = static_cast<int16_t>(c);
            t.line[place.word] = static_cast<int8_t>(line);
        }
    return t;
}

const CellsOnLines cellsOnLines = buildCellsOnLines();

// By threat class, what a Board whose lists follow from its stones holds
// for a cell of that class: the class by cell (-1 unlisted) and the listed
// bits; its weight in the total is slotWeights'.
struct ListedForms {
    int8_t held[ClassCount];
    uint8_t xBit[ClassCount];
    uint8_t oBit[ClassCount];
};

constexpr ListedForms buildListedForms() {
    ListedForms t{};
    for (int k = 0; k < ClassCount; ++k) {
        const bool listed = k <= WeakestListed;
        t.held[k] = static_cast<int8_t>(listed ? k : -1);
        t.xBit[k] = listed ? ListedX : 0;
        t.oBit[k] = listed ? ListedO : 0;
    }
    return t;
}

constexpr ListedForms listedForms = buildListedForms();

// The byte lanes of a word summed (each lane at most 255).
int sumOfLanes(uint64_t lanes) {
    constexpr uint64_t Low16 = 0x00FF00FF00FF00FFull;
    const uint64_t pairs = (lanes & Low16) + (lanes >> 8 & Low16);
    return static_cast<int>((pairs * 0x0001000100010001ull) >> 48);
}

}  // namespace

void Board::trustIfFollowsFromStones() {
    checked_ = rankAndCheck();
    // The full self-check also scans each cell's lines and keys the stones:
    // a Board trusted here that fails it stops the program.
    checkInDebug(-1);
}

// Cells no stone reaches keep the ranks of the empty board, which list
// nothing; the others are ranked and held to the self-check's fields that an
// image can get wrong (the line words, ranks and key are rebuilt from the
// cell bytes, and indexed lists hold distinct cells of listed classes in
// order, each cell's listed bit set).
bool Board::rankAndCheck() {
    std::memcpy(ranks_, emptyBoardRanks.data(), sizeof ranks_);
    knowAllRanks();
    // Eight cell bytes at a time: none has a low bit, a stone's has no listed
    // bit and one colour.
    constexpr uint64_t Ones = 0x0101010101010101ull;
    uint64_t wrong = 0, stoneLanes = 0;  // lanes count at most 50
    static_assert(std::endian::native == std::endian::little && CellCount % 8 == 0);
    static_assert(StoneX == 0x80 && StoneO == 0x40 && ListedO == 0x20 && ListedX == 0x10);
    for (int i = 0; i < CellCount; i += 8) {
        uint64_t bytes;
        std::memcpy(&bytes, cells_ + i, 8);
        const uint64_t stone = (bytes >> 6 | bytes >> 7) & Ones;
        wrong |= (bytes & 0x0F * Ones) | (bytes >> 6 & bytes >> 7 & Ones) | (stone * 0x30 & bytes);
        stoneLanes += stone;
    }
    const int stones = sumOfLanes(stoneLanes);
    // Line by line, the empty points within four of a stone on it get that
    // line's ranks; each point of a line word is ranked once.
    uint64_t near[CellWords] = {};
    constexpr uint64_t PointLows = 0x5555555555555555ull;
    constexpr uint64_t NinePoints = 0x15555;  // the low bit of nine points
    for (int w = 0; w < LineWordCount; ++w) {
        const uint64_t word = lines_.word[w];
        uint64_t stonePoints = (word ^ word >> 1) & PointLows;  // points of value 1 or 2
        if (!stonePoints) continue;
        uint64_t reached = 0;
        for (; stonePoints; stonePoints &= stonePoints - 1) reached |= NinePoints << (std::countr_zero(stonePoints) - 8);
        reached &= ~(word | word >> 1) & PointLows;  // empty points only, never off the board
        const int16_t* cellAt = cellsOnLines.cell[w];
        const int line = cellsOnLines.line[w];
        const uint32_t others = ~(LineRankMask << (3 * line));
        for (; reached; reached &= reached - 1) {
            const unsigned bit = static_cast<unsigned>(std::countr_zero(reached));  // 2 * (position + 4)
            const int c = cellAt[(bit >> 1) - 4];
            const uint32_t window = LineWords::windowAt(word, static_cast<int>(bit) - 8);
            ranks_[c] = (ranks_[c] & others) | windowRanks(window, line);
            near[static_cast<unsigned>(c) >> 6] |= uint64_t{1} << (c & 63);
        }
    }
    // What the cell bytes and both lists' classes by cell would be if they
    // followed from the stones, compared eight cells at a time.
    alignas(8) uint8_t bytesDue[CellCount];
    alignas(8) int8_t classesDue[2][CellCount];
    for (int i = 0; i < CellCount; i += 8) {
        uint64_t bytes;
        std::memcpy(&bytes, cells_ + i, 8);
        bytes &= 0xC0 * Ones;
        std::memcpy(bytesDue + i, &bytes, 8);
    }
    std::memset(classesDue, -1, sizeof classesDue);
    int32_t totals[2] = {0, 0};
    for (int w = 0; w < CellWords; ++w)
        for (uint64_t bits = near[w]; bits; bits &= bits - 1) {
            const int c = 64 * w + std::countr_zero(bits);
            int x, o;
            classesOfRanks(ranks_[c], x, o);
            classesDue[1][c] = listedForms.held[x];
            classesDue[0][c] = listedForms.held[o];
            bytesDue[c] = listedForms.xBit[x] | listedForms.oBit[o];
            totals[1] += slotWeights.weight[x];
            totals[0] += slotWeights.weight[o];
        }
    const int8_t* xHeld = xThreats_.classesByCell();
    const int8_t* oHeld = oThreats_.classesByCell();
    uint64_t differ = 0;
    for (int i = 0; i < CellCount; i += 8) {
        uint64_t a, b, x, xDue, o, oDue;
        std::memcpy(&a, cells_ + i, 8);
        std::memcpy(&b, bytesDue + i, 8);
        std::memcpy(&x, xHeld + i, 8);
        std::memcpy(&xDue, classesDue[1] + i, 8);
        std::memcpy(&o, oHeld + i, 8);
        std::memcpy(&oDue, classesDue[0] + i, 8);
        differ |= (a ^ b) | (x ^ xDue) | (o ^ oDue);
    }
    if (wrong != 0 || differ != 0 || stones != moveCount_) return false;
    if (!canTryMoves() || xThreats_.isPending() || oThreats_.isPending()) return false;
    if (lastMove_ < -1 || lastMove_ >= CellCount || (lastMove_ >= 0 && isEmptyByte(cells_[lastMove_]))) return false;
    return xScore_ == totals[1] && oScore_ == totals[0];
}

namespace {

// What a rebuild from the stones gives, for the self-check.
struct Rebuilt {
    LineWords lines;
    int8_t classes[2][CellCount];  // by side, NoThreat for none and under a stone
    int32_t totals[2] = {};
    int listed[2] = {};
};

std::string cellText(int cell) { return "cell " + std::to_string(cell) + " (" + std::to_string(cellX(cell)) + "," +
                                        std::to_string(cellY(cell)) + ")"; }

// The list of a side against the classes of the rebuild, as a set of cells
// and classes; then its order.
std::string checkList(const ThreatList& list, const char* name, const Rebuilt& rebuilt, int side,
                      const uint8_t* cells) {
    static int8_t seen[CellCount];
    std::fill(std::begin(seen), std::end(seen), static_cast<int8_t>(-1));
    std::string fault;
    list.forEachEntry([&](ThreatEntry e) {
        if (!fault.empty()) return;
        if (e.cell < 0 || e.cell >= CellCount || seen[e.cell] != -1)
            fault = std::string(name) + ": " + cellText(e.cell) + " held twice or off the board";
        else
            seen[e.cell] = static_cast<int8_t>(e.threatClass);
    });
    if (!fault.empty()) return fault;
    const uint8_t listedBit = side ? ListedX : ListedO;
    for (int c = 0; c < CellCount; ++c) {
        const int expected = rebuilt.classes[side][c];
        const int held = seen[c] < 0 ? NoThreat : seen[c];
        if (held != (expected <= WeakestListed ? expected : NoThreat))
            return std::string(name) + ": " + cellText(c) + " holds class " + std::to_string(held) +
                   ", a rebuild gives " + std::to_string(expected);
        if (((cells[c] & listedBit) != 0) != (expected <= WeakestListed))
            return std::string("listed bit of ") + name + ": " + cellText(c);
    }
    if (list.size() != rebuilt.listed[side]) return std::string(name) + ": size " + std::to_string(list.size());

    // The order: classes never increase along the arrays, and a deferred
    // layout is the one that the updates give applied one by one.
    static int32_t orderCells[CellCount + 1], orderClasses[CellCount + 1];
    list.entriesInOrder(orderCells, orderClasses);
    for (int i = 1; i < list.size(); ++i)
        if (orderClasses[i] > orderClasses[i - 1]) return std::string(name) + ": classes out of order at entry " + std::to_string(i);
    if (!list.isPending()) return "";
    static ThreatList replay;
    static int32_t laidCells[CellCount], laidClasses[CellCount];
    static uint8_t listed[CellCount];
    std::fill(std::begin(listed), std::end(listed), 0);
    for (int i = 0; i < list.laidOutCount(); ++i) {
        laidCells[i] = list.laidOutEntry(i).cell;
        laidClasses[i] = list.laidOutEntry(i).threatClass;
        listed[laidCells[i]] = 1;
    }
    replay.assign(laidCells, laidClasses, list.laidOutCount());
    int32_t total = 0;
    for (int i = 0; i < list.pendingUpdates(); ++i) {
        const CellClass update = list.pendingUpdate(i);
        replay.update(update.cell, update.threatClass, listed, 1, total);
    }
    int i = list.size() - 1;
    for (const ThreatEntry e : replay) {
        if (e.cell != orderCells[i] || e.threatClass != orderClasses[i])
            return std::string(name) + ": the deferred layout differs from a replay at entry " + std::to_string(i);
        --i;
    }
    return "";
}

}  // namespace

std::string Board::selfCheck(int around) const {
    static Rebuilt rebuilt;
    int stones = 0;
    for (int c = 0; c < CellCount; ++c) {
        const uint8_t byte = cells_[c];
        if (!isEmptyByte(byte)) {
            if (byte != StoneX && byte != StoneO) return "cell byte of the stone on " + cellText(c);
            ++stones;
        } else if (byte & 0x0F) {
            return "cell byte of the empty " + cellText(c);
        }
    }
    if (stones != moveCount_) return "moveCount " + std::to_string(moveCount_) + ", stones " + std::to_string(stones);
    if (lastMove_ < -1 || lastMove_ >= CellCount || (lastMove_ >= 0 && isEmptyByte(cells_[lastMove_])))
        return "lastMove " + std::to_string(lastMove_);
    if (!(positionKey_ == stonesKey(cells_))) return "positionKey";
    rebuilt.lines.rebuild(cells_);
    for (int w = 0; w < LineWordCount; ++w)
        if (rebuilt.lines.word[w] != lines_.word[w]) return "line word " + std::to_string(w);
    rebuilt.totals[0] = rebuilt.totals[1] = rebuilt.listed[0] = rebuilt.listed[1] = 0;
    for (int c = 0; c < CellCount; ++c) {
        rebuilt.classes[0][c] = rebuilt.classes[1][c] = NoThreat;
        if (!isEmptyByte(cells_[c])) continue;
        const uint32_t r = cellRanks(rebuilt.lines, c);
        if (isRankKnown(c) && ranks_[c] != r) return "cell ranks of " + cellText(c);
        int x, o;
        classesOfRanks(r, x, o);
        if (around < 0 || (around < CellCount && std::abs(cellX(c) - cellX(around)) <= 4 &&
                           std::abs(cellY(c) - cellY(around)) <= 4)) {
            int scannedX, scannedO;
            classifyByScanning(cells_, c, scannedX, scannedO);
            if (x != scannedX || o != scannedO) return "the window tables' classes of " + cellText(c);
        }
        rebuilt.classes[1][c] = static_cast<int8_t>(x);
        rebuilt.classes[0][c] = static_cast<int8_t>(o);
        for (int side = 0; side < 2; ++side) {
            const int k = rebuilt.classes[side][c];
            if (k > WeakestListed) continue;
            rebuilt.totals[side] += threatWeight[k];
            ++rebuilt.listed[side];
        }
    }
    if (std::string fault = checkList(xThreats_, "xThreats", rebuilt, 1, cells_); !fault.empty()) return fault;
    if (std::string fault = checkList(oThreats_, "oThreats", rebuilt, 0, cells_); !fault.empty()) return fault;
    if (xScore_ != rebuilt.totals[1])
        return "xScore " + std::to_string(xScore_) + ", a rebuild gives " + std::to_string(rebuilt.totals[1]);
    if (oScore_ != rebuilt.totals[0])
        return "oScore " + std::to_string(oScore_) + ", a rebuild gives " + std::to_string(rebuilt.totals[0]);
    return "";
}

void Board::checkInDebug(int around) const {
    if constexpr (SelfCheckOn) {
        if (!checked_) return;
        const std::string fault = selfCheck(around);
        if (fault.empty()) return;
        std::fprintf(stderr, "Board self-check failed: %s\n", fault.c_str());
        std::abort();
    }
}
