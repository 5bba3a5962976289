#include "knowledge/record_cache.h"

#include <algorithm>
#include <cstring>

#include "knowledge/database_error.h"
#include "platform/shared_file.h"

namespace {

constexpr int NextSiblingAt = 4;
constexpr int FirstChildAt = 8;
constexpr int ParentAt = 12;
constexpr size_t LongChain = 8;  // children from which a chain is kept as a list
constexpr size_t LoadChunk = size_t(1) << 20;  // bytes read at a time by loadAll

int32_t linkAt(const uint8_t* record, int at) {
    return int32_t(uint32_t(record[at]) | uint32_t(record[at + 1]) << 8 | uint32_t(record[at + 2]) << 16 |
                   uint32_t(record[at + 3]) << 24);
}

void clearLink(uint8_t* record, int at) { std::memset(record + at, 0xff, 4); }

}  // namespace

void RecordCache::clear() {
    pages.clear();
    chains.clear();
    loadedPages = 0;
    written = total = 0;
    changed.clear();
    undo.clear();
    keepingUndo = false;
}

void RecordCache::setFileRecords(int32_t count) {
    if (count != written || total != written || !changed.empty()) clear();
    written = total = count;
}

RecordCache::Page& RecordCache::page(std::FILE* file, int32_t index) {
    const size_t number = size_t(index / PageRecords);
    if (number >= pages.size()) pages.resize(number + 1);
    if (!pages[number]) {
        const size_t filePages = size_t(written + PageRecords - 1) / PageRecords;
        if (readAhead && number < filePages && (loadedPages + 1) * 8 > filePages) loadAll(file);
    }
    if (!pages[number]) {
        auto fresh = std::make_unique_for_overwrite<Page>();
        const int32_t first = int32_t(number) * PageRecords;
        const int32_t count = std::clamp(written - first, 0, PageRecords);
        if (count > 0 && !platform::readAt(file, int64_t(first) * RecordSize, fresh->bytes, size_t(count) * RecordSize))
            throw DatabaseError{};
        pages[number] = std::move(fresh);
        ++loadedPages;
    }
    return *pages[number];
}

const uint8_t* RecordCache::record(std::FILE* file, int32_t index) {
    if (index < 0 || index >= total) throw DatabaseError{};
    return at(file, index);
}

void RecordCache::loadAll(std::FILE* file) {
    std::vector<uint8_t> chunk(LoadChunk - LoadChunk % (PageRecords * RecordSize));
    const int32_t chunkRecords = int32_t(chunk.size() / RecordSize);
    const size_t filePages = size_t(written + PageRecords - 1) / PageRecords;
    if (pages.size() < filePages) pages.resize(filePages);
    for (int32_t first = 0; first < written; first += chunkRecords) {
        const int32_t count = std::min(chunkRecords, written - first);
        const size_t firstPage = size_t(first / PageRecords);
        const size_t chunkPages = size_t(count + PageRecords - 1) / PageRecords;
        bool missing = false;
        for (size_t p = firstPage; p < firstPage + chunkPages; ++p) missing = missing || !pages[p];
        if (!missing) continue;
        if (!platform::readAt(file, int64_t(first) * RecordSize, chunk.data(), size_t(count) * RecordSize))
            throw DatabaseError{};
        for (size_t p = firstPage; p < firstPage + chunkPages; ++p) {
            if (pages[p]) continue;  // it may hold changes
            pages[p] = std::make_unique_for_overwrite<Page>();
            ++loadedPages;
            const int32_t done = int32_t(p - firstPage) * PageRecords;
            const int32_t inPage = std::min(PageRecords, count - done);
            std::memcpy(pages[p]->bytes, chunk.data() + size_t(done) * RecordSize, size_t(inPage) * RecordSize);
        }
    }
}

void RecordCache::change(std::FILE* file, int32_t index, const uint8_t bytes[RecordSize]) {
    if (index < 0 || index >= total) throw DatabaseError{};
    Page& p = page(file, index);
    uint8_t* to = p.bytes + (index % PageRecords) * RecordSize;
    if (std::memcmp(to, bytes, RecordSize) == 0) return;  // a store that changes nothing writes nothing
    if (keepingUndo) {
        Undo entry{index, {}};
        std::memcpy(entry.bytes.data(), to, RecordSize);
        undo.push_back(entry);
    }
    forgetChains(to, bytes, index);
    std::memcpy(to, bytes, RecordSize);
    if (index >= written) return;
    uint64_t& bits = p.changedBits[(index % PageRecords) / 64];
    const uint64_t bit = uint64_t{1} << (index % 64);
    if (bits & bit) return;
    bits |= bit;
    changed.push_back(index);
}

