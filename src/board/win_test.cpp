#include "board/win_test.h"

#include "board/line_patterns.h"

int winTest(Board& board, int /*mode*/) {
    ThreatList& mover = board.moverThreats();
    ThreatList& opponent = board.opponentThreats();
    const uint8_t moverListed = board.sideToMove ? ListedX : ListedO;

    mover.cursor = mover.count - 1;
    const int a = mover.count > 0 ? mover.classes[mover.count - 1] : NoThreat;
    if (a == 0) return 1;

    opponent.cursor = opponent.count - 1;
    const int b = opponent.count > 0 ? opponent.classes[opponent.count - 1] : NoThreat;
    if (b == 0) {
        --opponent.cursor;
        return opponent.cursor >= 0 && opponent.classes[opponent.cursor] == 0 ? -1 : 0;
    }

    if (a > 3) return 0;
    if (a <= 1) return 1;
    if (b < 3) return 0;

    // A four-three or double open three wins unless the opponent can
    // interpose fours; a plain four on a cell the mover does not need is harmless once.
    int minDistance = 18;
    int tolerableFours = 0;
    bool dangerousFour = false;
    int cell, threatClass;
    while (opponent.current(cell, threatClass) && threatClass <= WeakestListed) {
        const int k = readClass(threatClass);
        const int d = winDistance[k];
        if (d < minDistance) minDistance = d;
        if (d == 1) {
            if (k == 12 && !(board.cells[cell] & moverListed)) ++tolerableFours;
            else dangerousFour = true;
        }
        --opponent.cursor;
    }
    if (minDistance > 1) return 1;
    return !dangerousFour && tolerableFours < 2 ? 1 : 0;
}
