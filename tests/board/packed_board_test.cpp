#include "board/packed_board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "board_fixture.h"

namespace {

void expectRoundTrip(const Board& board, const char* what) {
    const PackedBoardPtr packed = packBoard(board);
    EXPECT_EQ(packed->positionKey, board.positionKey()) << what;
    Board unpacked;
    unpackBoard(*packed, unpacked);
    ASSERT_NO_FATAL_FAILURE(expectSameBoard(unpacked, board, what));
    // The unpacked Board plays on as the original does.
    for (int cell = 0; cell < CellCount; ++cell) {
        if (!board.isEmpty(cell)) continue;
        auto original = copyBoard(board);
        original->makeMove(cell);
        auto copy = copyBoard(unpacked);
        copy->makeMove(cell);
        ASSERT_NO_FATAL_FAILURE(expectSameBoard(*copy, *original, what));
        break;
    }
}

TEST(PackedBoard, PositionsOfGamesComeBackWhole) {
    std::mt19937 rng(7);
    Board board;
    expectRoundTrip(board, "empty");
    for (int ply = 0; ply < 80; ++ply) {
        board.makeMove(randomMove(board, rng));
        ASSERT_NO_FATAL_FAILURE(expectRoundTrip(board, "game"));
    }
}

// A child packed straight from a move on an unpacked Board (its lists not
// laid out yet) unpacks to the Board that playing the move on a copy gives.
TEST(PackedBoard, MovesPlayedOnAnUnpackedBoardPackAsTheirChildren) {
    std::mt19937 rng(11);
    Board game;
    for (int ply = 0; ply < 70; ++ply) {
        game.makeMove(randomMove(game, rng));
        const PackedBoardPtr packed = packBoard(game);
        Board position;
        unpackBoard(*packed, position);
        PackedEntries laidOut;
        packEntries(position, laidOut);
        for (int trial = 0; trial < 4; ++trial) {
            const int cell = randomMove(position, rng);
            PackedBoardPtr child;
            {
                const TrialMove move(position, cell);
                child = packBoard(position, packed.get(), trial % 2 ? &laidOut : nullptr);
            }
            auto expected = copyBoard(game);
            expected->makeMove(cell);
            Board unpacked;
            unpackBoard(*child, unpacked);
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(unpacked, *expected, "child"));
        }
    }
}

// Bytes and lists that stones and entries do not explain, as only a board
// image can hold them, are kept as they are.
TEST(PackedBoard, ImageOddsAreKept) {
    struct Case {
        const char* name;
        int cell;
        uint8_t byte;
    };
    const Case cases[] = {
        {"low bits", cellAt(3, 3), 0x05},
        {"listed without an entry", cellAt(4, 4), ListedX},
        {"stone with a listed bit", cellAt(9, 9), StoneX | ListedO},
        {"both stone bits", cellAt(9, 9), StoneX | StoneO},
    };
    Board game;
    for (int cell : {cellAt(9, 9), cellAt(10, 9), cellAt(9, 10), cellAt(10, 10), cellAt(8, 8)}) game.makeMove(cell);
    for (const Case& c : cases) {
        ImageParts parts = imageOf(game);
        parts.cells[c.cell] = c.byte;
        const auto board = boardFromImage(parts);
        ASSERT_NO_FATAL_FAILURE(expectRoundTrip(*board, c.name));
        EXPECT_TRUE(packBoard(*board)->rawCells) << c.name;
    }
    // A list out of order and with a cell twice.
    ImageParts parts = imageOf(game);
    parts.x = {{cellAt(1, 1), 12}, {cellAt(2, 2), 13}, {cellAt(1, 1), 0}};
    ASSERT_NO_FATAL_FAILURE(expectRoundTrip(*boardFromImage(parts), "odd list"));
}

}  // namespace
