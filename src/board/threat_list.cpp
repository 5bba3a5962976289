#include "board/threat_list.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "board/line_patterns.h"

// Where an entry of the class goes among the entries other than index skip
// (-1: none skipped), as an index into the list without that entry: on top of
// the entries of class >= k, except at index 0 when k equals or passes the
// weakest class and is weaker than the strongest.
int ThreatList::insertPosition(int threatClass, int skip) const {
    const int n = skip < 0 ? count : count - 1;
    auto at = [&](int i) { return classOfEntry(entries[skip >= 0 && i >= skip ? i + 1 : i]); };
    if (n == 0 || threatClass <= at(n - 1)) return n;
    if (threatClass >= at(0)) return 0;
    // at(lo) >= threatClass > at(hi); find the first index below threatClass.
    int lo = 0, hi = n - 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (at(mid) >= threatClass) lo = mid; else hi = mid;
    }
    return hi;
}

namespace {

bool isListedClass(int threatClass) { return threatClass >= 0 && threatClass <= WeakestListed; }

constexpr const int32_t* slotWeight = slotWeights.weight;

}  // namespace

void ThreatList::insert(int cell, int threatClass) {
    settle();
    // More entries than cells cannot arise from a Board, only from a caller's
    // own list; they are refused rather than written past the arrays.
    if (count == CellCount) throw std::bad_alloc();
    const int position = insertPosition(threatClass, -1);
    std::copy_backward(entries + position, entries + count, entries + count + 1);
    entries[position] = entryOf(cell, threatClass);
    ++count;
    if (!indexed) return;
    if (!isListedClass(threatClass) || classOf[cell] != -1) {
        indexed = false;
        return;
    }
    classOf[cell] = static_cast<int8_t>(threatClass);
    ++perClass[threatClass];
}

int ThreatList::removeCell(int cell) {
    settle();
    if (indexed && classOf[cell] == -1) return -1;
    for (int i = count - 1; i >= 0; --i) {
        if (cellOf(entries[i]) != cell) continue;
        const int threatClass = classOfEntry(entries[i]);
        std::copy(entries + i + 1, entries + count, entries + i);
        --count;
        if (indexed) {
            classOf[cell] = -1;
            --perClass[threatClass];
        }
        return threatClass;
    }
    return -1;
}

int ThreatList::replace(int cell, int threatClass) {
    settle();
    int i = -1;
    if (!indexed || classOf[cell] != -1) {
        i = count - 1;
        while (i >= 0 && cellOf(entries[i]) != cell) --i;
    }
    if (i < 0) {
        insert(cell, threatClass);
        return -1;
    }
    const int old = classOfEntry(entries[i]);
    const int position = insertPosition(threatClass, i);
    // Only the entries between the old and the new place move, by one.
    if (position >= i)
        std::copy(entries + i + 1, entries + position + 1, entries + i);
    else
        std::copy_backward(entries + position, entries + i, entries + i + 1);
    entries[position] = entryOf(cell, threatClass);
    if (indexed) {
        if (!isListedClass(threatClass)) {
            indexed = false;
        } else {
            --perClass[old];
            ++perClass[threatClass];
            classOf[cell] = static_cast<int8_t>(threatClass);
        }
    }
    return old;
}

void ThreatList::clear() {
    pending = false;
    count = 0;
    indexed = true;
    std::fill(std::begin(perClass), std::end(perClass), 0);
    std::fill(std::begin(classOf), std::end(classOf), -1);
}

void ThreatList::copyFrom(const ThreatList& source) {
    source.settle();
    pending = false;
    std::copy_n(source.entries, source.count, entries);
    count = source.count;
    indexed = source.indexed;
    std::memcpy(perClass, source.perClass, sizeof perClass);
    std::memcpy(classOf, source.classOf, sizeof classOf);
}

void ThreatList::assign(const int32_t* newCells, const int32_t* newClasses, int n) {
    pending = false;
    for (int i = 0; i < n; ++i) entries[i] = entryOf(newCells[i], newClasses[i]);
    count = n;
    recount();
}

void ThreatList::recount() {
    std::fill(std::begin(perClass), std::end(perClass), 0);
    std::fill(std::begin(classOf), std::end(classOf), -1);
    indexed = true;
    for (int j = 0; j < count; ++j) {
        const int k = classOfEntry(entries[j]), cell = cellOf(entries[j]);
        if (!isListedClass(k) || (j > 0 && k > classOfEntry(entries[j - 1])) || cell < 0 || cell >= CellCount ||
            classOf[cell] != -1) {
            indexed = false;
            return;
        }
        classOf[cell] = static_cast<int8_t>(k);
        ++perClass[k];
    }
}

