#include "knowledge/file_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>

bool linkIsValid(int32_t link, int64_t records) {
    return link == NoRecord || (link >= 0 && link % RecordSize == 0 && link / RecordSize < records);
}

bool linksAreValid(const NodeRecord& record, int64_t records) {
    return linkIsValid(record.nextSibling, records) && linkIsValid(record.firstChild, records) &&
           linkIsValid(record.parent, records);
}

namespace {

constexpr size_t ListedFaults = 5;

struct FaultList {
    FileCheck& check;

    void add(const std::string& text) {
        if (check.faults.size() < ListedFaults) check.faults.push_back(text);
        ++check.faultCount;
    }
};

std::string at(int64_t offset) { return "the record at " + std::to_string(offset); }

void checkLinks(const std::vector<NodeRecord>& records, FaultList& faults) {
    const int64_t n = int64_t(records.size());
    for (int64_t i = 0; i < n; ++i) {
        const NodeRecord& r = records[size_t(i)];
        const std::pair<const char*, int32_t> links[] = {
            {"nextSibling", r.nextSibling}, {"firstChild", r.firstChild}, {"parent", r.parent}};
        for (const auto& [name, link] : links) {
            if (linkIsValid(link, n)) continue;
            const bool inside = link >= 0 && link / RecordSize < n;
            faults.add(at(i * RecordSize) + ": " + name + " " + std::to_string(link) +
                       (inside ? " is not on a record boundary" : " points outside the file"));
        }
    }
}

int32_t addCount(int32_t a, int32_t b) { return int32_t(std::clamp<int64_t>(int64_t(a) + b, INT32_MIN, INT32_MAX)); }

std::string counts(int32_t whole, int32_t cut) { return std::to_string(whole) + "/" + std::to_string(cut); }

// The counts a finished store leaves at a reachable node, given the sums of
// its children's counts (both 0 for a leaf).
void checkCounts(const NodeRecord& node, int64_t offset, bool hasChildren, int32_t sumWhole, int32_t sumCut,
                 FaultList& faults) {
    if (offset == 0 && !hasChildren) return;  // a new root counts nothing
    const NodeStats& s = node.stats;
    int32_t whole = sumWhole, cut = sumCut;
    const bool lineEnd = !hasChildren || s.toEnd == 0;
    if (lineEnd && s.outcome == 0) whole = 1;
    if (lineEnd && s.outcome == 2) cut = 1;
    if (s.secondWinsWhole == whole && s.secondWinsCut == cut) return;
    faults.add(at(offset) + " holds counts " + counts(s.secondWinsWhole, s.secondWinsCut) + ", not " +
               counts(whole, cut) + (hasChildren ? " from its children" : " of a line end"));
}

}  // namespace

FileCheck checkTree(const std::vector<NodeRecord>& records) {
    FileCheck check;
    FaultList faults{check};
    const int64_t n = int64_t(records.size());
    check.records = n;
    if (n == 0) {
        faults.add("no root record");
        return check;
    }
    checkLinks(records, faults);
    if (records[0].parent != NoRecord) faults.add("the root names a parent");

    std::vector<bool> reached(size_t(n), false);
    std::vector<int64_t> siblingsOf(65536, -1);  // by move: the node whose chain holds it
    std::vector<int64_t> stack = {0};
    reached[0] = true;
    check.reachable = 1;
    while (!stack.empty()) {
        const int64_t offset = stack.back();
        stack.pop_back();
        const NodeRecord& node = records[size_t(offset / RecordSize)];
        bool chainWhole = true;
        int32_t sumWhole = 0, sumCut = 0;
        for (int32_t o = node.firstChild; o != NoRecord;) {
            if (!linkIsValid(o, n)) {  // reported with the links
                chainWhole = false;
                break;
            }
            const size_t index = size_t(o / RecordSize);
            if (reached[index]) {
                faults.add(at(o) + " is reached twice, the second time below " + std::to_string(offset));
                chainWhole = false;
                break;
            }
            reached[index] = true;
            ++check.reachable;
            const NodeRecord& child = records[index];
            if (child.parent != offset) {
                faults.add(at(o) + " is listed below " + std::to_string(offset) + " but names " +
                           std::to_string(child.parent) + " as its parent");
                chainWhole = false;
            }
            int64_t& holder = siblingsOf[uint16_t(child.move)];
            if (holder == offset) {
                faults.add(at(offset) + " has two children with move " + std::to_string(child.move));
                chainWhole = false;
            }
            holder = offset;
            sumWhole = addCount(sumWhole, child.stats.secondWinsWhole);
            sumCut = addCount(sumCut, child.stats.secondWinsCut);
            stack.push_back(o);
            o = child.nextSibling;
        }
        if (chainWhole) checkCounts(node, offset, node.firstChild != NoRecord, sumWhole, sumCut, faults);
    }
    return check;
}

std::string checkReport(const std::string& path, const FileCheck& check) {
    std::string line = std::string(check.sound() ? "MESSAGE" : "ERROR") + " db check: " + path + ": " +
                       std::to_string(check.records) + " records, " + std::to_string(check.reachable) +
                       " reachable, " + std::to_string(check.records - check.reachable) + " orphans";
    if (check.capacity > 0) {
        // Hundredths of a percent, cut rather than rounded: 100.00% only when full.
        const int64_t hundredths = check.records * 10000 / check.capacity;
        char percent[32];
        std::snprintf(percent, sizeof percent, "%lld.%02lld%%", static_cast<long long>(hundredths / 100),
                      static_cast<long long>(hundredths % 100));
        line += std::string(", ") + percent + " full (room for " +
                std::to_string(std::max<int64_t>(0, check.capacity - check.records)) + " more records)";
    }
    if (check.tornBytes > 0)
        line += ", " + std::to_string(check.tornBytes) + " bytes of a torn record at the end";
    if (check.storePending) line += ", an interrupted store that the next store completes";
    if (check.sound()) return line + ": sound";
    line += ": " + std::to_string(check.faultCount) + (check.faultCount == 1 ? " fault: " : " faults: ");
    for (size_t i = 0; i < check.faults.size(); ++i) line += (i > 0 ? "; " : "") + check.faults[i];
    if (check.faultCount > int64_t(check.faults.size())) line += "; ...";
    return line;
}
