#include "search/transposition_table.h"

#include <algorithm>
#include <type_traits>

#include "platform/memory.h"

static_assert(std::is_trivially_copyable_v<TranspositionTable::Entry>);

void TranspositionTable::Release::operator()(Entry* entries) const { platform::releaseLargeZeroed(entries, bytes); }

bool TranspositionTable::resize(size_t bytes) {
    size_t entries = 2;
    while (entries * 2 * sizeof(Entry) <= bytes) entries *= 2;
    if (entries == size_) return true;
    table_.reset();  // the old table gives its memory back first
    size_ = 0;
    auto* memory = static_cast<Entry*>(platform::allocateLargeZeroed(entries * sizeof(Entry)));
    if (!memory) return false;
    table_ = std::unique_ptr<Entry[], Release>(memory, Release{entries * sizeof(Entry)});
    size_ = entries;
    return true;
}

void TranspositionTable::clear() {
    const size_t entries = size_;
    if (entries == 0) return;
    size_ = 0;
    table_.reset();
    resize(entries * sizeof(Entry));
    generation_ = 0;
}

const TranspositionTable::Entry* TranspositionTable::probe(uint64_t key) const {
    if (size_ == 0) return nullptr;
    const Entry* e = slot(key);
    if (e[0].key == key && (e[0].bound & 3) != None) return &e[0];
    if (e[1].key == key && (e[1].bound & 3) != None) return &e[1];
    return nullptr;
}

void TranspositionTable::store(uint64_t key, int32_t value, Bound bound, int depth, int move) {
    if (size_ == 0) return;
    Entry* e = slot(key);
    // The first entry keeps the deepest of the current generation; its own
    // key's newer value always goes in. Anything else takes the second.
    Entry* target = &e[1];
    const bool stale = (e[0].bound & 0xFC) != generation_;
    if (e[0].key == key || stale || depth >= e[0].depth || (e[0].bound & 3) == None) target = &e[0];
    else if (e[1].key == key) target = &e[1];
    // A move found before is kept when this visit found none.
    if (move < 0 && target->key == key) move = target->move;
    target->key = key;
    target->value = value;
    target->move = static_cast<int16_t>(move);
    target->depth = static_cast<int8_t>(std::clamp(depth, -128, 127));
    target->bound = static_cast<uint8_t>(generation_ | bound);
}
