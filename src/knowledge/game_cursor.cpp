#include <vector>

#include "knowledge/child_walk.h"
#include "knowledge/experience_database.h"
#include "knowledge/reply_policy.h"

// The game cursor: the node of the followed game's position, moved down one
// stored move at a time with the game's SymmetryFrame, and what it shows.

void ExperienceDatabase::moveTo(int32_t offset) {
    readSteadily([&] {
        current = readRecord(offset);
        currentOffset = offset;
    });
}

void ExperienceDatabase::rewind() {
    frame = SymmetryFrame{};
    moveTo(0);
}

bool ExperienceDatabase::descend(int move) {
    return readSteadily([&] {
        bool found = false;
        walkChildren([&](int32_t offset, const NodeRecord& child) {
            if (child.move != move) return false;
            current = child;
            currentOffset = offset;
            found = true;
            return true;
        });
        return found;
    });
}

int ExperienceDatabase::listChildren(std::vector<int>& moves, std::vector<NodeStats>& stats) {
    return readSteadily([&] {
        moves.clear();
        stats.clear();
        walkChildren([&](int32_t, const NodeRecord& child) {
            moves.push_back(child.move);
            stats.push_back(child.stats);
            return false;
        });
        return int(moves.size());
    });
}

NodeStats ExperienceDatabase::currentStats(int& move) {
    return readSteadily([&] {
        current = readRecord(currentOffset);
        move = current.move;
        return current.stats;
    });
}

bool ExperienceDatabase::recommend(bool secondToMove, int& move) {
    std::vector<int> moves;
    std::vector<NodeStats> stats;
    listChildren(moves, stats);
    const int best = chooseReply(stats, currentOffset == 0, secondToMove);
    if (best < 0) return false;
    move = moves[size_t(best)];
    return true;
}

std::vector<Continuation> ExperienceDatabase::continuations(int32_t readBudget) {
    std::vector<Continuation> children;
    std::vector<int32_t> firstGrandchild;
    readSteadily([&] {
        children.clear();
        firstGrandchild.clear();
        walkChildren([&](int32_t, const NodeRecord& child) {
            Continuation c;
            c.move = child.move;
            c.stats = child.stats;
            children.push_back(c);
            firstGrandchild.push_back(child.firstChild);
            return false;
        });
    });
    // Each stored line ends in a node without children. The budget also ends
    // a walk that a damaged file would send round in circles.
    std::vector<int32_t> chains;
    for (size_t i = 0; i < children.size(); ++i) {
        Continuation& c = children[i];
        if (firstGrandchild[i] == NoRecord) {
            c.gamesByClass[c.stats.outcome & 3] = 1;
            continue;
        }
        chains.assign(1, firstGrandchild[i]);
        while (!chains.empty() && readBudget > 0) {
            int32_t offset = chains.back();
            chains.pop_back();
            while (offset != NoRecord && readBudget > 0) {
                const NodeRecord node = readRecord(offset);
                --readBudget;
                if (node.firstChild == NoRecord)
                    ++c.gamesByClass[node.stats.outcome & 3];
                else
                    chains.push_back(node.firstChild);
                offset = node.nextSibling;
            }
            if (offset != NoRecord) chains.push_back(offset);
        }
        c.counted = chains.empty();
    }
    return children;
}

void ExperienceDatabase::showCurrentNode(std::ostream& out) {
    int move = 0;
    const NodeStats stats = currentStats(move);
    if (current.firstChild == NoRecord) return;
    out << "MESSAGE databaze: " << std::endl;
    out << "MESSAGE " << statsLine(stats) << std::endl;
}
