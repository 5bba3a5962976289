#include "search/proof_number_search.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <vector>

#include "board/analysis.h"
#include "board/win_test.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "search/estimates.h"
#include "search/node_table.h"
#include "search/proof_state.h"

namespace {

// The memory figure costs a system call, so the search reads it again only
// once the process may have grown enough to reach the limit since the last
// reading. Every allocation of the graph counts its size plus a generous
// allowance for the allocator's own pages; whatever else may grow meanwhile
// (stack, code and tables touched for the first time) is kept back as a fixed
// reserve below the limit.
constexpr int64_t AllocationAllowance = 64 * 1024;
constexpr int64_t UnaccountedGrowth = 16 * 1024 * 1024;
int64_t grownSinceReading = 0;
int64_t headroom = 0;  // growth since the last reading that cannot reach the limit
// A caller that allocates little between searches lets the next one start from
// the last reading, counting this much for whatever it allocated meanwhile.
constexpr int64_t BetweenSearches = 1024 * 1024;
bool carryReading = false;
int64_t headroomLimit = 0;  // the limit that headroom was worked out against
SearchEnd searchEnd = SearchEnd::Decided;
ProofNumbers reported = {1, 1};

void countAllocation(size_t bytes) { grownSinceReading += static_cast<int64_t>(bytes) + AllocationAllowance; }

void writeMessage(std::ostream& out, const std::string& text) {
    out << "MESSAGE " << text << '\n' << std::flush;
}

// Numbers of a position whose outcome r (+1 the side to move wins) is known.
void setDecided(ProofNode* node, int r) {
    if ((r == 1) == node->isOr()) {
        node->pn = 0;
        node->dn = Infinite;
    } else {
        node->pn = Infinite;
        node->dn = 0;
    }
}

bool isLeftOut(const ProofNode* child, int level) {
    return child->expansion() == DeadEnd && child->tag() <= level;
}

// An infinite number compares larger than every finite one.
bool lessNumber(int32_t a, int32_t b) {
    if (a == b) return false;
    if (a == Infinite) return false;
    if (b == Infinite) return true;
    return a < b;
}

void pushOtherParents(const ProofNode* node, std::vector<ProofNode*>& queue) {
    for (int i = 0; i < node->parentCount; ++i) {
        if (node->parent(i) == node->currentParent) continue;
        if (queue.size() == queue.capacity()) countAllocation(2 * (queue.capacity() + 1) * sizeof(ProofNode*));
        queue.push_back(node->parent(i));
    }
}

ProofNode* nextUp(const ProofNode* node) {
    if (node->parentCount == 0) return nullptr;
    return node->parentCount == 1 ? node->onlyParent : node->currentParent;
}

int32_t clampedWork(uint32_t work) { return static_cast<int32_t>(std::min<uint32_t>(work, INT32_MAX)); }

void recordRootChild(const ProofNode* child) {
    workByCell[child->move] = clampedWork(child->work);
    numbersByCell[child->move] = {child->pn, child->dn};
}

void removeRootChild(ProofNode* root, int index) {
    recordRootChild(root->children[index]);
    deleteNode(root->children[index]);
    std::copy(root->children + index + 1, root->children + root->childCount, root->children + index);
    --root->childCount;
}

// Children that can no longer decide the root: disproven ones at an OR root,
// proven ones at an AND root.
bool deleteHopelessRootChildren(ProofNode* root, std::ostream& out) {
    bool deleted = false;
    for (int i = 0; i < root->childCount;) {
        const ProofNode* child = root->children[i];
        if (root->isOr() ? child->dn == 0 : child->pn == 0) {
            removeRootChild(root, i);
            writeMessage(out, "del root child");
            deleted = true;
        } else {
            ++i;
        }
    }
    return deleted;
}

}  // namespace

int32_t minNumber(int32_t a, int32_t b) { return lessNumber(b, a) ? b : a; }

