#include "board/keys.h"

#include "board/cell.h"

namespace {

// splitmix64 from a fixed seed: any fixed pseudo-random values serve, and
// nothing on disk depends on them.
constexpr std::array<PositionKey, 800> buildKeyTable() {
    std::array<PositionKey, 800> table{};
    uint64_t state = 0x7461727630303031ull;
    for (auto& entry : table) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        entry.low = static_cast<uint32_t>(z);
        entry.high = static_cast<uint32_t>(z >> 32);
    }
    return table;
}

}  // namespace

constexpr std::array<PositionKey, 800> keyTable = buildKeyTable();

PositionKey stonesKey(const uint8_t* cells) {
    PositionKey k;
    for (int c = 0; c < CellCount; ++c)
        if (!isEmptyByte(cells[c])) k ^= key(isXByte(cells[c]) ? 0 : 1, c);
    return k;
}
