#pragma once
#include <cstdint>
#include <ostream>

constexpr int BenchDepth = 5;

// Searches the fixed bench positions without a deadline and reports nodes,
// time and speed per position and in total; returns the total node count,
// which depends only on the move generator and the search.
int64_t runBench(std::ostream& out);
