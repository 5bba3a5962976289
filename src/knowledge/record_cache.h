#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "knowledge/node_record.h"

// The experience file's records as one process knows them: pages read from
// the file when first used, and the changes of the store that runs, kept in
// memory until they are written together. Only a holder of the file's store
// lock (or a reader that checked the file since) may trust it; the database
// decides when to forget it.
class RecordCache {
public:
    using Bytes = std::array<uint8_t, RecordSize>;

    void clear();
    // The records the file holds; clears the cache when that is not what it knew.
    void setFileRecords(int32_t count);
    int32_t fileRecords() const { return written; }
    int32_t records() const { return total; }  // with the appended ones not yet written
    bool hasChanges() const { return total > written || !changed.empty(); }
    size_t bytesHeld() const { return loadedPages * sizeof(Page); }

    // The bytes of a record, read with its page from the file when missing.
    // Raises DatabaseError when the file cannot be read.
    const uint8_t* record(std::FILE* file, int32_t index);
    // Reads every record of the file that is not here yet, in large blocks.
    void loadAll(std::FILE* file);
    // Once an eighth of the file's pages are here, the rest comes in large
    // blocks: a long run of stores (an import) touches most of them.
    void readAheadWhenBusy(bool on) { readAhead = on; }
    void change(std::FILE* file, int32_t index, const uint8_t bytes[RecordSize]);
    int32_t append(std::FILE* file, const uint8_t bytes[RecordSize]);

    // Writes the changes so that a reader, or a process killed at any moment,
    // only ever meets records that are whole or unlinked: the appended records
    // first with their links among themselves left out, then with them, then
    // the changed records in the order of the file, a page at a time. Raises
    // DatabaseError; an append that stops short is cut off the file again.
    // Only while the cache holds the file as it is (under the store lock).
    void writeChanges(std::FILE* file);

    // The children of a node with a long chain, in chain order, as the last
    // walk of the whole chain found them; forgotten when a link of the node
    // or of one of its children changes. Null when there is none.
    const std::vector<int32_t>* chainOf(int32_t node) const;
    void keepChain(int32_t node, std::vector<int32_t>&& children);

    // Undoing the changes since a mark, for a store that is given up in memory.
    struct Mark {
        int32_t records;
        size_t changedCount;
    };
    Mark mark();
    void rollBack(const Mark& to);
    void keepChanges();

private:
    static constexpr int32_t PageRecords = 256;  // 12 KiB, three memory pages
    struct Page {
        uint8_t bytes[PageRecords * RecordSize];
        uint64_t changedBits[PageRecords / 64] = {};
    };
    struct Undo {
        int32_t index;
        Bytes bytes;
    };

    std::vector<std::unique_ptr<Page>> pages;
    size_t loadedPages = 0;
    bool readAhead = false;
    int32_t written = 0;  // records in the file
    int32_t total = 0;
    std::vector<int32_t> changed;  // written records changed since, once each
    std::vector<Undo> undo;
    bool keepingUndo = false;
    std::unordered_map<int32_t, std::vector<int32_t>> chains;

    Page& page(std::FILE* file, int32_t index);
    uint8_t* at(std::FILE* file, int32_t index) { return page(file, index).bytes + (index % PageRecords) * RecordSize; }
    void writeAppended(std::FILE* file);
    void forgetChains(const uint8_t* before, const uint8_t* after, int32_t index);
};
