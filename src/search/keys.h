#pragma once
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

// key(side, cell): the fixed pseudo-random entry of the 2 x 400 key table.
PositionKey key(int side, int cell);
