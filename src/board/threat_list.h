#pragma once
#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "board/cell.h"
#include "board/line_patterns.h"

// The most cells one Board operation re-evaluates: the cell and four points
// along each of eight rays.
constexpr int MaxBatch = 33;

// A cell and a threat class, for a batch of list updates.
struct CellClass {
    int16_t cell;
    int8_t threatClass;
};

// Bit k set for each of the first 4 (16) counts that is not 0, worked out
// four counts to a word, without a branch.
inline uint32_t nonZeroCounts4(const int16_t* counts) {
    static_assert(std::endian::native == std::endian::little);
    uint64_t four;
    std::memcpy(&four, counts, sizeof four);
    // The top bit of each count that is not 0, gathered into four bits.
    constexpr uint64_t Low = 0x7FFF7FFF7FFF7FFFull, High = ~Low;
    const uint64_t nonZero = (((four & Low) + Low) | four) & High;
    return static_cast<uint32_t>(((nonZero >> 15) * 0x0001000200040008ull) >> 48 & 0xF);
}

inline uint32_t nonZeroCounts(const int16_t* counts) {
    uint32_t bits = 0;
    for (int w = 0; w < 4; ++w) bits |= nonZeroCounts4(counts + 4 * w) << (4 * w);
    return bits;
}

// The strongest of the listed classes in a mask of classes, NoThreat for none.
inline int strongestIn(uint32_t classes) {
    classes &= (1u << (WeakestListed + 1)) - 1;
    return classes ? std::countr_zero(classes) : NoThreat;
}

// By class slot of a count array, the weight: nothing for the slots past
// the listed classes, which take the classes not listed and "no entry".
struct SlotWeights {
    int32_t weight[32];
};
static_assert(ClassCount <= 32);  // every class has a slot

constexpr SlotWeights buildSlotWeights() {
    SlotWeights t{};
    for (int k = 0; k <= WeakestListed; ++k) t.weight[k] = threatWeight[k];
    return t;
}

inline constexpr SlotWeights slotWeights = buildSlotWeights();

// An entry of a list: an empty cell and the side's threat class there.
struct ThreatEntry {
    int cell;
    int threatClass;
};

// One side's empty cells where it would make a threat of class 13 or better,
// ordered so that classes never increase along the arrays: the strongest
// threat is the last entry, and readers take the entries from the strongest.
//
// The entries live inside the list (an empty cell has at most one entry, so
// CellCount of them always suffice): a Board copies with one flat copy and no
// allocation. A Board hands out its lists only for reading; the operations
// below keep a list's own order and index, the Board keeps lists, listed
// bits and totals together.
class ThreatList {
public:
    class Iterator;

    ThreatList() { clear(); }
    ThreatList(const ThreatList&) = delete;
    ThreatList& operator=(const ThreatList&) = delete;

    // Read without settling.
    int size() const { return count; }
    bool empty() const { return count == 0; }
    // The class of the strongest entry, NoThreat for none.
    int strongestClass() const;
    // Whether the two strongest entries are both five points.
    bool twoFives() const;
    // Calls visit(ThreatEntry) for every entry once, in no particular order.
    template <class Visit>
    void forEachEntry(Visit visit) const;

    // The strongest entry, {-1, NoThreat} for none. Settles a deferred layout.
    ThreatEntry strongest() const;
    // The entries in reading order, the strongest first; begin() settles a
    // deferred layout. Nothing may change the list while they are read.
    Iterator begin() const;
    Iterator end() const;

    // The entries in the order of the arrays (weakest first), laid out or not,
    // without laying them out. Each out array needs room for size() + 1.
    void entriesInOrder(int32_t* outCells, int32_t* outClasses) const;
    // Whether a deferred update waits for its layout.
    bool isPending() const { return pending; }
    // The list as the entries it was last laid out with and the updates
    // since, which update() applies again to those entries to give the same
    // list.
    int laidOutCount() const { return pending ? oldCount : count; }
    ThreatEntry laidOutEntry(int i) const { return {cellOf(entries[i]), classOfEntry(entries[i])}; }
    int pendingUpdates() const { return pending ? opCount : 0; }
    CellClass pendingUpdate(int i) const {
        return {opCell[i], static_cast<int8_t>(opNew[i] < 0 ? NoThreat : opNew[i])};
    }
    // False once the list holds what only an image can hold (a cell twice,
    // an unlisted class, classes out of order, an entry on a cell without
    // its listed bit): its updates then go entry by entry and never wait for
    // a layout, so that a move on its Board can always be taken back.
    bool hasIndex() const { return indexed; }

