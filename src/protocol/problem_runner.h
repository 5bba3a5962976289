#pragma once
#include <cstdint>
#include <string>

#include "protocol/game_session.h"

constexpr int32_t ProblemSet = 1;
constexpr int32_t LastProblemNumber = 999999;

// The position file of problem n, side 'a' or 'b'.
std::string problemPath(int32_t n, char side);

// "problem": plays two moves and shows a third choice on the "a" position,
// then one move and a second choice on the "b" position, with pictures between.
void runProblem(GameSession& game, int32_t n);
