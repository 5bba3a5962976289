#include "board/keys.h"

#include <bit>
#include <cstring>

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
    static_assert(CellCount % 8 == 0 && StoneX == 0x80 && StoneO == 0x40);
    PositionKey k;
    // Eight cells at a time: most of a board is empty.
    for (int i = 0; i < CellCount; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, cells + i, 8);
        for (uint64_t stones = eight & 0xC0C0C0C0C0C0C0C0ull; stones;) {
            const int lane = std::countr_zero(stones) / 8;
            k ^= key(isXByte(cells[i + lane]) ? 0 : 1, i + lane);
            stones &= ~(uint64_t{0xFF} << (8 * lane));
        }
    }
    return k;
}
