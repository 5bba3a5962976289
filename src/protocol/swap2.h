#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "protocol/game_session.h"

// The engine's swap2 judgement, for SWAP2BOARD and for Yixin-Board's
// yxswap2step words: every stone it names is an empty point, every choice
// comes from its search within the turn's time, and the game's own Board is
// not touched.

// What the player to choose does with an opening of three stones (black,
// white, black; white to move) or five.
struct Swap2Choice {
    enum class Kind { Swap, OneStone, TwoStones };
    Kind kind = Kind::Swap;  // Swap: the engine takes black
    int first = -1;          // the fourth (or sixth) stone
    int second = -1;         // the fifth, for TwoStones
};

// Black in the centre, white beside it, black again within two points: the
// opening whose search value lies nearest to even, searched in a fixed order
// until the context's moveDeadline (the first always is). `farWhite` also lets white stand
// two points away; without it white touches the centre stone.
std::vector<int> balancedOpening(SearchContext& context, int centre, bool farWhite);

// With three stones: Swap when white's chance is under 45 %, the fourth
// stone when over 55 %, else the fourth and fifth for the opponent to choose
// from. With five: Swap below 50 %, else the sixth stone. `stones` must be
// valid (checkSwap2Stones) and 3 or 5 long; the context's moveDeadline
// must be set.
Swap2Choice judgeSwap2(SearchContext& context, const std::vector<int>& stones);

// An "ERROR " line, naming the word, for stones that are no swap2 position
// of `count` stones (count < 0: 0, 3 or 5), else an empty string.
std::string checkSwap2Stones(const std::vector<int>& stones, int count, std::string_view word);

// SWAP2BOARD: the reply to the stones placed so far (black, white, black,
// ...): with none, a balanced three-stone opening ("x,y x,y x,y"); with
// three, "SWAP", the fourth stone, or the fourth and fifth; with five,
// "SWAP" or the sixth stone. Any other count, or a stone off the board or
// on another, gets an "ERROR " line.
std::string swap2Reply(GameSession& game, const std::vector<int>& stones);

// Yixin-Board's swap2 steps, as the lines it waits for. Step 1 (the engine
// opens): "MESSAGE SWAP2 MOVE1 x y" to MOVE3. Step 2 (the game's three
// stones, the engine plays white): "MESSAGE SWAP2 SWAP1 YES" (it takes
// black), "... SWAP1 NO" (it stays white; the GUI then asks for its move) or
// MOVE4 and MOVE5. Step 3 (the game's five stones, the engine opened):
// "MESSAGE SWAP2 SWAP2 YES" (it stays black) or "... SWAP2 NO" (it takes
// white and is asked for the sixth stone).
std::vector<std::string> swap2StepLines(GameSession& game, int step);
