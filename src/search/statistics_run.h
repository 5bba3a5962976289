#pragma once
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>

// "tarvo/nodes/node" + "%03d.bin": the node file of a number, relative to
// the working directory. Written by the database export, read by statisticsRun.
std::string nodeFileName(int number);

// Runs the proof-number search over every board image of node files first..last
// (inclusive), giving each position timeoutTurn ms of search beyond the margin.
// Exceptions from a search propagate with the file closed and the graph deleted.
void statisticsRun(int first, int last, int32_t timeoutTurn, std::ostream& out = std::cout);
