// Yixin-Board's words for the opening rules it runs itself: swap2
// (yxswap2step1..3, the position set by a yxboard block before steps 2
// and 3) and Soosõrv-8 (yxsoosorvstep1..6, the position in a block of
// "x,y" lines behind the word; steps 4 and 5 name N first).
#include <string>
#include <vector>

#include "protocol/command_loop.h"
#include "protocol/output.h"
#include "protocol/soosorv.h"
#include "protocol/stone_lists.h"
#include "protocol/swap2.h"

namespace {

void writeLines(std::ostream& out, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) writeLine(out, line);
}

}  // namespace

CommandLoop::Outcome CommandLoop::commandYxSwap2Step1() {
    writeLines(out, swap2StepLines(game, 1));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxSwap2Step2() {
    writeLines(out, swap2StepLines(game, 2));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxSwap2Step3() {
    writeLines(out, swap2StepLines(game, 3));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::answerSoosorvStep(int step, bool readsCount) {
    int32_t fifths = 0;
    bool counted = true;
    std::vector<int> stones;
    if (step > 1) {  // the block begins on the next line
        if (readsCount)
            counted = input.readLineInteger(fifths);
        else
            input.readRestOfLine();
        if (!readStoneBlock(input, stones)) return Outcome::Continue;
    }
    if (!counted) {
        writeLine(out, "ERROR yxsoosorvstep" + std::to_string(step) + " needs N, the number of fifth moves");
        return Outcome::Continue;
    }
    writeLines(out, soosorvStepLines(game, step, fifths, stones));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxSoosorvStep1() { return answerSoosorvStep(1, false); }
CommandLoop::Outcome CommandLoop::commandYxSoosorvStep2() { return answerSoosorvStep(2, false); }
CommandLoop::Outcome CommandLoop::commandYxSoosorvStep3() { return answerSoosorvStep(3, false); }
CommandLoop::Outcome CommandLoop::commandYxSoosorvStep4() { return answerSoosorvStep(4, true); }
CommandLoop::Outcome CommandLoop::commandYxSoosorvStep5() { return answerSoosorvStep(5, true); }
CommandLoop::Outcome CommandLoop::commandYxSoosorvStep6() { return answerSoosorvStep(6, false); }
