#pragma once
#include <cstdint>

// One side's empty cells where it would make a threat of class 13 or better,
// ordered so that classes never increase along the arrays: the strongest
// threat is the last entry. The arrays grow by 5 entries and never shrink.
struct ThreatList {
    int32_t count = 0;
    int32_t capacity = 0;  // 0: no arrays allocated
    int32_t* cells = nullptr;
    int32_t* classes = nullptr;
    int32_t cursor = 0;  // owned by whichever reader walks the list

    ThreatList() = default;
    ThreatList(const ThreatList&) = delete;
    ThreatList& operator=(const ThreatList&) = delete;
    ~ThreatList();

    void insert(int cell, int threatClass);
    int removeCell(int cell);  // the removed entry's class, or -1
    bool current(int& cell, int& threatClass) const;
    void clear();  // frees the arrays, count and capacity 0
    // Deep copy with capacity count + 5 (0 when the source is empty).
    void copyFrom(const ThreatList& source);
    // Makes room for exactly n entries when the arrays are smaller (image reading).
    void reserveExactly(int n);
};
