#pragma once
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>

// "tarvo/nodes/node" + "%03d.bin": the node file of a number, relative to
// the working directory. Written by the database export, read by statisticsRun.
std::string nodeFileName(int number);

class Board;

// The Board that readBoardImage reads from the same bytes (a whole image of
// `size` bytes), only not held to the self-check; false, with the Board as it
// was, for an image that readBoardImage refuses.
bool boardFromImageBytes(const unsigned char* bytes, size_t size, Board& board);

// Runs the proof-number search over every board image of node files first..last
// (inclusive), giving each position timeoutTurn ms of search beyond the margin.
// Exceptions from a search propagate with the file closed and the graph deleted.
void statisticsRun(int first, int last, int32_t timeoutTurn, std::ostream& out = std::cout);
