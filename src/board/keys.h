#pragma once
#include <array>
#include <cstdint>

// A 64-bit position key kept as two 32-bit words, low word first.
struct PositionKey {
    uint32_t low = 0;
    uint32_t high = 0;

    PositionKey& operator^=(const PositionKey& other) {
        low ^= other.low;
        high ^= other.high;
        return *this;
    }
    friend PositionKey operator^(PositionKey a, const PositionKey& b) { return a ^= b; }
    friend bool operator==(const PositionKey&, const PositionKey&) = default;
};

// The fixed pseudo-random 2 x 400 key table, side 0 first.
extern const std::array<PositionKey, 800> keyTable;

// key(side, cell): the entry of the key table; makeMove reads it on every move.
inline PositionKey key(int side, int cell) { return keyTable[side * 400 + cell]; }

// The key of a position from its cell bytes: every stone's key, taken by the
// side that did not play it, as makeMove adds them.
PositionKey stonesKey(const uint8_t* cells);
