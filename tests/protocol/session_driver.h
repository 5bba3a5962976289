#pragma once
#include <sstream>
#include <string>

#include "protocol/command_loop.h"

// One session driven by successive inputs, as if each were the rest of the
// manager's input; run() gives the lines written for that input.
struct SessionDriver {
    std::ostringstream out;
    GameSession game{out};
    LoopExit lastExit = LoopExit::EndOfInput;

    std::string run(const std::string& text) {
        std::istringstream in(text);
        const auto start = out.str().size();
        CommandLoop loop(game, in);
        lastExit = loop.run();
        return out.str().substr(start);
    }
};
