#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "knowledge/node_record.h"

// A link holds NoRecord or the offset of one of the file's whole records.
bool linkIsValid(int32_t link, int64_t records);
bool linksAreValid(const NodeRecord& record, int64_t records);

// What a walk of the whole tree found. Orphans (records no chain reaches) and
// a torn last record are left behind by stores that were cut short; nothing
// links to them, so they are no faults.
struct FileCheck {
    int64_t records = 0;    // whole records
    int64_t reachable = 0;  // records reached from the root
    int64_t tornBytes = 0;  // bytes of a partly written record at the end
    int64_t capacity = 0;   // the records the file may hold; 0: not told
    bool storePending = false;
    int64_t faultCount = 0;
    std::vector<std::string> faults;  // the first few, in words

    bool sound() const { return faultCount == 0; }
};

// Links outside the file or off a record boundary, a child whose parent is
// another node, a node reached twice, two children with one move, and counts
// that a finished store cannot leave. A node where a line ended although it
// has children holds toEnd 0 and a count of 1 for its class in place of that
// class's sum; every other inner node holds its children's sums, and a leaf
// counts itself once if its class is 0 (whole) or 2 (cut).
FileCheck checkTree(const std::vector<NodeRecord>& records);

// One line: "MESSAGE db check: PATH: N records, R reachable, O orphans,
// P% full (room for M more records): sound" or the same beginning with
// "ERROR " and ": K faults: first; second; ...".
std::string checkReport(const std::string& path, const FileCheck& check);
