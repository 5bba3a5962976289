#include "board/threat_list.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "board/line_patterns.h"

void ThreatList::growTo(int newCapacity) {
    cells = cellStore;
    classes = classStore;
    capacity = newCapacity;
}

// Where an entry of the class goes among the entries other than index skip
// (-1: none skipped), as an index into the list without that entry: on top of
// the entries of class >= k, except at index 0 when k equals or passes the
// weakest class and is weaker than the strongest.
int ThreatList::insertPosition(int threatClass, int skip) const {
    const int n = skip < 0 ? count : count - 1;
    auto at = [&](int i) { return classes[skip >= 0 && i >= skip ? i + 1 : i]; };
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

bool isListedClass(int threatClass) { return threatClass >= 0 && threatClass < ListedClassCount; }

}  // namespace

void ThreatList::insert(int cell, int threatClass) {
    // More entries than cells cannot arise from a Board; refuse them as a heap
    // array would refuse to grow.
    if (count == CellCount) throw std::bad_alloc();
    if (count == capacity) growTo(count + 5);
    const int position = insertPosition(threatClass, -1);
    std::copy_backward(cells + position, cells + count, cells + count + 1);
    std::copy_backward(classes + position, classes + count, classes + count + 1);
    cells[position] = cell;
    classes[position] = threatClass;
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
    if (indexed && classOf[cell] == -1) return -1;
    for (int i = count - 1; i >= 0; --i) {
        if (cells[i] != cell) continue;
        const int threatClass = classes[i];
        std::copy(cells + i + 1, cells + count, cells + i);
        std::copy(classes + i + 1, classes + count, classes + i);
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
    int i = -1;
    if (!indexed || classOf[cell] != -1) {
        i = count - 1;
        while (i >= 0 && cells[i] != cell) --i;
    }
    if (i < 0) {
        insert(cell, threatClass);
        return -1;
    }
    const int old = classes[i];
    const int position = insertPosition(threatClass, i);
    // Only the entries between the old and the new place move, by one.
    if (position >= i) {
        std::copy(cells + i + 1, cells + position + 1, cells + i);
        std::copy(classes + i + 1, classes + position + 1, classes + i);
    } else {
        std::copy_backward(cells + position, cells + i, cells + i + 1);
        std::copy_backward(classes + position, classes + i, classes + i + 1);
    }
    cells[position] = cell;
    classes[position] = threatClass;
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

bool ThreatList::current(int& cell, int& threatClass) const {
    if (cursor < 0 || cursor >= count) return false;
    cell = cells[cursor];
    threatClass = classes[cursor];
    return true;
}

void ThreatList::clear() {
    cells = nullptr;
    classes = nullptr;
    count = 0;
    capacity = 0;
    indexed = true;
    std::fill(std::begin(perClass), std::end(perClass), 0);
    std::fill(std::begin(classOf), std::end(classOf), -1);
}

void ThreatList::copyFrom(const ThreatList& source) {
    if (source.count == 0) {
        clear();
        return;
    }
    growTo(source.count + 5);
    std::copy_n(source.cells, source.count, cells);
    std::copy_n(source.classes, source.count, classes);
    count = source.count;
    indexed = source.indexed;
    std::memcpy(perClass, source.perClass, sizeof perClass);
    std::memcpy(classOf, source.classOf, sizeof classOf);
}

void ThreatList::assign(const int32_t* newCells, const int32_t* newClasses, int n) {
    if (n == 0) {
        clear();
        return;
    }
    if (capacity < n) growTo(n);
    std::copy_n(newCells, n, cells);
    std::copy_n(newClasses, n, classes);
    count = n;
    recount();
}

void ThreatList::recount() {
    std::fill(std::begin(perClass), std::end(perClass), 0);
    std::fill(std::begin(classOf), std::end(classOf), -1);
    indexed = true;
    for (int j = 0; j < count; ++j) {
        const int k = classes[j];
        if (!isListedClass(k) || (j > 0 && k > classes[j - 1]) || cells[j] < 0 || cells[j] >= CellCount ||
            classOf[cells[j]] != -1) {
            indexed = false;
            return;
        }
        classOf[cells[j]] = static_cast<int8_t>(k);
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

void ThreatList::update(const CellClass* updates, int n, uint8_t* bytes, uint8_t listedBit, int32_t& total) {
    if (indexed && updateInOnePass(updates, n, bytes, listedBit, total)) return;
    for (int i = 0; i < n; ++i) update(updates[i].cell, updates[i].threatClass, bytes, listedBit, total);
}

namespace {

// Scratch of the one-pass update; one runs at a time, inside one Board operation.
struct OnePass {
    int16_t cell[CellCount];
    int8_t threatClass[CellCount];  // above 13: the entry only goes
    int8_t oldClass[CellCount];     // -1: the cell had no entry
    bool listed[CellCount];
    int16_t next[CellCount];        // chains of the entries placed in one class
    bool skip[CellCount] = {};      // by cell: its old entry leaves its place
    int32_t oldCells[CellCount];
    int32_t oldClasses[CellCount];
};
OnePass pass;

}  // namespace

// False, with nothing changed, when a cell has an entry but no listed bit:
// evaluating it in turn would list it twice, which only the entry-by-entry
// update reproduces.
bool ThreatList::updateInOnePass(const CellClass* updates, int n, uint8_t* bytes, uint8_t listedBit,
                                 int32_t& total) {
    int ops = 0;
    for (int i = 0; i < n; ++i) {
        const int cell = updates[i].cell, k = updates[i].threatClass;
        const bool listed = bytes[cell] & listedBit;
        if (!listed && k > WeakestListed) continue;  // nothing to do for this side
        if (!listed && classOf[cell] != -1) return false;
        pass.cell[ops] = static_cast<int16_t>(cell);
        pass.threatClass[ops] = static_cast<int8_t>(k);
        pass.oldClass[ops] = classOf[cell];
        pass.listed[ops] = listed;
        ++ops;
    }
    if (ops == 0) return true;

    // Replay the operations on the class counts alone: an insert goes on top
    // of its class, except that a class equal to the weakest present (and
    // weaker than the strongest) goes to index 0, below its class.
    int16_t oldPerClass[ListedClassCount];
    std::memcpy(oldPerClass, perClass, sizeof perClass);
    uint32_t present = 0;
    for (int k = 0; k < ListedClassCount; ++k)
        if (perClass[k]) present |= 1u << k;
    int16_t topFirst[ListedClassCount], topLast[ListedClassCount], bottomFirst[ListedClassCount];
    bool changed[ListedClassCount] = {};
    std::fill(std::begin(topFirst), std::end(topFirst), -1);
    std::fill(std::begin(topLast), std::end(topLast), -1);
    std::fill(std::begin(bottomFirst), std::end(bottomFirst), -1);
    int newCount = count, newCapacity = capacity;
    auto take = [&](int cell, int k) {
        if (--perClass[k] == 0) present &= ~(1u << k);
        --newCount;
        changed[k] = true;
        pass.skip[cell] = true;
        classOf[cell] = -1;
    };
    auto place = [&](int b, int k) {
        if (newCount == newCapacity) newCapacity = newCount + 5;
        const int strongest = std::countr_zero(present), weakest = std::bit_width(present) - 1;
        if (newCount > 0 && k > strongest && k == weakest) {
            pass.next[b] = bottomFirst[k];
            bottomFirst[k] = static_cast<int16_t>(b);
        } else {
            pass.next[b] = -1;
            if (topLast[k] < 0) topFirst[k] = static_cast<int16_t>(b); else pass.next[topLast[k]] = static_cast<int16_t>(b);
            topLast[k] = static_cast<int16_t>(b);
        }
        ++perClass[k];
        present |= 1u << k;
        ++newCount;
        changed[k] = true;
        classOf[pass.cell[b]] = static_cast<int8_t>(k);
    };
    for (int b = 0; b < ops; ++b) {
        const int cell = pass.cell[b], k = pass.threatClass[b], old = pass.oldClass[b];
        if (!pass.listed[b]) {
            place(b, k);
            total += threatWeight[k];
            bytes[cell] |= listedBit;
            continue;
        }
        if (old != -1) take(cell, old);
        if (k > WeakestListed) {
            bytes[cell] &= static_cast<uint8_t>(~listedBit);
            if (old != -1) total -= threatWeight[old];
            continue;
        }
        place(b, k);
        if (old != k) total += threatWeight[k] - (old == -1 ? 0 : threatWeight[old]);
    }

    // Lay the list out again from the first changed class on, weakest class
    // first: in each class the entries placed at its bottom (the latest
    // lowest), the old entries that stay in their old order, then the entries
    // placed on top in the order they came.
    int k = WeakestListed, j = 0;
    for (; k >= 0 && !changed[k]; --k) j += oldPerClass[k];
    const int oldCount = count;
    std::copy(cells + j, cells + oldCount, pass.oldCells + j);
    std::copy(classes + j, classes + oldCount, pass.oldClasses + j);
    if (newCapacity > 0) growTo(newCapacity);
    int out = j;
    auto emit = [&](int cell, int threatClass) {
        cells[out] = cell;
        classes[out] = threatClass;
        ++out;
    };
    for (; k >= 0; --k) {
        const int end = j + oldPerClass[k];
        if (!changed[k]) {
            std::copy(pass.oldCells + j, pass.oldCells + end, cells + out);
            std::copy(pass.oldClasses + j, pass.oldClasses + end, classes + out);
            out += end - j;
            j = end;
            continue;
        }
        for (int b = bottomFirst[k]; b >= 0; b = pass.next[b]) emit(pass.cell[b], k);
        for (; j < end; ++j) {
            if (pass.skip[pass.oldCells[j]])
                pass.skip[pass.oldCells[j]] = false;
            else
                emit(pass.oldCells[j], k);
        }
        for (int b = topFirst[k]; b >= 0; b = pass.next[b]) emit(pass.cell[b], k);
    }
    count = out;
    return true;
}
