#pragma once
#include <cstdint>

// Cell indices and cell bytes shared by every subsystem.
constexpr int BoardSize = 20;
constexpr int CellCount = 400;
constexpr int CentreCell = 189;  // x 9, y 9

constexpr uint8_t StoneX = 0x80;   // side 1, 'x'
constexpr uint8_t StoneO = 0x40;   // side 0, 'o'
constexpr uint8_t ListedO = 0x20;  // empty cell with an entry in oThreats
constexpr uint8_t ListedX = 0x10;  // empty cell with an entry in xThreats

constexpr int cellX(int cell) { return cell % BoardSize; }
constexpr int cellY(int cell) { return cell / BoardSize; }
constexpr int cellAt(int x, int y) { return x + BoardSize * y; }
constexpr bool onBoard(int x, int y) { return x >= 0 && x < BoardSize && y >= 0 && y < BoardSize; }

// Every loop of the engine classifies a byte by value, not by its bits.
constexpr bool isEmptyByte(uint8_t b) { return b < 64; }
constexpr bool isOByte(uint8_t b) { return b >= 64 && b < 128; }
constexpr bool isXByte(uint8_t b) { return b >= 128; }
