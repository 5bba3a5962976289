// The game-record readers and the judge on arbitrary bytes as a .rec and a .psq file.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder("tarvo_fuzz_game_records");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile("game.rec", data, size);
    writeFile("game.psq", data, size);
    std::vector<int32_t> moves;
    try {
        if (readRecGame("game.rec", moves)) judgeGame(moves);
    } catch (const DatabaseError&) {
    }
    if (readPsqGame("game.psq", moves)) judgeGame(moves);
    return 0;
}
