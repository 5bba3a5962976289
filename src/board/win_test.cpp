#include "board/win_test.h"

#include "board/line_patterns.h"

int winTest(Board& board, int /*mode*/) {
    ThreatList& mover = board.moverThreats();
    ThreatList& opponent = board.opponentThreats();
    const uint8_t moverListed = board.sideToMove_ ? ListedX : ListedO;

    // Most positions are decided by the strongest entries alone, which a
    // list answers without laying out a deferred update.
    mover.cursor = mover.count - 1;
    const int a = mover.strongestClass();
    if (a == 0) return 1;

    opponent.cursor = opponent.count - 1;
    const int b = opponent.strongestClass();
    if (b == 0) {
        --opponent.cursor;
        return opponent.twoFives() ? -1 : 0;
    }

    if (a > 3) return 0;
    if (a <= 1) return 1;
    if (b < 3) return 0;

    // A four-three or double open three wins unless the opponent can
    // interpose fours; a plain four on a cell the mover does not need is harmless once.
    int minDistance = 18;
    int tolerableFours = 0;
    bool dangerousFour = false;
    auto count = [&](int cell, int threatClass) {
        const int k = readClass(threatClass);
        const int d = winDistance[k];
        if (d < minDistance) minDistance = d;
        if (d == 1) {
            if (k == 12 && !(board.cells[cell] & moverListed)) ++tolerableFours;
            else dangerousFour = true;
        }
    };
    if (opponent.isPending()) {
        // Every entry of a list waiting for its layout is listed (0..13), so
        // the walk would take them all; the outcome does not depend on their order.
        opponent.forEachEntry(count);
        opponent.cursor = -1;
    } else {
        int cell, threatClass;
        while (opponent.current(cell, threatClass) && threatClass <= WeakestListed) {
            count(cell, threatClass);
            --opponent.cursor;
        }
    }
    if (minDistance > 1) return 1;
    return !dangerousFour && tolerableFours < 2 ? 1 : 0;
}
