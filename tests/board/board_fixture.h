#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "board/board.h"
#include "board/board_image.h"
#include "board/line_patterns.h"

using EntrySet = std::multiset<std::pair<int, int>>;

inline EntrySet entriesOf(const ThreatList& list) {
    EntrySet e;
    list.forEachEntry([&](ThreatEntry entry) { e.insert({entry.cell, entry.threatClass}); });
    return e;
}

// A list's entries in reading order, the strongest first.
inline std::vector<std::pair<int, int>> readingOrder(const ThreatList& list) {
    std::vector<std::pair<int, int>> entries;
    for (const ThreatEntry e : list) entries.push_back({e.cell, e.threatClass});
    return entries;
}

// The totals, counters, side and key of two Boards, equal in both; the saved
// total too unless `saved` is false (an image does not hold it).
inline void expectSameFields(const Board& a, const Board& b, const char* what, bool saved = true) {
    EXPECT_EQ(a.xScore(), b.xScore()) << what;
    EXPECT_EQ(a.oScore(), b.oScore()) << what;
    if (saved) {
        EXPECT_EQ(a.savedScore(), b.savedScore()) << what;
    }
    EXPECT_EQ(a.moveCount(), b.moveCount()) << what;
    EXPECT_EQ(a.lastMove(), b.lastMove()) << what;
    EXPECT_EQ(a.sideToMove(), b.sideToMove()) << what;
    EXPECT_EQ(a.positionKey(), b.positionKey()) << what;
}

// Everything a reader can see of a Board (the lists in their order), equal in both.
inline void expectSameBoard(const Board& a, const Board& b, const char* what, bool saved = true) {
    for (int c = 0; c < CellCount; ++c) ASSERT_EQ(a.cellByte(c), b.cellByte(c)) << what << ": cell " << c;
    for (int side : {1, 0}) ASSERT_EQ(readingOrder(a.threats(side)), readingOrder(b.threats(side))) << what;
    expectSameFields(a, b, what, saved);
}

// Moves that crowd the middle, so that threats of every class turn up.
inline int randomMove(const Board& board, std::mt19937& rng) {
    int cell;
    do {
        cell = cellAt(4 + static_cast<int>(rng() % 12), 4 + static_cast<int>(rng() % 12));
    } while (!board.isEmpty(cell));
    return cell;
}

// What a board image holds; entries in the order of the image (weakest first).
struct ImageParts {
    int32_t moveCount = 0, lastMove = -1;
    uint8_t side = 1;
    int32_t xScore = 0, oScore = 0;
    std::vector<std::pair<int, int>> x, o;
    uint8_t cells[CellCount] = {};
};

inline ImageParts imageOf(const Board& board) {
    ImageParts parts;
    parts.moveCount = board.moveCount();
    parts.lastMove = board.lastMove();
    parts.side = static_cast<uint8_t>(board.sideToMove());
    parts.xScore = board.xScore();
    parts.oScore = board.oScore();
    for (int side : {1, 0}) {
        auto entries = readingOrder(board.threats(side));
        (side ? parts.x : parts.o).assign(entries.rbegin(), entries.rend());
    }
    for (int c = 0; c < CellCount; ++c) parts.cells[c] = board.cellByte(c);
    return parts;
}

// Reads the image into `board`: the way to positions that no game reaches.
inline bool readImage(Board& board, const ImageParts& parts) {
    std::FILE* file = std::tmpfile();
    auto put = [&](int32_t v) {
        const uint32_t u = static_cast<uint32_t>(v);
        const unsigned char bytes[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
        std::fwrite(bytes, 1, 4, file);
    };
    put(parts.moveCount);
    put(parts.lastMove);
    std::fwrite(&parts.side, 1, 1, file);
    put(parts.xScore);
    put(parts.oScore);
    for (const auto* list : {&parts.x, &parts.o}) {
        put(static_cast<int32_t>(list->size()));
        for (auto [cell, k] : *list) put(cell);
        for (auto [cell, k] : *list) put(k);
    }
    std::fwrite(parts.cells, 1, CellCount, file);
    std::rewind(file);
    const bool read = readBoardImage(board, file);
    std::fclose(file);
    return read;
}

inline std::unique_ptr<Board> boardFromImage(const ImageParts& parts) {
    auto board = std::make_unique<Board>();
    EXPECT_TRUE(readImage(*board, parts));
    return board;
}

// makeMove as a sequence of single-cell list updates in ray order, stopping
// each ray at the first stone of the second colour, with the classes read
// off the cell bytes: the order that the engine's batched and deferred list
// updates must reproduce. The Board is read back from the image it gives,
// which holds no saved total.
inline void referenceMove(Board& board, int cell) {
    ImageParts parts = imageOf(board);
    const int side = board.sideToMove();
    ThreatList lists[2];
    int32_t totals[2] = {parts.oScore, parts.xScore};
    for (int s : {0, 1}) {
        std::vector<int32_t> cells, classes;
        for (auto [c, k] : s ? parts.x : parts.o) {
            cells.push_back(c);
            classes.push_back(k);
        }
        lists[s].assign(cells.data(), classes.data(), static_cast<int>(cells.size()));
    }
    uint8_t* bytes = parts.cells;
    bytes[cell] = static_cast<uint8_t>((bytes[cell] & 0x3F) | (side ? StoneX : StoneO));
    lists[1].update(cell, NoThreat, bytes, ListedX, totals[1]);
    lists[0].update(cell, NoThreat, bytes, ListedO, totals[0]);
    for (int d : {0, 1, 2, 3, 4, 5, 7, 6}) {
        bool seenX = false, seenO = false;
        for (int k = 1, p = cell + ReachSteps[d]; k <= reachCount(d, cell); ++k, p += ReachSteps[d]) {
            const uint8_t v = bytes[p];
            if (isEmptyByte(v)) {
                int kx, ko;
                classifyByScanning(bytes, p, kx, ko);
                lists[1].update(p, kx, bytes, ListedX, totals[1]);
                lists[0].update(p, ko, bytes, ListedO, totals[0]);
            } else if (isXByte(v)) {
                if (seenO) break;
                seenX = true;
            } else {
                if (seenX) break;
                seenO = true;
            }
        }
    }
    parts.moveCount += 1;
    parts.lastMove = cell;
    parts.side = static_cast<uint8_t>(1 - side);
    parts.xScore = totals[1];
    parts.oScore = totals[0];
    for (int s : {0, 1}) {
        auto entries = readingOrder(lists[s]);
        (s ? parts.x : parts.o).assign(entries.rbegin(), entries.rend());
    }
    ASSERT_TRUE(readImage(board, parts));
}
