#include "board/threat_list.h"

#include <algorithm>
#include <memory>

ThreatList::~ThreatList() { clear(); }

namespace {

// Both arrays are allocated before either is installed, so a failed
// allocation leaves the list as it was.
void replaceArrays(ThreatList& list, int newCapacity, int keep) {
    auto newCells = std::make_unique<int32_t[]>(newCapacity);
    auto newClasses = std::make_unique<int32_t[]>(newCapacity);
    std::copy_n(list.cells, keep, newCells.get());
    std::copy_n(list.classes, keep, newClasses.get());
    delete[] list.cells;
    delete[] list.classes;
    list.cells = newCells.release();
    list.classes = newClasses.release();
    list.capacity = newCapacity;
}

}  // namespace

void ThreatList::insert(int cell, int threatClass) {
    if (count == capacity) replaceArrays(*this, count + 5, count);
    int position;
    if (count == 0 || threatClass <= classes[count - 1]) {
        position = count;
    } else if (threatClass >= classes[0]) {
        position = 0;
    } else {
        // classes[lo] >= threatClass > classes[hi]; find the first index below threatClass.
        int lo = 0, hi = count - 1;
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            if (classes[mid] >= threatClass) lo = mid; else hi = mid;
        }
        position = hi;
    }
    std::copy_backward(cells + position, cells + count, cells + count + 1);
    std::copy_backward(classes + position, classes + count, classes + count + 1);
    cells[position] = cell;
    classes[position] = threatClass;
    ++count;
}

int ThreatList::removeCell(int cell) {
    for (int i = count - 1; i >= 0; --i) {
        if (cells[i] != cell) continue;
        const int threatClass = classes[i];
        std::copy(cells + i + 1, cells + count, cells + i);
        std::copy(classes + i + 1, classes + count, classes + i);
        --count;
        return threatClass;
    }
    return -1;
}

bool ThreatList::current(int& cell, int& threatClass) const {
    if (cursor < 0 || cursor >= count) return false;
    cell = cells[cursor];
    threatClass = classes[cursor];
    return true;
}

void ThreatList::clear() {
    if (capacity != 0) {
        delete[] cells;
        delete[] classes;
    }
    cells = nullptr;
    classes = nullptr;
    count = 0;
    capacity = 0;
}

void ThreatList::copyFrom(const ThreatList& source) {
    clear();
    if (source.count == 0) return;
    auto newCells = std::make_unique<int32_t[]>(source.count + 5);
    auto newClasses = std::make_unique<int32_t[]>(source.count + 5);
    std::copy_n(source.cells, source.count, newCells.get());
    std::copy_n(source.classes, source.count, newClasses.get());
    cells = newCells.release();
    classes = newClasses.release();
    capacity = source.count + 5;
    count = source.count;
}

void ThreatList::reserveExactly(int n) {
    if (capacity < n) replaceArrays(*this, n, count);
}
