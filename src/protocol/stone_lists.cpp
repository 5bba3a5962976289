#include "protocol/stone_lists.h"

#include <charconv>
#include <cstdlib>

#include "protocol/output.h"

std::unique_ptr<Board> boardOfStones(const std::vector<int>& stones) {
    auto board = std::make_unique<Board>();
    board->setSideToMove(stones.size() % 2 == 0 ? 1 : 0);
    for (int cell : stones) board->makeMove(cell);
    return board;
}

std::vector<int> gameStones(const GameSession& game) {
    return std::vector<int>(game.moveRecord, game.moveRecord + game.moveRecordCount);
}

bool distinctPoints(const std::vector<int>& cells) {
    bool taken[CellCount] = {};
    for (int cell : cells) {
        if (cell < 0 || cell >= CellCount || taken[cell]) return false;
        taken[cell] = true;
    }
    return true;
}

int nearestEmptyCell(const Board& board, int centre) {
    const int cx = cellX(centre), cy = cellY(centre);
    for (int ring = 0; ring < 2 * BoardSize; ++ring)
        for (int cell = 0; cell < CellCount; ++cell)
            if (std::abs(cellX(cell) - cx) <= ring && std::abs(cellY(cell) - cy) <= ring && board.isEmpty(cell))
                return cell;
    return -1;
}

int pointOfLine(std::string line) {
    std::erase_if(line, [](char c) { return isBlank(c); });
    const char* end = line.data() + line.size();
    int x = -1, y = -1;
    const auto [comma, xError] = std::from_chars(line.data(), end, x);
    if (xError != std::errc() || comma == end || *comma != ',') return -1;
    const auto [last, yError] = std::from_chars(comma + 1, end, y);
    if (yError != std::errc() || last != end || !onBoard(x, y)) return -1;
    return cellAt(x, y);
}

bool readStoneBlock(ProtocolInput& input, std::vector<int>& cells) {
    cells.clear();
    return input.readBlock([&](const std::string& line) { cells.push_back(pointOfLine(line)); });
}

std::string spacedCell(int cell) { return std::to_string(cellX(cell)) + " " + std::to_string(cellY(cell)); }
