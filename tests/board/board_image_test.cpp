#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/board_image.h"
#include "board_fixture.h"

namespace {

std::string fileBytesOf(const Board& board) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(writeBoardImage(board, file));
    std::string bytes(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
}

const unsigned char* imageBytes(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

}  // namespace

// Every writer gives the same bytes, the length is known from the bytes alone
// before the whole image is there, and decoding gives back a Board that
// encodes to the same bytes again.
TEST(BoardImageCodec, RoundTripOverPositions) {
    struct Case {
        const char* name;
        std::vector<int> moves;
        bool deferred;  // lists that wait for their layout while encoded
    };
    std::vector<Case> cases = {
        {"empty board", {}, false},
        {"one stone, no threats", {189}, false},
        {"opening with threats", {189, 190, 209, 168, 229, 5, 249}, false},
        {"lists waiting for their layout", {189, 190, 209, 168, 229, 5, 249, 210, 230}, true},
        {"a corner and the edges", {0, 399, 19, 380, 1, 398, 20, 379}, false},
    };
    std::mt19937 rng(24);
    Case crowded{"a crowded middle", {}, false};
    Board walk;
    for (int i = 0; i < 60; ++i) {
        crowded.moves.push_back(randomMove(walk, rng));
        walk.makeMove(crowded.moves.back());
    }
    cases.push_back(crowded);

    for (const Case& c : cases) {
        Board board;
        board.deferLayouts(c.deferred);
        for (int m : c.moves) board.makeMove(m);
        std::string appended;
        appendBoardImage(board, appended);
        unsigned char encoded[MaxImageBytes];
        const size_t size = encodeBoardImage(board, encoded);
        ASSERT_EQ(appended, std::string(reinterpret_cast<const char*>(encoded), size)) << c.name;
        ASSERT_EQ(fileBytesOf(board), appended) << c.name;
        EXPECT_EQ(size, MinImageBytes + 8 * static_cast<size_t>(board.threats(1).size() + board.threats(0).size()))
            << c.name;

        for (size_t prefix = 0; prefix < size; ++prefix)
            ASSERT_GT(imageLength(imageBytes(appended), prefix), prefix) << c.name << ", " << prefix << " bytes";
        EXPECT_EQ(imageLength(imageBytes(appended), size), size) << c.name;

        Board decoded;
        decoded.makeMove(100);  // whatever it held goes
        ASSERT_TRUE(boardFromImageBytes(imageBytes(appended), size, decoded)) << c.name;
        ASSERT_NO_FATAL_FAILURE(expectSameBoard(decoded, board, c.name, false));
        EXPECT_EQ(decoded.savedScore(), 0) << c.name;
        EXPECT_TRUE(decoded.isHeldToSelfCheck()) << c.name;
        std::string again;
        appendBoardImage(decoded, again);
        EXPECT_EQ(again, appended) << c.name;

        // Bytes that are not exactly one image are refused and leave the Board alone.
        for (const std::string& wrong : {appended.substr(0, size - 1), appended + '\0'}) {
            Board untouched;
            untouched.makeMove(7);
            EXPECT_FALSE(boardFromImageBytes(imageBytes(wrong), wrong.size(), untouched)) << c.name;
            EXPECT_EQ(untouched.moveCount(), 1) << c.name;
        }
    }
}

// A count no list can hold is known as soon as it is read.
TEST(BoardImageCodec, ImpossibleCountsEndTheImage) {
    Board board;
    for (int m : {189, 190, 209, 168, 229}) board.makeMove(m);
    std::string bytes;
    appendBoardImage(board, bytes);
    const size_t oCountAt = ImageHeadBytes + 4 + 8 * static_cast<size_t>(board.threats(1).size());
    for (const size_t at : {ImageHeadBytes, oCountAt})
        for (const uint32_t count : {uint32_t{CellCount + 1}, uint32_t{0xFFFFFFFF}}) {
            std::string wrong = bytes;
            for (int i = 0; i < 4; ++i) wrong[at + i] = static_cast<char>(count >> (8 * i));
            EXPECT_EQ(imageLength(imageBytes(wrong), at + 4), 0u) << at << " " << count;
            EXPECT_EQ(imageLength(imageBytes(wrong), wrong.size()), 0u) << at << " " << count;
        }
}
