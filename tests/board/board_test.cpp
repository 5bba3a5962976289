#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "board/board.h"
#include "board/line_patterns.h"
#include "board/shared_state.h"

namespace {

using Entries = std::multiset<std::pair<int, int>>;

Entries entriesOf(const ThreatList& list) {
    Entries e;
    for (int i = 0; i < list.count; ++i) e.insert({list.cells[i], list.classes[i]});
    return e;
}
std::vector<int> cellsOf(const ThreatList& list) { return {list.cells, list.cells + list.count}; }
std::vector<int> classesOf(const ThreatList& list) { return {list.classes, list.classes + list.count}; }

// Checks every invariant of a Board at rest against classes computed from the stones alone.
void expectConsistent(const Board& board) {
    int stones = 0;
    Entries expectedX, expectedO;
    for (int c = 0; c < CellCount; ++c) {
        const uint8_t byte = board.cells[c];
        ASSERT_EQ(byte & 0x0F, 0) << c;
        if (!isEmptyByte(byte)) {
            ++stones;
            ASSERT_EQ(byte & (ListedX | ListedO), 0) << c;
            continue;
        }
        int kx, ko;
        classifyCell(board, c, kx, ko);
        ASSERT_EQ((byte & ListedX) != 0, kx <= WeakestListed) << c;
        ASSERT_EQ((byte & ListedO) != 0, ko <= WeakestListed) << c;
        if (kx <= WeakestListed) expectedX.insert({c, kx});
        if (ko <= WeakestListed) expectedO.insert({c, ko});
    }
    ASSERT_EQ(stones, board.moveCount_);
    ASSERT_EQ(entriesOf(board.xThreats), expectedX);
    ASSERT_EQ(entriesOf(board.oThreats), expectedO);
    for (const ThreatList* list : {&board.xThreats, &board.oThreats}) {
        ASSERT_TRUE(std::is_sorted(list->classes, list->classes + list->count, std::greater<int>()));
        ASSERT_LE(list->count, list->capacity);
    }
    int32_t x = 0, o = 0;
    for (const auto& [cell, k] : expectedX) x += threatWeight[k];
    for (const auto& [cell, k] : expectedO) o += threatWeight[k];
    ASSERT_EQ(board.xScore_, x);
    ASSERT_EQ(board.oScore_, o);
}

TEST(Board, NewBoardAndCentreMove) {
    Board board;
    EXPECT_EQ(board.sideToMove_, 1);
    EXPECT_EQ(board.moveCount_, 0);
    EXPECT_EQ(board.lastMove_, -1);
    EXPECT_EQ(board.positionKey_, PositionKey{});
    EXPECT_EQ(board.xThreats.capacity, 0);
    const int32_t nodes = nodeCounter;
    board.makeMove(CentreCell);
    EXPECT_EQ(nodeCounter, nodes + 1);
    EXPECT_EQ(board.xThreats.count, 0);
    EXPECT_EQ(board.oThreats.count, 0);
    EXPECT_EQ(board.moveCount_, 1);
    EXPECT_EQ(board.lastMove_, CentreCell);
    EXPECT_EQ(board.sideToMove_, 0);
    EXPECT_EQ(board.cells[CentreCell], StoneX);
    EXPECT_EQ(board.positionKey_, key(0, CentreCell));
    Board fresh;
    EXPECT_EQ(fresh.positionKey_ ^ key(1 - fresh.sideToMove_, CentreCell), board.positionKey_);  // child key
}

TEST(Board, KeysIndependentOfMoveOrder) {
    Board a, b;
    for (int c : {189, 190, 210, 5}) a.makeMove(c);
    for (int c : {210, 5, 189, 190}) b.makeMove(c);
    EXPECT_EQ(a.positionKey_, b.positionKey_);
    Board c;
    for (int m : {190, 189, 210, 5}) c.makeMove(m);  // same cells, colours swapped
    EXPECT_NE(a.positionKey_, c.positionKey_);
}

TEST(Board, FiveMoveExample) {
    Board board;
    for (auto [x, y] : {std::pair{9, 9}, {0, 5}, {8, 9}, {0, 6}, {7, 9}}) board.makeMove(cellAt(x, y));
    EXPECT_EQ(board.xScore_, 1542);
    EXPECT_EQ(board.oScore_, 130);
    EXPECT_EQ(board.savedScore_, 330);
    const ThreatList& xs = board.xThreats;
    ASSERT_GE(xs.count, 2);
    EXPECT_EQ(xs.cells[xs.count - 2], cellAt(6, 9));
    EXPECT_EQ(xs.cells[xs.count - 1], cellAt(10, 9));
    EXPECT_EQ(xs.classes[xs.count - 2], 1);
    EXPECT_EQ(xs.classes[xs.count - 1], 1);
    expectConsistent(board);

    // Re-evaluating an unchanged entry moves it within its class, totals stay.
    EXPECT_FALSE(board.evaluateCell(cellAt(6, 9)));
    EXPECT_EQ(xs.cells[xs.count - 2], cellAt(10, 9));
    EXPECT_EQ(xs.cells[xs.count - 1], cellAt(6, 9));
    EXPECT_EQ(board.xScore_, 1542);
    EXPECT_EQ(board.oScore_, 130);
}

TEST(Board, ReachTables) {
    const int cases[][4] = {
        // direction, x, y, expected reach count
        {0, 1, 5, 1}, {0, 0, 5, 0}, {1, 19, 0, 0}, {1, 15, 0, 4}, {2, 3, 2, 2}, {3, 3, 17, 2},
        {4, 2, 9, 2}, {5, 18, 0, 1}, {6, 19, 10, 0}, {6, 0, 10, 4}, {6, 17, 10, 2}, {7, 3, 18, 1}, {7, 9, 9, 4},
    };
    for (const auto& c : cases) {
        const int cell = cellAt(c[1], c[2]);
        EXPECT_EQ(reachCount(c[0], cell), c[3]) << c[0] << " " << c[1] << "," << c[2];
        EXPECT_EQ(reach(c[0], cell), cell + c[3] * ReachSteps[c[0]]);
    }
}

// A cell that is re-evaluated loses a planted, impossible entry.
void plantFalseFive(Board& board, int cell) {
    const int old = board.xThreats.removeCell(cell);
    if (old != -1) board.xScore_ -= threatWeight[old];
    board.xThreats.insert(cell, 0);
    board.cells[cell] |= ListedX;
    board.xScore_ += threatWeight[0];
}
bool stillPlanted(const Board& board, int cell) {
    for (int i = 0; i < board.xThreats.count; ++i)
        if (board.xThreats.cells[i] == cell) return board.xThreats.classes[i] == 0;
    return false;
}

TEST(Board, UpdateAroundStopsAtSecondColour) {
    const int c = cellAt(8, 9);
    struct Case {
        uint8_t first, second;
        bool reachesThird, reachesFourth;
    };
    const Case cases[] = {
        {StoneX, StoneO, false, false},
        {StoneX, StoneX, true, true},
        {StoneO, StoneO, true, true},
        {StoneO, StoneX, false, false},
    };
    for (const auto& k : cases) {
        Board board;
        board.cells[c + 1] = k.first;
        board.cells[c + 2] = k.second;
        board.moveCount_ = 2;
        board.rebuildThreats();
        plantFalseFive(board, c + 3);
        plantFalseFive(board, c + 4);
        plantFalseFive(board, c + 5);
        board.makeMove(c);
        EXPECT_EQ(!stillPlanted(board, c + 3), k.reachesThird);
        EXPECT_EQ(!stillPlanted(board, c + 4), k.reachesFourth);
        EXPECT_TRUE(stillPlanted(board, c + 5));  // beyond four points
    }
    // At the edge the ray ends: (0, 9) is reached, nothing wraps into row 8.
    Board board;
    plantFalseFive(board, cellAt(0, 9));
    plantFalseFive(board, cellAt(19, 8));
    board.makeMove(cellAt(1, 9));
    EXPECT_FALSE(stillPlanted(board, cellAt(0, 9)));
    EXPECT_TRUE(stillPlanted(board, cellAt(19, 8)));
}

TEST(Board, UpdateAroundReportsFivePoints) {
    Board board;
    for (int x = 5; x < 8; ++x) board.cells[cellAt(x, 3)] = StoneX;
    board.moveCount_ = 3;
    EXPECT_FALSE(board.rebuildThreats());
    board.cells[cellAt(8, 3)] = StoneX;
    board.moveCount_ = 4;
    board.clearThreatLists();
    EXPECT_TRUE(board.rebuildThreats());
    expectConsistent(board);
    EXPECT_TRUE(board.updateAround(cellAt(8, 3)));
    EXPECT_FALSE(board.updateAround(cellAt(15, 15)));
}

TEST(Board, StoneOnListedCellLeavesBothLists) {
    Board board;
    // x threatens along row 5, o along column 8; both lists hold (8, 5).
    for (int m : {cellAt(5, 5), cellAt(8, 6), cellAt(6, 5), cellAt(8, 7), cellAt(7, 5), cellAt(8, 8)}) board.makeMove(m);
    const int target = cellAt(8, 5);
    ASSERT_TRUE(board.cells[target] & ListedX);
    ASSERT_TRUE(board.cells[target] & ListedO);
    const int32_t x = board.xScore_, o = board.oScore_;
    board.makeMove(target);
    EXPECT_LT(board.oScore_, o);
    EXPECT_NE(board.xScore_, x);
    EXPECT_EQ(board.cells[target], StoneX);
    for (const ThreatList* list : {&board.xThreats, &board.oThreats})
        EXPECT_EQ(std::count(list->cells, list->cells + list->count, target), 0);
    expectConsistent(board);
}

// TAKEBACK's take-back puts every field back; the debug step lifts the stone
// but keeps the saved total and forgets the last move, so that a second step
// does nothing. Both leave the lists with the entries from before the move.
TEST(Board, TakeBackAndLiftRestoreThePosition) {
    for (const bool lift : {false, true}) {
        Board board;
        for (int m : {189, 190, 209, 168, 229, 249}) board.makeMove(m);
        auto before = copyBoard(board);
        board.makeMove(169);
        const int32_t savedAfter = board.savedScore();
        EXPECT_TRUE(lift ? board.liftLastStone() : board.takeBack());
        EXPECT_TRUE(std::equal(board.cells, board.cells + CellCount, before->cells));
        EXPECT_EQ(entriesOf(board.xThreats), entriesOf(before->xThreats));
        EXPECT_EQ(entriesOf(board.oThreats), entriesOf(before->oThreats));
        EXPECT_EQ(board.xScore(), before->xScore());
        EXPECT_EQ(board.oScore(), before->oScore());
        EXPECT_EQ(board.moveCount(), before->moveCount());
        EXPECT_EQ(board.sideToMove(), before->sideToMove());
        EXPECT_EQ(board.positionKey(), before->positionKey());
        EXPECT_EQ(board.lastMove(), lift ? -1 : 249);
        EXPECT_EQ(board.savedScore(), lift ? savedAfter : before->savedScore());
        expectConsistent(board);
        // The debug step has nothing left to lift; TAKEBACK goes on back.
        EXPECT_EQ(lift ? board.liftLastStone() : board.takeBack(), !lift);
        EXPECT_EQ(board.moveCount(), before->moveCount() - (lift ? 0 : 1));
    }
    Board copied;
    copied.makeMove(189);
    auto copy = copyBoard(copied);
    EXPECT_FALSE(copy->takeBack());  // a copy holds no way back
    EXPECT_EQ(copy->moveCount(), 1);
}

TEST(Board, CopyCapacities) {
    Board board;
    for (int i = 0; i < 7; ++i) board.xThreats.insert(i, 13);
    board.xScore_ = 35;
    board.savedScore_ = 4;
    board.positionKey_ = key(1, 77);
    board.makeMove(300);
    auto copy = copyBoard(board);
    EXPECT_EQ(copy->xThreats.count, 7);
    EXPECT_EQ(copy->xThreats.capacity, 12);
    EXPECT_EQ(copy->oThreats.capacity, 0);
    EXPECT_EQ(copy->oThreats.cells, nullptr);
    EXPECT_NE(copy->xThreats.cells, board.xThreats.cells);
    EXPECT_EQ(cellsOf(copy->xThreats), cellsOf(board.xThreats));
    EXPECT_EQ(copy->positionKey_, board.positionKey_);
    EXPECT_EQ(copy->savedScore_, board.savedScore_);
    EXPECT_EQ(copy->lastMove_, 300);
    EXPECT_EQ(copy->sideToMove_, 0);
}

TEST(Board, ResetPosition) {
    Board board;
    for (int m : {189, 190, 209, 168, 229}) board.makeMove(m);
    const PositionKey k = board.positionKey_;
    board.resetPosition();
    EXPECT_EQ(board.moveCount_, 0);
    EXPECT_EQ(board.lastMove_, -1);
    EXPECT_EQ(board.sideToMove_, 0);
    EXPECT_EQ(board.positionKey_, k);
    EXPECT_EQ(board.xScore_ + board.oScore_ + board.savedScore_, 0);
    EXPECT_TRUE(std::all_of(board.cells, board.cells + CellCount, [](uint8_t b) { return b == 0; }));
    expectConsistent(board);
}

struct TempFile {
    std::FILE* file = std::tmpfile();
    ~TempFile() {
        if (file) std::fclose(file);
    }
};

TEST(BoardImage, RoundTrip) {
    Board board;
    for (int m : {189, 190, 209, 168, 229, 5, 249}) board.makeMove(m);
    TempFile tmp;
    ASSERT_NE(tmp.file, nullptr);
    ASSERT_TRUE(writeBoardImage(board, tmp.file));
    const long size = std::ftell(tmp.file);
    EXPECT_EQ(size, 4 + 4 + 1 + 4 + 4 + 4 + 8 * board.xThreats.count + 4 + 8 * board.oThreats.count + 400);
    std::rewind(tmp.file);
    Board read;
    read.oThreats.insert(3, 13);  // old arrays are replaced or reused
    ASSERT_TRUE(readBoardImage(read, tmp.file));
    EXPECT_EQ(read.moveCount_, board.moveCount_);
    EXPECT_EQ(read.lastMove_, board.lastMove_);
    EXPECT_EQ(read.sideToMove_, board.sideToMove_);
    EXPECT_EQ(read.xScore_, board.xScore_);
    EXPECT_EQ(read.oScore_, board.oScore_);
    EXPECT_EQ(cellsOf(read.xThreats), cellsOf(board.xThreats));
    EXPECT_EQ(classesOf(read.xThreats), classesOf(board.xThreats));
    EXPECT_EQ(cellsOf(read.oThreats), cellsOf(board.oThreats));
    EXPECT_EQ(classesOf(read.oThreats), classesOf(board.oThreats));
    EXPECT_EQ(read.xThreats.capacity, board.xThreats.count);
    EXPECT_TRUE(std::equal(read.cells, read.cells + CellCount, board.cells));
    EXPECT_EQ(read.positionKey_, PositionKey{});
    Board again;
    EXPECT_FALSE(readBoardImage(again, tmp.file));  // end of file

    // Little-endian, field by field.
    std::rewind(tmp.file);
    unsigned char head[9];
    ASSERT_EQ(std::fread(head, 1, 9, tmp.file), 9u);
    EXPECT_EQ(head[0], 7);
    EXPECT_EQ(head[1] | head[2] | head[3], 0);
    EXPECT_EQ(head[4] | head[5] << 8, 249);
    EXPECT_EQ(head[8], 0);
}

TEST(BoardImage, TruncatedOrCorruptImageLeavesBoardAlone) {
    Board board;
    for (int m : {189, 190, 209, 168, 229}) board.makeMove(m);
    TempFile whole;
    ASSERT_TRUE(writeBoardImage(board, whole.file));
    const long size = std::ftell(whole.file);
    std::vector<unsigned char> bytes(size);
    std::rewind(whole.file);
    ASSERT_EQ(std::fread(bytes.data(), 1, size, whole.file), static_cast<size_t>(size));

    auto readFrom = [](const std::vector<unsigned char>& image, size_t length, Board& target) {
        TempFile tmp;
        std::fwrite(image.data(), 1, length, tmp.file);
        std::rewind(tmp.file);
        return readBoardImage(target, tmp.file);
    };
    for (size_t cut : {size_t{0}, size_t{3}, size_t{9}, size_t{20}, bytes.size() - 1}) {
        Board target;
        target.makeMove(7);
        EXPECT_FALSE(readFrom(bytes, cut, target)) << cut;
        EXPECT_EQ(target.moveCount_, 1);
        EXPECT_EQ(target.cells[7], StoneX);
    }
    auto corrupt = bytes;
    corrupt[17] = 0xFF;  // xThreats count becomes huge
    Board target;
    EXPECT_FALSE(readFrom(corrupt, corrupt.size(), target));
    EXPECT_EQ(target.moveCount_, 0);
    corrupt = bytes;
    corrupt[8] = 2;  // no such side
    EXPECT_FALSE(readFrom(corrupt, corrupt.size(), target));
}

// A reference segment walk by coordinates, independent of the reach tables.
int referenceCode(const Board& board, int cell, int line, int side, bool stoneForm) {
    const int fxs[LineCount] = {1, 0, 1, 1};  // forward steps +1, +20, +21, -19 as (x, y) moves
    const int fys[LineCount] = {0, 1, 1, -1};
    const int fx = fxs[line], fy = fys[line];
    auto owns = [&](int x, int y) {
        const uint8_t b = board.cells[cellAt(x, y)];
        return side ? isXByte(b) : isOByte(b);
    };
    auto blocks = [&](int x, int y) {
        const uint8_t b = board.cells[cellAt(x, y)];
        return side ? isOByte(b) : isXByte(b);
    };
    int back = 0, forward = 0;
    while (back < 4 && onBoard(cellX(cell) - (back + 1) * fx, cellY(cell) - (back + 1) * fy) &&
           !blocks(cellX(cell) - (back + 1) * fx, cellY(cell) - (back + 1) * fy))
        ++back;
    while (forward < 4 && onBoard(cellX(cell) + (forward + 1) * fx, cellY(cell) + (forward + 1) * fy) &&
           !blocks(cellX(cell) + (forward + 1) * fx, cellY(cell) + (forward + 1) * fy))
        ++forward;
    int code = 1;
    for (int i = -back; i <= forward; ++i) {
        const int x = cellX(cell) + i * fx, y = cellY(cell) + i * fy;
        code = 2 * code + (i == 0 ? (stoneForm ? 1 : 0) : (owns(x, y) ? 1 : 0));
    }
    return code;
}

TEST(Board, RandomGamesKeepInvariants) {
    std::mt19937 rng(20240611);
    for (int game = 0; game < 12; ++game) {
        Board board;
        std::vector<int> history;
        for (int ply = 0; ply < 120; ++ply) {
            // Stones cluster so that threats of every class turn up.
            int cell;
            do {
                const int x = 4 + static_cast<int>(rng() % 12), y = 4 + static_cast<int>(rng() % 12);
                cell = game % 3 == 0 ? static_cast<int>(rng() % CellCount) : cellAt(x, y);
            } while (!isEmptyByte(board.cells[cell]));
            board.makeMove(cell);
            history.push_back(cell);
            ASSERT_NO_FATAL_FAILURE(expectConsistent(board)) << "game " << game << " ply " << ply;

            auto rebuilt = copyBoard(board);
            rebuilt->clearThreatLists();
            rebuilt->rebuildThreats();
            EXPECT_EQ(rebuilt->xScore_, board.xScore_);
            EXPECT_EQ(rebuilt->oScore_, board.oScore_);
            EXPECT_EQ(entriesOf(rebuilt->xThreats), entriesOf(board.xThreats));
            EXPECT_EQ(entriesOf(rebuilt->oThreats), entriesOf(board.oThreats));

            if (ply % 10 == 0) {
                for (int c = 0; c < CellCount; ++c) {
                    if (!isEmptyByte(board.cells[c])) continue;
                    for (int line = 0; line < LineCount; ++line) {
                        int x, o;
                        lineCodes(board, c, line, x, o);
                        ASSERT_EQ(x, referenceCode(board, c, line, 1, true)) << c << " line " << line;
                        ASSERT_EQ(o, referenceCode(board, c, line, 0, true)) << c << " line " << line;
                        ASSERT_EQ(emptyFormCode(board, c, line, 1), referenceCode(board, c, line, 1, false));
                        ASSERT_EQ(emptyFormCode(board, c, line, 0), referenceCode(board, c, line, 0, false));
                    }
                }
            }
            if (ply % 7 == 6) {
                board.takeBack();
                ASSERT_NO_FATAL_FAILURE(expectConsistent(board)) << "takeBack game " << game << " ply " << ply;
                board.makeMove(history.back());
            }
        }
    }
}

}  // namespace