int32_t addNumbers(int32_t a, int32_t b) {
    if (a == Infinite || b == Infinite) return Infinite;
    const int64_t sum = static_cast<int64_t>(a) + b;
    return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

std::string numberText(int32_t n) { return n < 0 ? "OO" : std::to_string(n); }

char* putDecimal(char* at, int64_t n) {
    char digits[20];
    int k = 0;
    uint64_t u = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    if (n < 0) *at++ = '-';
    do digits[k++] = static_cast<char>('0' + u % 10);
    while ((u /= 10) != 0);
    while (k > 0) *at++ = digits[--k];
    return at;
}

namespace {

char* putNumber(char* at, int32_t n) {
    if (n >= 0) return putDecimal(at, n);
    *at++ = 'O';
    *at++ = 'O';
    return at;
}

}  // namespace

char* putReportLine(char* at, int32_t nodes, int32_t pn, int32_t dn) {
    at = putDecimal(at, nodes);
    *at++ = '{';
    at = putNumber(at, pn);
    *at++ = ',';
    at = putNumber(at, dn);
    *at++ = '}';
    return at;
}

std::string reportLine(int32_t nodes, int32_t pn, int32_t dn) {
    char text[40];
    return std::string(text, putReportLine(text, nodes, pn, dn));
}

void writeReportLine(std::ostream& out, int32_t nodes, int32_t pn, int32_t dn) {
    char text[64] = "MESSAGE ";
    char* end = putReportLine(text + 8, nodes, pn, dn);
    *end++ = '\n';
    out.write(text, end - text);
    out.flush();
}

ProofNode* createNode(ProofNode* parent, std::unique_ptr<Board> board) { return createNode(parent, *board); }

namespace {

// Throws std::bad_alloc with nothing allocated.
NodeBoard* packNodeBoard(const Board& board, const PackedBoard* playedFrom, const PackedEntries* laidOut) {
    PackPlan plan;
    const size_t size = sizeof(NodeBoard) + planPacking(board, playedFrom, laidOut, plan);
    void* memory = ::operator new(size);
    countAllocation(size);
    NodeBoard* holder = new (memory) NodeBoard;
    packInto(holder->packed(), board, plan);
    return holder;
}

// The position of the last expansion, kept for the next: expanding a child
// of the node expanded last (or the root just created) plays the child's
// move on it instead of unpacking the parent's board. positionOf is the
// board whose position it is, null when none is.
Board position;
const NodeBoard* positionOf = nullptr;

void releaseBoard(NodeBoard* board) {
    if (!board || --board->holders > 0) return;
    if (board == positionOf) positionOf = nullptr;
    board->~NodeBoard();
    ::operator delete(board);
}

// Freed nodes kept for the next ones: a statistics run makes and frees a
// few dozen nodes per position, for a million positions. Only a few are
// kept, so that a large graph freed gives its memory back. None under
// AddressSanitizer, which could not see a node used after it was freed.
#if defined(__SANITIZE_ADDRESS__)
constexpr int SpareNodeLimit = 0;
#else
constexpr int SpareNodeLimit = 512;
#endif
void* spareNodes[SpareNodeLimit + 1];
int spareNodeCount = 0;

// Throws std::bad_alloc with nothing allocated.
ProofNode* newNode(ProofNode* parent) {
    void* memory = spareNodeCount > 0 ? spareNodes[--spareNodeCount] : ::operator new(sizeof(ProofNode));
    countAllocation(sizeof(ProofNode));
    ProofNode* node = new (memory) ProofNode;
    node->depth = parent ? static_cast<int16_t>(parent->depth + 1) : 0;
    node->stamp = idCounter + 1;
    idCounter += 2;
    if (parent) {
        node->onlyParent = parent;
        node->parentCount = 1;
    }
    node->currentParent = parent;
    return node;
}

// A child of the node being expanded, whose position is the move played on
// the node's: it holds the node's board until it is expanded itself.
ProofNode* createChild(ProofNode* parent, int cell, const PositionKey& key) {
    ProofNode* child = newNode(parent);
    child->board = parent->board;
    ++parent->board->holders;
    child->flags |= BoardBeforeMove;
    child->key = key;
    child->move = static_cast<int16_t>(cell);
    return child;
}

// The win test of the position after cell, from a probe of the move when that
// tells, counted as the move it saves. False when only playing it tells.
bool probeWinTest(SearchContext& context, const Board& board, int cell, int& result) {
    Board::MoveProbe probe;
    const int r = winTestAfterMove(board, cell, probe);
    if (r == NeedsEntries) return false;
    ++context.nodeCounter;
    result = r;
    return true;
}

int playedWinTest(SearchContext& context, Board& board, Board& scratch, int cell) {
    if (board.canTryMoves()) {
        const TrialMove trial(board, cell);
        ++context.nodeCounter;
        return winTest(board);
    }
    copyBoard(board, scratch);
    scratch.makeMove(cell);
    ++context.nodeCounter;
    return winTest(scratch);
}

}  // namespace

ProofNode* createNode(ProofNode* parent, const Board& board, const PackedBoard* playedFrom,
                      const PackedEntries* laidOut) {
    NodeBoard* packed = packNodeBoard(board, playedFrom, laidOut);
    ProofNode* node;
    try {
        node = newNode(parent);
    } catch (const std::bad_alloc&) {
        releaseBoard(packed);
        throw;
    }
    node->board = packed;
    node->key = board.positionKey();
    node->move = static_cast<int16_t>(board.lastMove());
    copyBoard(board, position);
    positionOf = packed;
    return node;
}

namespace {

// Not counted as a move: it was counted when the child was made.
void playNodeMove(const ProofNode* node, Board& board) { board.makeMove(node->move); }

// The node's position into `position`, from the last one where it can.
void takePosition(const ProofNode* node) {
    if (node->board != positionOf) unpackBoard(*node->board->packed(), position);
    positionOf = node->board;
    if (node->flags & BoardBeforeMove) {
        playNodeMove(node, position);
        positionOf = nullptr;
    }
}

}  // namespace

void nodePosition(const ProofNode* node, Board& board) {
    unpackBoard(*node->board->packed(), board);
    if (node->flags & BoardBeforeMove) playNodeMove(node, board);
}

bool expandNode(SearchContext& context, ProofNode* node, int level, std::ostream& out) {
    if (node->childCount > 0) {
        // Only a run at another level than the graph's tags gets here; the
        // children stay and the node now counts as expanded at this level.
        writeMessage(out, "ERROR");
        node->setTag(level);
        node->setExpansion(Expanded);
        return true;
    }
    // One node is expanded at a time: its Board and its children's are scratch.
    static Board childBoard;
    takePosition(node);
    const AnalysisResult& listed = context.analysis;
    const int r = analyse(position, context.analysis);
    if (r != 0) {
        setDecided(node, r);
        return true;
    }
    if (listed.resultCount == 0) {
        node->setTag(level);
        node->setExpansion(DeadEnd);
        return false;
    }
    // The children play their moves on the node's own position, so a node
    // that held its parent's gets its own now.
    if (node->flags & BoardBeforeMove) {
        NodeBoard* own = packNodeBoard(position, node->board->packed(), nullptr);
        releaseBoard(node->board);
        node->board = own;
        node->flags &= ~BoardBeforeMove;
        positionOf = own;
    }
    const uint32_t flagsBefore = node->flags;
    node->setTag(level);
    // The win tests below may run analyses of their own, so keep the list.
    const int count = std::min<int>(listed.resultCount, MaxChildren);
    int32_t cells[MaxChildren];
    std::copy(listed.resultCells, listed.resultCells + count, cells);
    PositionKey keys[MaxChildren];
    for (int i = 0; i < count; ++i) keys[i] = childKey(position, cells[i]);
    // A table that holds nothing yet can only come to hold the children
    // inserted below (none at the root), which are looked up among them
    // instead of in the table.
    const bool tableEmpty = nodeTable && nodeTable->empty();
    const bool lookUp = nodeTable && !(tableEmpty && node->parentCount == 0);
    if (nodeTable && !tableEmpty) nodeTable->preload(keys, count);
    try {
        node->children = new ProofNode*[count];
        countAllocation(count * sizeof(ProofNode*));
        for (int i = 0; i < count; ++i) {
            const PositionKey k = keys[i];
            ProofNode* shared = !lookUp ? nullptr
                                : tableEmpty ? nodeTable->findInserted(node->children, node->childCount, k)
                                             : nodeTable->find(k);
            if (shared && shared->parentCount < MaxParents) {
                addParent(shared, node);
                node->children[node->childCount++] = shared;
                continue;
            }
            int rChild;
            if (!probeWinTest(context, position, cells[i], rChild))
                rChild = playedWinTest(context, position, childBoard, cells[i]);
            ProofNode* child = createChild(node, cells[i], k);
            node->children[node->childCount++] = child;
            if (node->parentCount > 0 && nodeTable) nodeTable->insert(child);
            if (node->isOr()) child->flags &= ~OrFlag;
            if (rChild != 0) {
                setDecided(child, rChild);
            } else {
                child->pn = pnEst[estimateIndex(i)];
                child->dn = dnEst[estimateIndex(i)];
            }
        }
    } catch (const std::bad_alloc&) {
        deleteChildren(node);
        node->flags = flagsBefore;
        throw;
    }
    node->setExpansion(Expanded);
    return true;
}

ProofNode* selectMostProving(ProofNode* start, int level) {
    ProofNode* node = start;
    node->stamp = idCounter;
    while (node->expansion() == Expanded && node->tag() <= level) {
        ProofNode* next = nullptr;
        for (int i = 0; i < node->childCount && !next; ++i) {
            ProofNode* child = node->children[i];
            if (isLeftOut(child, level)) continue;
            if (node->isOr() ? child->pn == node->pn : child->dn == node->dn) next = child;
        }
        // Numbers that no child explains are repaired by expanding the node again.
        if (!next) break;
        next->currentParent = node;
        next->stamp = idCounter;
        node = next;
    }
    return node;
}

void setNumbers(ProofNode* node, int level) {
    if (node->decided()) return;
    if (node->expansion() == NotExpanded) {
        node->pn = node->dn = 1;
        return;
    }
    const bool orNode = node->isOr();
    bool counted = false;
    int32_t least = Infinite;
    int32_t sum = 0;
    for (int i = 0; i < node->childCount; ++i) {
        const ProofNode* child = node->children[i];
        if (isLeftOut(child, level)) continue;
        // For an OR node: mine = pn, theirs = dn; the AND node mirrors it.
        const int32_t mine = orNode ? child->pn : child->dn;
        const int32_t theirs = orNode ? child->dn : child->pn;
        if (mine == 0) {  // proven at an OR node, disproven at an AND node
            node->pn = orNode ? 0 : Infinite;
            node->dn = orNode ? Infinite : 0;
            return;
        }
        if (theirs == 0) continue;
        counted = true;
        least = minNumber(least, mine);
        sum = addNumbers(sum, theirs);
    }
    // No child left that can change the outcome: the side to move has no
    // move that helps it, as at a dead end.
    if (!counted) {
        node->pn = orNode ? Infinite : 0;
        node->dn = orNode ? 0 : Infinite;
        return;
    }
    node->pn = orNode ? least : sum;
    node->dn = orNode ? sum : least;
}

ProofNode* updateAncestors(ProofNode* node, int level) {
    std::vector<ProofNode*> queue;  // other parents still to update, last in first out
    ProofNode* last = node;
    if (node->decided()) {
        node->work += idCounter - node->stamp;
        if (node->parentCount == 0) return node;
        if (node->parentCount > 1) pushOtherParents(node, queue);
        node = nextUp(node);
    }
    bool changed = true;
    while (node && changed) {
        node->work += idCounter - node->stamp;
        const int32_t pnBefore = node->pn, dnBefore = node->dn;
        setNumbers(node, level);
        changed = node->pn != pnBefore || node->dn != dnBefore;
        last = node;
        if (node->parentCount > 1) pushOtherParents(node, queue);
        node = nextUp(node);
    }
    while (!queue.empty()) {
        ProofNode* other = queue.back();
        queue.pop_back();
        updateAncestors(other, level);
    }
    return last;
}

void deleteNode(ProofNode* node) {
    if (nodeTable) nodeTable->remove(node);
    deleteChildren(node);
    delete[] node->parentArray;
    releaseBoard(node->board);
    node->~ProofNode();
    if (spareNodeCount < SpareNodeLimit)
        spareNodes[spareNodeCount++] = node;
    else
        ::operator delete(node);
}

void deleteChildren(ProofNode* node) {
    for (int i = 0; i < node->childCount; ++i) {
        ProofNode* child = node->children[i];
        if (child->parentCount <= 1)
            deleteNode(child);
        else
            removeParent(child, node);
    }
    delete[] node->children;
    node->children = nullptr;
    node->childCount = 0;
}

void addParent(ProofNode* node, ProofNode* parent) {
    if (node->parentCount == 0) {
        node->onlyParent = parent;
    } else {
        ProofNode** grown = new ProofNode*[node->parentCount + 1];
        countAllocation((node->parentCount + 1) * sizeof(ProofNode*));
        for (int i = 0; i < node->parentCount; ++i) grown[i] = node->parent(i);
        grown[node->parentCount] = parent;
        delete[] node->parentArray;
        node->parentArray = grown;
        node->onlyParent = nullptr;
    }
    ++node->parentCount;
    node->currentParent = parent;
}

void removeParent(ProofNode* node, ProofNode* parent) {
    if (node->parentCount == 1) {
        if (node->onlyParent != parent) return;
        node->onlyParent = nullptr;
        node->parentCount = 0;
        node->currentParent = nullptr;
        return;
    }
    ProofNode** end = node->parentArray + node->parentCount;
    ProofNode** found = std::find(node->parentArray, end, parent);
    if (found == end) return;
    std::copy(found + 1, end, found);
    --node->parentCount;
    if (node->parentCount == 1) {
        node->onlyParent = node->parentArray[0];
        delete[] node->parentArray;
        node->parentArray = nullptr;
        node->currentParent = node->onlyParent;
    } else if (node->currentParent == parent) {
        node->currentParent = node->parentArray[0];
    }
}

int worstRootChild(const ProofNode* root) {
    int worst = 0;
    for (int i = 1; i < root->childCount; ++i) {
        const ProofNode* a = root->children[i];
        const ProofNode* w = root->children[worst];
        if (lessNumber(w->pn, a->pn) || (a->pn == w->pn && lessNumber(a->dn, w->dn))) worst = i;
    }
    return worst;
}

bool betterChoice(int a, int b) {
    const ProofNumbers& x = numbersByCell[a];
    const ProofNumbers& y = numbersByCell[b];
    if (x.pn != y.pn) return lessNumber(x.pn, y.pn);
    if (x.dn != y.dn) return lessNumber(y.dn, x.dn);
    return workByCell[a] > workByCell[b];
}

namespace {

// The choice so far (-1 for none) with cell considered after it.
int consider(int choice, int cell) {
    return workByCell[cell] >= 0 && (choice < 0 || betterChoice(cell, choice)) ? cell : choice;
}

}  // namespace

int chooseRootMove() {
    int choice = -1;
    for (int cell = 0; cell < CellCount; ++cell) choice = consider(choice, cell);
    return choice;
}

void carryMemoryReading() { carryReading = true; }

SearchEnd lastSearchEnd() { return searchEnd; }

ProofNumbers reportedNumbers() { return reported; }

int proofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit, int level,
                      std::ostream& out) {
    if (carryReading && memoryLimit == headroomLimit)
        grownSinceReading += BetweenSearches;
    else
        headroom = 0;
    carryReading = false;
    headroomLimit = memoryLimit;
    searchEnd = SearchEnd::Decided;
    bool memoryShort = false;  // sticks: the search then depended on the memory figure
    if (root->expansion() == NotExpanded || root->tag() < level) {
        try {
            expandNode(context, root, level, out);
        } catch (const std::bad_alloc&) {
            // No room even for the root's children: answer as for a decided root.
            memoryShort = true;
        }
        setNumbers(root, level);
    }
    if (root->childCount == 0) {
        searchEnd = memoryShort ? SearchEnd::Memory : SearchEnd::NoChildren;
        searchIterations = 0;
        Board rootPosition;
        nodePosition(root, rootPosition);
        analyse(rootPosition, context.analysis);
        return context.analysis.resultCount > 0 ? context.analysis.resultCells[0] : -1;
    }
    std::fill(workByCell, workByCell + CellCount, -1);
    // The cells that the choice at the end scans, in order: only root
    // children's moves get a record.
    int rootCells[MaxChildren];
    const int rootCellCount = root->childCount;
    for (int i = 0; i < root->childCount; ++i) {
        workByCell[root->children[i]->move] = 0;
        rootCells[i] = root->children[i]->move;
    }
    std::sort(rootCells, rootCells + rootCellCount);

    const int32_t start = platform::clockMs();
    context.nodeCounter = 0;
    int64_t iterations = 0;
    ProofNode* current = root;
    for (;;) {
        bool memoryOk = true;
        while (!root->decided()) {
            const int32_t now = platform::clockMs();
            if (platform::clockDiff(context.moveDeadline, now) <= margin && iterations > 0) {
                searchEnd = SearchEnd::Clock;
                break;
            }
            if (grownSinceReading >= headroom) {
                const int64_t committed = platform::committedMemoryBytes();
                if (committed >= memoryLimit) {
                    memoryOk = false;
                    break;
                }
                headroom = memoryLimit - committed - UnaccountedGrowth;
                grownSinceReading = 0;
            }
            // Updates through other parents can decide the node where the last
            // update stopped; nothing below it can then help the root.
            if (current->decided()) current = root;
            try {
                ProofNode* m = selectMostProving(current, level);
                expandNode(context, m, level, out);
                current = updateAncestors(m, level);
            } catch (const std::bad_alloc&) {
                memoryOk = false;
                break;
            }
            ++iterations;
            if (root->pn > 10000000 || root->dn > 100000000) {
                searchEnd = SearchEnd::NumbersPastLimits;
                break;
            }
        }
        if (!memoryOk) {
            headroom = 0;
            memoryShort = true;
        }  // at the limit, or after a pruning freed memory: read afresh
        if (memoryOk || root->decided() || root->childCount < 2) break;
        if (deleteHopelessRootChildren(root, out)) {
            if (root->childCount == 0) break;
            current = root;
            continue;
        }
        if (!root->isOr()) break;
        removeRootChild(root, worstRootChild(root));
        setNumbers(root, level);
        writeMessage(out, "Cut root child");
        current = root;
    }

    if (memoryShort) searchEnd = SearchEnd::Memory;
    searchIterations = iterations;
    reported = {root->pn, root->dn};
    writeReportLine(out, context.nodeCounter, root->pn, root->dn);
    if (platform::clockDiff(platform::clockMs(), start) > 0) {
        const int32_t elapsed = platform::clockDiff(platform::clockMs(), start);
        writeMessage(out, std::to_string(static_cast<int64_t>(context.nodeCounter) * 1000 / (elapsed + 1)) + "/s");
    }

    // Only a pruned child's work is kept; the remaining ones count as 0 there.
    for (int i = 0; i < root->childCount; ++i) {
        const ProofNode* child = root->children[i];
        numbersByCell[child->move] = {child->pn, child->dn};
    }
    int choice = -1;
    for (int i = 0; i < rootCellCount; ++i) choice = consider(choice, rootCells[i]);
    if (choice >= 0) {
        root->pn = numbersByCell[choice].pn;
        root->dn = numbersByCell[choice].dn;
    }
    return choice;
}
