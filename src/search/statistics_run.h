#pragma once
#include <cstdint>
#include <iostream>
#include <string>

// Runs the proof-number search over every board image of node files first..last
// (inclusive), giving each position timeoutTurn ms of search beyond the margin.
// Exceptions from a search propagate with the file closed and the graph deleted.
void statisticsRun(int first, int last, int32_t timeoutTurn, std::ostream& out = std::cout);
