#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "board/board.h"
#include "board/board_image.h"
#include "board/line_patterns.h"
#include "board_fixture.h"

namespace {

// Every invariant of a Board at rest, against a rebuild from the stones alone.
void expectConsistent(const Board& board) { ASSERT_EQ(board.selfCheck(), ""); }

// The self-check names the first field that differs from a rebuild; images
// are the way to Boards that no move leads to.
TEST(Board, SelfCheckNamesTheFieldThatDiffers) {
    Board game;
    for (int m : {189, 190, 209, 168, 229, 249}) game.makeMove(m);
    const ImageParts sound = imageOf(game);
    ASSERT_FALSE(sound.x.empty());
    struct Case {
        const char* field;
        void (*spoil)(ImageParts&);
    };
    const Case cases[] = {
        {"xScore", [](ImageParts& p) { p.xScore += 1; }},
        {"moveCount", [](ImageParts& p) { p.moveCount += 1; }},
        {"xThreats", [](ImageParts& p) { p.x.back().second = p.x.back().second == 0 ? 1 : 0; }},
        {"listed bit of oThreats", [](ImageParts& p) { p.cells[p.x.back().first] ^= ListedO; }},
        {"lastMove", [](ImageParts& p) { p.lastMove = p.x.back().first; }},
    };
    EXPECT_EQ(boardFromImage(sound)->selfCheck(), "");
    for (const Case& c : cases) {
        ImageParts parts = sound;
        c.spoil(parts);
        EXPECT_EQ(boardFromImage(parts)->selfCheck().rfind(c.field, 0), 0u) << c.field;
    }
}

TEST(Board, NewBoardAndCentreMove) {
    Board board;
    EXPECT_EQ(board.sideToMove(), 1);
    EXPECT_EQ(board.moveCount(), 0);
    EXPECT_EQ(board.lastMove(), -1);
    EXPECT_EQ(board.positionKey(), PositionKey{});
    board.makeMove(CentreCell);
    EXPECT_TRUE(board.threats(1).empty());
    EXPECT_TRUE(board.threats(0).empty());
    EXPECT_EQ(board.moveCount(), 1);
    EXPECT_EQ(board.lastMove(), CentreCell);
    EXPECT_EQ(board.sideToMove(), 0);
    EXPECT_EQ(board.cellByte(CentreCell), StoneX);
    EXPECT_EQ(board.positionKey(), key(0, CentreCell));
    Board fresh;
    EXPECT_EQ(fresh.positionKey() ^ key(1 - fresh.sideToMove(), CentreCell), board.positionKey());  // child key
}

TEST(Board, KeysIndependentOfMoveOrder) {
    Board a, b;
    for (int c : {189, 190, 210, 5}) a.makeMove(c);
    for (int c : {210, 5, 189, 190}) b.makeMove(c);
    EXPECT_EQ(a.positionKey(), b.positionKey());
    Board c;
    for (int m : {190, 189, 210, 5}) c.makeMove(m);  // same cells, colours swapped
    EXPECT_NE(a.positionKey(), c.positionKey());
}

TEST(Board, FiveMoveExample) {
    Board board;
    for (auto [x, y] : {std::pair{9, 9}, {0, 5}, {8, 9}, {0, 6}, {7, 9}}) board.makeMove(cellAt(x, y));
    EXPECT_EQ(board.xScore(), 1542);
    EXPECT_EQ(board.oScore(), 130);
    EXPECT_EQ(board.savedScore(), 330);
    const auto xs = readingOrder(board.threats(1));
    ASSERT_GE(xs.size(), 2u);
    EXPECT_EQ(xs[0], std::pair(cellAt(10, 9), 1));
    EXPECT_EQ(xs[1], std::pair(cellAt(6, 9), 1));
    expectConsistent(board);

    // Re-evaluating an unchanged entry moves it within its class, totals stay.
    ThreatList list;
    list.copyFrom(board.threats(1));
    uint8_t bytes[CellCount];
    std::copy(board.cellBytes(), board.cellBytes() + CellCount, bytes);
    int32_t total = board.xScore();
    list.update(cellAt(6, 9), 1, bytes, ListedX, total);
    EXPECT_EQ(readingOrder(list)[0], std::pair(cellAt(6, 9), 1));
    EXPECT_EQ(readingOrder(list)[1], std::pair(cellAt(10, 9), 1));
    EXPECT_EQ(total, 1542);
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

// Stones placed the way a position file places them.
void setUpStones(Board& board, const std::vector<std::pair<int, int>>& stones, int side = 1) {
    int8_t sides[CellCount];
    std::fill(std::begin(sides), std::end(sides), static_cast<int8_t>(NoStone));
    for (auto [cell, stone] : stones) sides[cell] = static_cast<int8_t>(stone);
    board.setUp(sides, side);
}

// A cell that is re-evaluated loses a planted, impossible entry: the image
// of the position with class-0 entries of side 1 on the cells.
std::unique_ptr<Board> plantFalseFives(const Board& board, const std::vector<int>& cells) {
    ImageParts parts = imageOf(board);
    for (int cell : cells) {
        for (auto it = parts.x.begin(); it != parts.x.end(); ++it)
            if (it->first == cell) {
                parts.xScore -= threatWeight[it->second];
                parts.x.erase(it);
                break;
            }
        parts.x.push_back({cell, 0});
        parts.cells[cell] |= ListedX;
        parts.xScore += threatWeight[0];
    }
    return boardFromImage(parts);
}
bool stillPlanted(const Board& board, int cell) {
    for (const ThreatEntry e : board.threats(1))
        if (e.cell == cell) return e.threatClass == 0;
    return false;
}

TEST(Board, UpdateAroundStopsAtSecondColour) {
    const int c = cellAt(8, 9);
    struct Case {
        int first, second;  // the sides of the stones at c + 1 and c + 2
        bool reachesThird, reachesFourth;
    };
    const Case cases[] = {{1, 0, false, false}, {1, 1, true, true}, {0, 0, true, true}, {0, 1, false, false}};
    for (const auto& k : cases) {
        Board stones;
        setUpStones(stones, {{c + 1, k.first}, {c + 2, k.second}});
        auto board = plantFalseFives(stones, {c + 3, c + 4, c + 5});
        board->makeMove(c);
        EXPECT_EQ(!stillPlanted(*board, c + 3), k.reachesThird);
        EXPECT_EQ(!stillPlanted(*board, c + 4), k.reachesFourth);
        EXPECT_TRUE(stillPlanted(*board, c + 5));  // beyond four points
    }
    // At the edge the ray ends: (0, 9) is reached, nothing wraps into row 8.
    auto board = plantFalseFives(Board(), {cellAt(0, 9), cellAt(19, 8)});
    board->makeMove(cellAt(1, 9));
    EXPECT_FALSE(stillPlanted(*board, cellAt(0, 9)));
    EXPECT_TRUE(stillPlanted(*board, cellAt(19, 8)));
}

TEST(Board, FivePointsAreListedAsClassZero) {
    Board board;
    setUpStones(board, {{cellAt(5, 3), 1}, {cellAt(6, 3), 1}, {cellAt(7, 3), 1}});
    EXPECT_GT(board.threats(1).strongestClass(), 0);
    setUpStones(board, {{cellAt(5, 3), 1}, {cellAt(6, 3), 1}, {cellAt(7, 3), 1}, {cellAt(8, 3), 1}});
    expectConsistent(board);
    EXPECT_EQ(board.moveCount(), 4);
    EXPECT_TRUE(board.threats(1).twoFives());
    EXPECT_EQ(board.threats(0).strongestClass(), NoThreat);
}

TEST(Board, StoneOnListedCellLeavesBothLists) {
    Board board;
    // x threatens along row 5, o along column 8; both lists hold (8, 5).
    for (int m : {cellAt(5, 5), cellAt(8, 6), cellAt(6, 5), cellAt(8, 7), cellAt(7, 5), cellAt(8, 8)}) board.makeMove(m);
    const int target = cellAt(8, 5);
    ASSERT_TRUE(board.isListed(target, 1));
    ASSERT_TRUE(board.isListed(target, 0));
    const int32_t x = board.xScore(), o = board.oScore();
    board.makeMove(target);
    EXPECT_LT(board.oScore(), o);
    EXPECT_NE(board.xScore(), x);
    EXPECT_EQ(board.cellByte(target), StoneX);
    for (int side : {1, 0})
        for (const ThreatEntry e : board.threats(side)) EXPECT_NE(e.cell, target);
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
        for (int c = 0; c < CellCount; ++c) ASSERT_EQ(board.cellByte(c), before->cellByte(c)) << c;
        EXPECT_EQ(entriesOf(board.threats(1)), entriesOf(before->threats(1)));
        EXPECT_EQ(entriesOf(board.threats(0)), entriesOf(before->threats(0)));
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
    // TAKEBACK k times after n moves leaves the position of the first n - k
    // moves played afresh, lists in their order too, also after a pass and
    // on a position set up from stones.
    for (const int k : {1, 2, 5, 17}) {
        for (const bool fromStones : {false, true}) {
            Board played, afresh;
            if (fromStones) {
                int8_t stones[CellCount];
                std::fill(std::begin(stones), std::end(stones), static_cast<int8_t>(NoStone));
                stones[cellAt(9, 9)] = 1;
                stones[cellAt(10, 10)] = 0;
                played.setUp(stones, 1);
                afresh.setUp(stones, 1);
            }
            std::mt19937 rng(static_cast<unsigned>(k));
            std::vector<int> moves;
            while (moves.size() < 30) moves.push_back(randomMove(played, rng)), played.makeMove(moves.back());
            for (int i = 0; i < k; ++i) ASSERT_TRUE(played.takeBack()) << k;
            for (size_t i = 0; i + k < moves.size(); ++i) afresh.makeMove(moves[i]);
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(played, afresh, "taken back"));
        }
    }
    Board passed, single;
    passed.pass();
    single.pass();
    for (int m : {189, 190}) passed.makeMove(m);
    single.makeMove(189);
    ASSERT_TRUE(passed.takeBack());
    ASSERT_NO_FATAL_FAILURE(expectSameBoard(passed, single, "after a pass"));

    Board copied;
    copied.makeMove(189);
    auto copy = copyBoard(copied);
    EXPECT_FALSE(copy->takeBack());  // a copy holds no way back
    EXPECT_EQ(copy->moveCount(), 1);
}

TEST(Board, CopyIsWhole) {
    Board board;
    for (int m : {189, 190, 209, 168, 229, 300}) board.makeMove(m);
    auto copy = copyBoard(board);
    ASSERT_NO_FATAL_FAILURE(expectSameBoard(*copy, board, "copy"));
    copy->makeMove(249);  // the copy plays on its own
    EXPECT_EQ(board.moveCount(), 6);
    EXPECT_EQ(board.lastMove(), 300);
    Board empty;
    copyBoard(empty, *copy);
    ASSERT_NO_FATAL_FAILURE(expectSameBoard(*copy, empty, "empty copy"));
}

TEST(Board, ClearLeavesAnEmptyBoard) {
    Board board;
    for (int m : {189, 190, 209, 168, 229}) board.makeMove(m);
    board.clear();
    EXPECT_EQ(board.moveCount(), 0);
    EXPECT_EQ(board.lastMove(), -1);
    EXPECT_EQ(board.sideToMove(), 0);
    EXPECT_EQ(board.positionKey(), PositionKey{});
    EXPECT_EQ(board.xScore() + board.oScore() + board.savedScore(), 0);
    for (int c = 0; c < CellCount; ++c) ASSERT_EQ(board.cellByte(c), 0) << c;
    EXPECT_FALSE(board.takeBack());
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
    EXPECT_EQ(size, 4 + 4 + 1 + 4 + 4 + 4 + 8 * board.threats(1).size() + 4 + 8 * board.threats(0).size() + 400);
    std::rewind(tmp.file);
    Board read;
    for (int m : {100, 101, 102}) read.makeMove(m);  // whatever it held goes
    ASSERT_TRUE(readBoardImage(read, tmp.file));
    // The key is not in the image; a Board read from one keys its stones.
    ASSERT_NO_FATAL_FAILURE(expectSameBoard(read, board, "read", false));
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
        EXPECT_EQ(target.moveCount(), 1);
        EXPECT_EQ(target.cellByte(7), StoneX);
    }
    auto corrupt = bytes;
    corrupt[17] = 0xFF;  // xThreats count becomes huge
    Board target;
    EXPECT_FALSE(readFrom(corrupt, corrupt.size(), target));
    EXPECT_EQ(target.moveCount(), 0);
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
        return board.stoneAt(cellAt(x, y)) == side;
    };
    auto blocks = [&](int x, int y) {
        return board.stoneAt(cellAt(x, y)) == 1 - side;
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
            } while (!board.isEmpty(cell));
            board.makeMove(cell);
            history.push_back(cell);
            ASSERT_NO_FATAL_FAILURE(expectConsistent(board)) << "game " << game << " ply " << ply;

            Board rebuilt;
            int8_t stones[CellCount];
            for (int c = 0; c < CellCount; ++c) stones[c] = static_cast<int8_t>(board.stoneAt(c));
            rebuilt.setUp(stones, board.sideToMove());
            EXPECT_EQ(rebuilt.xScore(), board.xScore());
            EXPECT_EQ(rebuilt.oScore(), board.oScore());
            EXPECT_EQ(rebuilt.positionKey(), board.positionKey());
            EXPECT_EQ(entriesOf(rebuilt.threats(1)), entriesOf(board.threats(1)));
            EXPECT_EQ(entriesOf(rebuilt.threats(0)), entriesOf(board.threats(0)));

            if (ply % 10 == 0) {
                for (int c = 0; c < CellCount; ++c) {
                    if (!board.isEmpty(c)) continue;
                    const uint8_t* cells = board.cellBytes();
                    for (int line = 0; line < LineCount; ++line) {
                        int x, o;
                        lineCodes(cells, c, line, x, o);
                        ASSERT_EQ(x, referenceCode(board, c, line, 1, true)) << c << " line " << line;
                        ASSERT_EQ(o, referenceCode(board, c, line, 0, true)) << c << " line " << line;
                        ASSERT_EQ(emptyFormCode(cells, c, line, 1), referenceCode(board, c, line, 1, false));
                        ASSERT_EQ(emptyFormCode(cells, c, line, 0), referenceCode(board, c, line, 0, false));
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