int32_t RecordCache::append(std::FILE* file, const uint8_t bytes[RecordSize]) {
    const int32_t index = total;
    uint8_t* to = at(file, index);
    std::memcpy(to, bytes, RecordSize);
    ++total;
    return index;
}

const std::vector<int32_t>* RecordCache::chainOf(int32_t node) const {
    const auto found = chains.find(node);
    return found == chains.end() ? nullptr : &found->second;
}

void RecordCache::keepChain(int32_t node, std::vector<int32_t>&& children) {
    if (children.size() >= LongChain) chains[node] = std::move(children);
}

// A node's chain changes only through its firstChild or a child's nextSibling.
void RecordCache::forgetChains(const uint8_t* before, const uint8_t* after, int32_t index) {
    if (chains.empty()) return;
    if (linkAt(before, FirstChildAt) != linkAt(after, FirstChildAt)) chains.erase(index);
    if (linkAt(before, NextSiblingAt) != linkAt(after, NextSiblingAt)) {
        const int32_t parent = linkAt(after, ParentAt);
        if (parent >= 0) chains.erase(parent / RecordSize);
        const int32_t oldParent = linkAt(before, ParentAt);
        if (oldParent >= 0) chains.erase(oldParent / RecordSize);
    }
}

RecordCache::Mark RecordCache::mark() {
    undo.clear();
    keepingUndo = true;
    return {total, changed.size()};
}

void RecordCache::keepChanges() {
    undo.clear();
    keepingUndo = false;
}

void RecordCache::rollBack(const Mark& to) {
    for (auto entry = undo.rbegin(); entry != undo.rend(); ++entry) {
        uint8_t* to = pages[size_t(entry->index / PageRecords)]->bytes + (entry->index % PageRecords) * RecordSize;
        forgetChains(to, entry->bytes.data(), entry->index);
        std::memcpy(to, entry->bytes.data(), RecordSize);
    }
    for (size_t i = to.changedCount; i < changed.size(); ++i) {
        const int32_t index = changed[i];
        pages[size_t(index / PageRecords)]->changedBits[(index % PageRecords) / 64] &= ~(uint64_t{1} << (index % 64));
    }
    changed.resize(to.changedCount);
    total = to.records;
    keepChanges();
}

void RecordCache::writeAppended(std::FILE* file) {
    const int32_t count = total - written;
    std::vector<uint8_t> block(size_t(count) * RecordSize);
    for (int32_t i = 0; i < count; ++i)
        std::memcpy(block.data() + size_t(i) * RecordSize, at(file, written + i), RecordSize);
    // A new record's child and next sibling are always newer still.
    std::vector<uint8_t> unlinked = block;
    bool linked = false;
    const int64_t firstNew = int64_t(written) * RecordSize;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* record = unlinked.data() + size_t(i) * RecordSize;
        for (const int link : {NextSiblingAt, FirstChildAt}) {
            if (linkAt(record, link) >= firstNew) {
                clearLink(record, link);
                linked = true;
            }
        }
    }
    if (!platform::writeAt(file, firstNew, unlinked.data(), unlinked.size())) {
        // A write that stopped short (a full disk, a file-size limit) is cut
        // away at once; if that fails too, the next store cuts it.
        platform::truncateFile(file, firstNew);
        throw DatabaseError{};
    }
    if (linked && !platform::writeAt(file, firstNew, block.data(), block.size())) throw DatabaseError{};
}

void RecordCache::writeChanges(std::FILE* file) {
    keepChanges();
    if (total > written) writeAppended(file);
    std::sort(changed.begin(), changed.end());
    for (size_t i = 0; i < changed.size();) {
        // The changed records of one page go out in one write, with the
        // records between them: the page holds those as the file does.
        const int32_t first = changed[i];
        size_t end = i + 1;
        while (end < changed.size() && changed[end] / PageRecords == first / PageRecords) ++end;
        const int32_t count = changed[end - 1] - first + 1;
        if (!platform::writeAt(file, int64_t(first) * RecordSize, at(file, first), size_t(count) * RecordSize))
            throw DatabaseError{};
        i = end;
    }
    for (const int32_t index : changed)
        pages[size_t(index / PageRecords)]->changedBits[(index % PageRecords) / 64] = 0;
    changed.clear();
    written = total;
}
