#pragma once
// The two reads that the game cursor and the store share, for their .cpp
// files only: the walk along a node's children and the read that is made once
// more under a shared lock.
#include <cstdio>
#include <vector>

#include "knowledge/experience_database.h"
#include "platform/shared_file.h"

template <class Visit>
void ExperienceDatabase::walkChildren(Visit visit) {
    // Another process may have given the node its first child since it was read.
    current = readRecord(currentOffset);
    const int32_t node = currentOffset / RecordSize;
    // A long chain walked before (and not changed since) is read from its
    // list: its records are then read side by side instead of one after another.
    if (const std::vector<int32_t>* chain = cacheActive ? cache.chainOf(node) : nullptr) {
        for (const int32_t index : *chain)
            if (visit(index * RecordSize, decodeRecord(cache.record(file, index)))) return;
        return;
    }
    std::vector<int32_t> walked;
    int32_t offset = current.firstChild;
    for (int32_t steps = 0; offset != NoRecord; ++steps) {
        if (offset == currentOffset || beyondRecords(steps)) throw DatabaseError{};  // a cycle
        const NodeRecord child = readRecord(offset);
        if (child.parent != currentOffset) throw DatabaseError{};
        if (cacheActive) walked.push_back(offset / RecordSize);
        if (visit(offset, child)) return;
        offset = child.nextSibling;
    }
    if (cacheActive) cache.keepChain(node, std::move(walked));
}

// A read without the lock can meet a record while another process rewrites
// it, half old and half new; a link torn that way fails the checks. The read
// is made once more under a shared lock, which waits for the writer to end (or,
// if the writer takes too long, once more without it).
template <class Read>
auto ExperienceDatabase::readSteadily(Read read) {
    if (storeDepth > 0 || cacheActive) return read();  // the store's own lock keeps writers out
    try {
        return read();
    } catch (const DatabaseError&) {
        requireOpen();
        struct SharedLock {
            std::FILE* file;
            bool held = platform::lockFile(file, platform::LockMode::Shared, ReadRetryWaitMs);
            ~SharedLock() {
                if (held) platform::unlockFile(file);
            }
        } lock{file};
        return read();
    }
}
