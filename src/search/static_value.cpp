#include "search/static_value.h"

#include "board/win_test.h"

int32_t scorePosition(const Board& board) {
    const int r = winTest(board);
    if (r != 0) return WinValue * r;
    return (board.sideToMove() ? board.xScore() : board.oScore()) - board.savedScore();
}

bool scoreAfterMove(const Board& board, int cell, int32_t& value) {
    Board::MoveProbe probe;
    const int r = winTestAfterMove(board, cell, probe);
    if (r == NeedsEntries) return false;
    const Board::ProbeSide& mover = board.sideToMove() ? probe.o : probe.x;
    value = r != 0 ? WinValue * r : mover.total - probe.savedScore;
    return true;
}
