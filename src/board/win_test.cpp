#include "board/win_test.h"

#include "board/line_patterns.h"

int winTestOfStrongest(int a, int b, bool opponentTwoFives) {
    if (a == 0) return 1;
    if (b == 0) return opponentTwoFives ? -1 : 0;
    if (a > 3) return 0;
    if (a <= 1) return 1;
    if (b < 3) return 0;
    return NeedsEntries;
}

int winTest(const Board& board) {
    const ThreatList& mover = board.moverThreats();
    const ThreatList& opponent = board.opponentThreats();
    const int side = board.sideToMove();

    // Most positions are decided by the strongest entries alone, which a
    // list answers without laying out a deferred update.
    const int a = mover.strongestClass();
    const int r = a == 0 ? 1 : winTestOfStrongest(a, opponent.strongestClass(), opponent.twoFives());
    if (r != NeedsEntries) return r;

    // A four-three or double open three wins unless the opponent can
    // interpose fours; a plain four on a cell the mover does not need is
    // harmless once. The outcome does not depend on the order of the
    // entries, so a list waiting for its layout is read as it is.
    int minDistance = 18;
    int tolerableFours = 0;
    bool dangerousFour = false;
    opponent.forEachEntry([&](ThreatEntry e) {
        const int k = readClass(e.threatClass);
        const int d = winDistance[k];
        if (d < minDistance) minDistance = d;
        if (d == 1) {
            if (k == 12 && !board.isListed(e.cell, side)) ++tolerableFours;
            else dangerousFour = true;
        }
    });
    if (minDistance > 1) return 1;
    return !dangerousFour && tolerableFours < 2 ? 1 : 0;
}

int winTestAfterMove(const Board& board, int cell, Board::MoveProbe& probe) {
    if (!board.probeMove(cell, probe)) return NeedsEntries;
    // The side to move after the move is the one that did not play it.
    const Board::ProbeSide& mover = board.sideToMove() ? probe.o : probe.x;
    const Board::ProbeSide& opponent = board.sideToMove() ? probe.x : probe.o;
    return winTestOfStrongest(mover.strongestUpToThree(), opponent.strongestUpToThree(), opponent.twoFives());
}
