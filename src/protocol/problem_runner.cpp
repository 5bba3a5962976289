#include "protocol/problem_runner.h"

#include <cstdio>

#include "platform/data_directory.h"
#include "protocol/output.h"
#include "protocol/turn_driver.h"

namespace {

void picture(GameSession& game) {
    printBoard(game.board, game.out);
    game.out << '\n' << std::flush;
}

// Playing on the empty Board a missing file leaves would show nothing worth
// watching, so the run stops with an error line instead.
bool load(GameSession& game, int32_t n, char side) {
    const std::string path = problemPath(n, side);
    game.leaveStoredLines();
    if (game.readPosition(platform::dataPath(path).c_str())) return true;
    writeLine(game.out, "ERROR Cannot open the problem file " + printableText(path));
    return false;
}

// A move of the run; false (after an error line) when the Board is full.
bool playChoice(GameSession& game, bool show) {
    const int cell = chooseMove(game);
    if (cell == NoMove) {
        writeLine(game.out, "ERROR No empty cell left");
        return false;
    }
    game.playMove(cell);
    if (show) writeLine(game.out, cellText(cell));
    return true;
}

}  // namespace

std::string problemPath(int32_t n, char side) {
    return platform::problemFilePath(ProblemSet, n, side);
}

void runProblem(GameSession& game, int32_t n) {
    if (n < 0 || n > LastProblemNumber) {
        writeLine(game.out, "ERROR Problem number " + std::to_string(n) + " is outside 0.." +
                                std::to_string(LastProblemNumber));
        return;
    }
    if (!load(game, n, 'a')) return;
    picture(game);
    if (!playChoice(game, true)) return;
    picture(game);
    if (!playChoice(game, false)) return;
    picture(game);
    chooseMove(game);
    writeLine(game.out, "******************************");

    if (!load(game, n, 'b')) return;
    picture(game);
    if (!playChoice(game, true)) return;
    picture(game);
    chooseMove(game);
}