void ThreatList::update(int cell, int threatClass, uint8_t* bytes, uint8_t listedBit, int32_t& total) {
    uint8_t& byte = bytes[cell];
    if (threatClass > WeakestListed) {
        if (byte & listedBit) {
            const int old = removeCell(cell);
            byte &= static_cast<uint8_t>(~listedBit);
            if (old != -1) total -= threatWeight[old];
        }
        return;
    }
    if (byte & listedBit) {
        const int old = replace(cell, threatClass);
        if (old != threatClass) total += threatWeight[threatClass] - (old == -1 ? 0 : threatWeight[old]);
    } else {
        insert(cell, threatClass);
        total += threatWeight[threatClass];
        byte |= listedBit;
    }
}

void ThreatList::update(const CellClass* ops, int n, uint8_t* bytes, uint8_t listedBit, int32_t& total, bool defer) {
    settle();
    if (n == 0) return;
    if (!indexed || n > MaxBatch) {
        for (int i = 0; i < n; ++i) update(ops[i].cell, ops[i].threatClass, bytes, listedBit, total);
        return;
    }
    // Entries, counts, totals and listed bits change now; the order of the
    // arrays is worked out by layOut from the operations.
    const int32_t oldTotal = total;
    oldCount = static_cast<int16_t>(count);
    std::memcpy(oldPerClass, perClass, sizeof perClass);
    opCount = static_cast<int8_t>(n);
    // An unlisted cell with an entry all the same would be listed twice,
    // which only the entry-by-entry update reproduces: never so on a Board,
    // so it is noted without a branch per cell, and the batch is undone.
    bool unlisted = false;
    uint8_t oldBytes[MaxBatch];
    // In locals: a store to a cell byte could change any member as far as
    // the compiler knows.
    int newCount = count;
    int32_t newTotal = total;
    // "No class" (-1) counts in NoneSlot meanwhile.
    for (int i = 0; i < n; ++i) {
        const int cell = ops[i].cell, k = ops[i].threatClass;
        const int old = classOf[cell];
        const uint8_t byte = bytes[cell];
        unlisted |= !(byte & listedBit) & (old != -1);
        oldBytes[i] = byte;
        const bool listable = k <= WeakestListed;
        const int newSlot = listable ? k : NoneSlot;
        --perClass[old & NoneSlot];
        ++perClass[newSlot];
        newCount += static_cast<int>(listable) - static_cast<int>(old >= 0);
        newTotal += slotWeight[newSlot] - slotWeight[old & NoneSlot];
        bytes[cell] = static_cast<uint8_t>((byte & ~listedBit) | (listable ? listedBit : 0));
        classOf[cell] = static_cast<int8_t>(listable ? k : -1);
        opCell[i] = static_cast<int16_t>(cell);
        opOld[i] = static_cast<int8_t>(old);
        opNew[i] = static_cast<int8_t>(listable ? k : -1);
    }
    perClass[NoneSlot] = 0;
    count = newCount;
    total = newTotal;
    if (unlisted) {
        for (int i = n - 1; i >= 0; --i) {
            bytes[opCell[i]] = oldBytes[i];
            classOf[opCell[i]] = opOld[i];
        }
        count = oldCount;
        std::memcpy(perClass, oldPerClass, sizeof perClass);
        total = oldTotal;
        for (int i = 0; i < n; ++i) update(ops[i].cell, ops[i].threatClass, bytes, listedBit, total);
        return;
    }
    pending = true;
    if (!defer) settle();
}

void ThreatList::checkListedBits(const uint8_t* bytes, uint8_t listedBit) {
    for (int i = 0; i < count && indexed; ++i)
        if (!(bytes[cellOf(entries[i])] & listedBit)) indexed = false;
}

void ThreatList::undoPending() {
    for (int b = opCount - 1; b >= 0; --b) classOf[opCell[b]] = opOld[b];
    count = oldCount;
    std::memcpy(perClass, oldPerClass, sizeof perClass);
    pending = false;
}

void ThreatList::save(Saved& saved) const {
    settle();
    saved.count = static_cast<int16_t>(count);
    std::memcpy(saved.perClass, perClass, sizeof perClass);
    std::copy_n(entries, count, saved.entries);
}

void ThreatList::restore(const Saved& saved) {
    if (pending) undoPending();
    for (int i = 0; i < count; ++i) classOf[cellOf(entries[i])] = -1;
    count = saved.count;
    std::memcpy(perClass, saved.perClass, sizeof perClass);
    std::copy_n(saved.entries, count, entries);
    for (int i = 0; i < count; ++i) classOf[cellOf(entries[i])] = static_cast<int8_t>(classOfEntry(entries[i]));
}

int ThreatList::strongestClass() const {
    if (count == 0) return NoThreat;
    if (!pending) return classOfEntry(entries[count - 1]);
    return strongestIn(nonZeroCounts(perClass));
}

bool ThreatList::twoFives() const {
    if (count < 2) return false;
    return pending ? perClass[0] >= 2 : classOfEntry(entries[count - 1]) == 0 && classOfEntry(entries[count - 2]) == 0;
}

