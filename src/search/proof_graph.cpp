#include "search/proof_graph.h"

#include <algorithm>
#include <new>

#include "board/analysis.h"
#include "board/win_test.h"
#include "search/estimates.h"
#include "search/node_table.h"
#include "search/proof_memory.h"
#include "search/proof_state.h"

namespace {

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

}  // namespace

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

// The win test of the position after cell, probed where that tells, else played.
int childWinTest(SearchContext& context, Board& board, Board& scratch, int cell) {
    int result;
    return probeWinTest(context, board, cell, result) ? result : playedWinTest(context, board, scratch, cell);
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

bool expandNode(SearchContext& context, ProofNode* node, int level, const ProofSearchEvents& events) {
    if (node->childCount > 0) {
        // Only a run at another level than the graph's tags gets here; the
        // children stay and the node now counts as expanded at this level.
        if (events.nodeExpandedAgain) events.nodeExpandedAgain();
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
            const int rChild = childWinTest(context, position, childBoard, cells[i]);
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