    void insert(int cell, int threatClass);
    int removeCell(int cell);  // the removed entry's class, or -1
    // removeCell and then insert in one pass, with the same resulting order;
    // the removed entry's class, or -1 when there was none (then it inserts).
    int replace(int cell, int threatClass);
    void clear();
    void copyFrom(const ThreatList& source);
    // n entries as an image holds them.
    void assign(const int32_t* newCells, const int32_t* newClasses, int n);

    // The list update of one cell for one side: the cell's entry follows
    // its new threat class (removed above 13, removed and inserted again
    // otherwise, inserted when it had none), keeping the listed bit in `bytes`
    // (the Board's cell bytes) and the side's score total.
    void update(int cell, int threatClass, uint8_t* bytes, uint8_t listedBit, int32_t& total);
    // update for the cells of one Board operation in order, each cell once,
    // with the same result, given only the cells with something to do (listed
    // in `bytes`, or of a listed class). The entries and totals change at
    // once; the arrays are laid out again once, class by class, instead of
    // searched and shifted for every cell, and with `defer` only when settle()
    // is called: count, the totals and the listed bits are new, the arrays
    // are not yet.
    void update(const CellClass* ops, int n, uint8_t* bytes, uint8_t listedBit, int32_t& total, bool defer);
    // Drops the index when an entry sits on a cell without its listed bit.
    void checkListedBits(const uint8_t* bytes, uint8_t listedBit);
    // Lays out a deferred update; every reader of the arrays needs it first.
    void settle() const {
        if (pending) layOut();
    }
    // Takes back the update that waits for its layout: the entries and
    // counts are as before it; the caller restores totals and listed bits.
    void undoPending();

    // The list as it stands, laid out, for restore() to put back however
    // many updates and layouts came between (a search that reads the lists
    // of the positions it plays through and then takes the moves back).
    struct Saved;
    void save(Saved& saved) const;
    // The entries, their order and the index as save() found them; the
    // caller restores totals and listed bits. Needs hasIndex.
    void restore(const Saved& saved);

    // What an update would leave of the class counts and the total, worked
    // out without changing the list: all a static value and most win tests read.
    struct Tally {
        // Classes 0 to WeakestListed; only the listed ones are read.
        int16_t perClass[16];
        int32_t total;
    };
    void startTally(Tally& tally, int32_t total) const {
        static_assert(sizeof tally.perClass == sizeof perClass);
        std::memcpy(tally.perClass, perClass, sizeof perClass);
        tally.total = total;
    }
    // The cell's entry following its new class in the tally. False when the
    // cell holds an entry without its listed bit, which only the
    // entry-by-entry update reproduces; needs hasIndex.
    bool tally(Tally& tally, int cell, int threatClass, uint8_t byte, uint8_t listedBit) const {
        const int old = classOf[cell];
        if (old >= 0) {
            --tally.perClass[old];
            tally.total -= threatWeight[old];
        }
        if (threatClass <= WeakestListed) {
            ++tally.perClass[threatClass];
            tally.total += threatWeight[threatClass];
        }
        return old < 0 || (byte & listedBit) != 0;
    }

    // The class of each cell's entry, -1 for none; meaningful with hasIndex.
    const int8_t* classesByCell() const { return classOf; }
    // The number of entries of each class; meaningful with hasIndex.
    const int16_t* classCounts() const { return perClass; }

private:
    // Class counts padded to four words of four counts.
    static constexpr int ClassSlots = 16;
    static_assert(WeakestListed < ClassSlots - 1);
    // The spare slot where "no class" (-1, masked) counts during a batch.
    static constexpr int NoneSlot = ClassSlots - 1;
    int insertPosition(int threatClass, int skip) const;
    void recount();
    // Writes the entries in their order from index `from` on: those before
    // it are the arrays' (all of them when nothing waits, none changed when
    // from is -1). The out arrays need room for CellCount + 1 entries.
    void orderedEntries(uint32_t* out, int& from) const;
    void layOut() const;

