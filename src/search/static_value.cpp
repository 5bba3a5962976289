#include "search/static_value.h"

#include "board/win_test.h"

int32_t scorePosition(const Board& board) {
    const int r = winTest(board);
    if (r != 0) return WinValue * r;
    return (board.sideToMove() ? board.xScore() : board.oScore()) - board.savedScore();
}
