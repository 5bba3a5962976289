#pragma once
#include <cstdint>

// The chance, 0..1, that the side to move wins from a position the search
// gave this value: a logistic curve in the value, fitted on the engine's own
// games by tools/fit_winrate.py. A proved value is a certain win or loss.
double winrate(int32_t value);
