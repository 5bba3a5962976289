// Yixin-Board's Balance and Defend buttons: yxbalanceone N, yxbalancetwo N
// and yxsearchdefend, each on the position its yxboard block set. The GUI
// stays "thinking" until a move line comes, and plays what it names.
#include <string>

#include "protocol/balance.h"
#include "protocol/command_loop.h"
#include "protocol/defence.h"
#include "protocol/output.h"
#include "protocol/turn_driver.h"
#include "search/winrate.h"

CommandLoop::Outcome CommandLoop::answerBalance(int count) {
    int32_t target = 0;
    const bool given = input.readIntegerOnLine(target);
    if (!given) {
        writeLine(out, count == 1 ? "ERROR yxbalanceone needs the value to reach"
                                  : "ERROR yxbalancetwo needs the value to reach");
        return Outcome::Continue;
    }
    setMoveDeadline(game);
    const Balance balance = balanceStones(game.search, game.board, count, target);
    if (balance.stones.size() != size_t(count)) {
        writeLine(out, "ERROR No empty cell left");
        return Outcome::Continue;
    }
    std::string move = cellText(balance.stones[0]);
    if (count == 2) move.append(" ").append(cellText(balance.stones[1]));
    const int percent = int(winrate(balance.value) * 100 + 0.5);
    std::string summary = "MESSAGE balance ";
    summary.append(move).append(": value ").append(std::to_string(balance.value));
    summary.append(" (").append(std::to_string(percent)).append("%) for the side to move before, ");
    summary.append(std::to_string(balance.searched)).append(" placements searched");
    writeLine(out, summary);
    writeLine(out, move);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxBalanceOne() { return answerBalance(1); }
CommandLoop::Outcome CommandLoop::commandYxBalanceTwo() { return answerBalance(2); }

CommandLoop::Outcome CommandLoop::commandYxSearchDefend() {
    const int cell = searchDefence(game);
    writeLine(out, cell < 0 ? std::string("ERROR No empty cell left") : cellText(cell));
    return Outcome::Continue;
}