namespace {

// Scratch of a layout; one runs at a time.
struct LayoutScratch {
    bool leaving[CellCount] = {};  // by cell: its old entry goes
    int8_t next[MaxBatch];  // chains of the entries placed in one class
    uint32_t entries[CellCount + 1];
};
LayoutScratch scratch;

}  // namespace

// Replays the operations on the class counts to find where each placed entry
// goes: on top of its class, except that a class equal to the weakest present
// (and weaker than the strongest) goes to index 0, below its class. The new
// list holds each class in one run, weakest first: the entries placed at its
// bottom (the latest lowest), the old entries that stay in their old order,
// then the entries placed on top in the order they came. Every entry is
// written straight to its place; an old entry that goes is written too, at
// the place the next entry of its class (or a later write) takes.
void ThreatList::orderedEntries(uint32_t* outEntries, int& from) const {
    if (!pending) {
        from = count;
        return;
    }
    from = 0;
    int16_t perClassNow[ClassSlots];
    std::memcpy(perClassNow, oldPerClass, sizeof perClassNow);
    static_assert(ClassSlots == 16);
    uint32_t present = nonZeroCounts(perClassNow);  // bit k: class k has entries
    uint64_t bottom = 0;
    int bottomCount[ClassSlots] = {}, topCount[ClassSlots] = {}, leavers[ClassSlots] = {};
    // Without a branch per operation: "none" (-1) counts in NoneSlot, which
    // is never present.
    constexpr uint32_t Listed = (1u << (WeakestListed + 1)) - 1;
    for (int b = 0; b < opCount; ++b) {
        const int old = opOld[b] & NoneSlot, k = opNew[b] & NoneSlot;
        const bool emptied = --perClassNow[old] == 0;
        present &= ~(static_cast<uint32_t>(emptied) << old & Listed);
        scratch.leaving[opCell[b]] = opOld[b] >= 0;
        ++leavers[old];
        // The weakest class present, with a stronger one present too.
        const bool atBottom = ((present >> k) == 1) & ((present & ((1u << k) - 1)) != 0);
        bottom |= static_cast<uint64_t>(atBottom) << b;
        bottomCount[k] += atBottom;
        topCount[k] += !atBottom;
        ++perClassNow[k];
        present |= 1u << k & Listed;
    }

    // By class: its next top place, the place above its bottom ones, and
    // what turns an old entry's index into its place, less the entries that
    // went before it: the class's first old place, less its first old index,
    // plus the entries that went from the classes before it.
    int topNext[WeakestListed + 1], bottomEnd[WeakestListed + 1], shift[WeakestListed + 1];
    int start = 0, oldStart = 0, goneBefore = 0;
    for (int k = WeakestListed; k >= 0; --k) {
        bottomEnd[k] = start + bottomCount[k];
        shift[k] = bottomEnd[k] - oldStart + goneBefore;
        start += perClassNow[k];
        topNext[k] = start - topCount[k];
        oldStart += oldPerClass[k];
        goneBefore += leavers[k];
    }
    // The only value carried from one entry to the next is the count of
    // those that went, in a register.
    int gone = 0;
    for (int j = 0; j < oldCount; ++j) {
        const uint32_t entry = entries[j];
        outEntries[shift[classOfEntry(entry)] + j - gone] = entry;
        gone += scratch.leaving[cellOf(entry)];
    }
    for (int b = 0; b < opCount; ++b) scratch.leaving[opCell[b]] = false;
    // A placed entry takes the next top place or the place below the bottom
    // ones; an operation that places none writes to the spare entry.
    int next[2][ClassSlots];
    for (int k = 0; k <= WeakestListed; ++k) {
        next[0][k] = topNext[k];
        next[1][k] = bottomEnd[k];
    }
    for (int k = WeakestListed + 1; k < ClassSlots; ++k) next[0][k] = next[1][k] = CellCount;
    for (int b = 0; b < opCount; ++b) {
        const int k = opNew[b] & NoneSlot;
        const int low = bottom >> b & 1;
        const int at = next[low][k] - low;
        next[low][k] += (opNew[b] >= 0) * (1 - 2 * low);
        outEntries[at] = entryOf(opCell[b], opNew[b]);
    }
}

void ThreatList::entriesInOrder(int32_t* outCells, int32_t* outClasses) const {
    int from;
    orderedEntries(scratch.entries, from);
    if (from < 0) from = count;
    for (int i = 0; i < count; ++i) {
        const uint32_t e = i < from ? entries[i] : scratch.entries[i];
        outCells[i] = cellOf(e);
        outClasses[i] = classOfEntry(e);
    }
}

// Laying out changes what readers see of the list no more than the update did.
void ThreatList::layOut() const {
    int from;
    orderedEntries(scratch.entries, from);
    pending = false;
    if (from < 0) return;  // nothing moved
    std::copy(scratch.entries + from, scratch.entries + count, entries + from);
}