    int32_t count = 0;

    // Index of the entries: the class of each listed cell (-1 for none) and
    // the number of entries per class. Kept by every operation while `indexed`;
    // a list that holds a cell twice, an unlisted class or classes out of
    // order (possible only from an image) drops it and is updated entry by entry.
    bool indexed = true;
    int16_t perClass[ClassSlots];  // the slots past WeakestListed stay 0
    int8_t classOf[CellCount];

    // A batch update not laid out yet: the arrays still hold the old entries
    // (oldCount of them, oldPerClass per class), and the operations, each
    // with the class the cell had (-1 for none) and the class it gets (-1: none).
    mutable bool pending = false;
    int16_t oldCount = 0;
    int16_t oldPerClass[ClassSlots];
    int8_t opCount = 0;
    int16_t opCell[MaxBatch];
    int8_t opOld[MaxBatch];
    int8_t opNew[MaxBatch];

    // The entries, each cell and class in one word (entryOf). One spare: a
    // layout writes each old entry before it knows whether it stays.
    mutable uint32_t entries[CellCount + 1];

    static uint32_t entryOf(int cell, int threatClass) {
        return (static_cast<uint32_t>(cell) & 0xFFFF) | static_cast<uint32_t>(threatClass) << 16;
    }
    static int cellOf(uint32_t entry) { return static_cast<int16_t>(entry & 0xFFFF); }
    static int classOfEntry(uint32_t entry) { return static_cast<int32_t>(entry) >> 16; }
};

struct ThreatList::Saved {
    int16_t count;
    int16_t perClass[ClassSlots];
    uint32_t entries[CellCount];
};

class ThreatList::Iterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ThreatEntry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ThreatEntry;

    Iterator() = default;
    ThreatEntry operator*() const {
        const uint32_t e = list->entries[index];
        return {ThreatList::cellOf(e), ThreatList::classOfEntry(e)};
    }
    Iterator& operator++() {
        --index;
        return *this;
    }
    Iterator operator++(int) {
        Iterator before = *this;
        --index;
        return before;
    }
    bool operator==(const Iterator& other) const { return index == other.index; }

private:
    friend class ThreatList;
    Iterator(const ThreatList* l, int i) : list(l), index(i) {}
    const ThreatList* list = nullptr;
    int index = -1;  // into the arrays, counting down
};

inline ThreatList::Iterator ThreatList::begin() const {
    settle();
    return {this, count - 1};
}

inline ThreatList::Iterator ThreatList::end() const { return {this, -1}; }

inline ThreatEntry ThreatList::strongest() const {
    settle();
    return count > 0 ? ThreatEntry{cellOf(entries[count - 1]), classOfEntry(entries[count - 1])}
                     : ThreatEntry{-1, NoThreat};
}

template <class Visit>
void ThreatList::forEachEntry(Visit visit) const {
    if (!pending) {
        for (int i = count - 1; i >= 0; --i) visit(ThreatEntry{cellOf(entries[i]), classOfEntry(entries[i])});
        return;
    }
    // The old entries of the updated cells are gone; their new ones follow.
    uint64_t updated[(CellCount + 63) / 64] = {};
    for (int b = 0; b < opCount; ++b) updated[opCell[b] >> 6] |= uint64_t{1} << (opCell[b] & 63);
    for (int i = 0; i < oldCount; ++i) {
        const int cell = cellOf(entries[i]);
        if (!(updated[cell >> 6] >> (cell & 63) & 1)) visit(ThreatEntry{cell, classOfEntry(entries[i])});
    }
    for (int b = 0; b < opCount; ++b)
        if (opNew[b] >= 0) visit(ThreatEntry{opCell[b], opNew[b]});
}
