#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "board/cell.h"

class Board;

// Board image: the serial form of a Board that the node files hold, one
// after the other. All integers are 32-bit little-endian, nothing is padded:
// move count, last move, side to move (1 byte), the totals of side 1 and
// side 0, then xThreats and oThreats, each as its count n, n cells and n
// classes in the order of its arrays, then the 400 cell bytes. The saved
// total, the key and the lists' capacities are not part of it.
constexpr size_t ImageHeadBytes = 17;  // up to the first list's count
constexpr size_t MinImageBytes = ImageHeadBytes + 2 * 4 + CellCount;
constexpr size_t MaxImageBytes = ImageHeadBytes + 2 * (4 + 8 * CellCount) + CellCount;

// The image's bytes, at most MaxImageBytes of them; returns how many.
size_t encodeBoardImage(const Board& board, unsigned char* bytes);
void appendBoardImage(const Board& board, std::string& bytes);
bool writeBoardImage(const Board& board, std::FILE* file);

// How long the image that begins at `bytes` is, as far as its first
// `available` bytes tell: a figure above `available` is the least it needs
// before it can tell more (at least all of it when that is what is missing),
// 0 a list count that no image can hold.
size_t imageLength(const unsigned char* bytes, size_t available);

// The Board of one whole image of `size` bytes: cells, lists in their order,
// totals, move count, last move and side to move as stored, saved total 0,
// the key of its stones; held to the self-check when all of that follows from
// its stones. False, with the Board as it was, for bytes that are not one
// image or hold values no Board can (a side other than 0 and 1, a last move
// or a listed cell off the board, a class past the listed ones).
bool boardFromImageBytes(const unsigned char* bytes, size_t size, Board& board);
// The same from the next image of a file. False, with the Board as it was,
// when the file ends or fails before the whole image, or for what
// boardFromImageBytes refuses.
bool readBoardImage(Board& board, std::FILE* file);
