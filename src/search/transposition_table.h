#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// What the deeper search knows of a position it met before: its value and
// how far that value holds, and the move that was best or cut off there.
// Keyed by the full 64-bit key of the stones and the side to move.
class TranspositionTable {
public:
    enum Bound : uint8_t { None = 0, Upper = 1, Lower = 2, Exact = 3 };
    struct Entry {
        uint64_t key = 0;
        int32_t value = 0;
        int16_t move = 0;
        int8_t depth = 0;
        uint8_t bound = None;  // low two bits the bound, the rest the generation; None: empty
    };
    static_assert(sizeof(Entry) == 16);

    // Without a size the table holds nothing: every probe misses.
    TranspositionTable() = default;

    // A table of at most `bytes` (a power of two of entries, at least two),
    // empty; the same size keeps its entries. False, with no table (every
    // probe misses), when the memory cannot be had.
    bool resize(size_t bytes);
    size_t bytes() const { return size_ * sizeof(Entry); }
    void clear();
    // A new search: entries of older searches give way first.
    void nextGeneration() { generation_ = static_cast<uint8_t>((generation_ + 4) & 0xFC); }

    // The entry of the key, or null.
    const Entry* probe(uint64_t key) const;
    // Starts bringing the key's slot into the cache: a probe soon after
    // then seldom waits on memory.
    void prefetch(uint64_t key) const {
        if (size_ != 0) __builtin_prefetch(slot(key));
    }
    void store(uint64_t key, int32_t value, Bound bound, int depth, int move);

private:
    // Two entries a slot: the first keeps the deepest of this generation,
    // the second takes whatever comes.
    Entry* slot(uint64_t key) const { return table_.get() + ((key >> 1) & (size_ / 2 - 1)) * 2; }

    // Zeroed memory is a table of empty entries; the system hands it out
    // page by page as the search first touches it, so a large table costs
    // nothing before it is used and clears by being handed out anew.
    struct Release {
        size_t bytes;  // as allocated
        void operator()(Entry* entries) const;
    };
    std::unique_ptr<Entry[], Release> table_;
    size_t size_ = 0;
    uint8_t generation_ = 0;
};
