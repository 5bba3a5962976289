#pragma once
#include <functional>
#include <memory>

#include "board/board.h"
#include "board/keys.h"
#include "board/packed_board.h"
#include "search/proof_node.h"
#include "search/search_context.h"

// What the proof-number search tells its caller as it goes, for the caller
// to show; a caller that shows nothing leaves them empty.
struct ProofSearchEvents {
    // A node that has children expanded again at another level than their
    // tags: the children stay and the node counts as expanded at this level.
    std::function<void()> nodeExpandedAgain;
    // A root child that can no longer decide the root, deleted.
    std::function<void()> rootChildDeleted;
    // The worst root child, cut for want of memory.
    std::function<void()> rootChildCut;
};

// positionKey of a copy of board after makeMove(cell), without playing it.
inline PositionKey childKey(const Board& board, int cell) {
    return board.positionKey() ^ key(1 - board.sideToMove(), cell);
}

// Throws std::bad_alloc with nothing allocated.
ProofNode* createNode(ProofNode* parent, std::unique_ptr<Board> board);
// The same for a Board that stays the caller's; the node keeps it packed
// (packBoard, with playedFrom and laidOut).
ProofNode* createNode(ProofNode* parent, const Board& board, const PackedBoard* playedFrom = nullptr,
                      const PackedEntries* laidOut = nullptr);
// The node's position: its own board, or the move played on its parent's.
void nodePosition(const ProofNode* node, Board& board);
// Lists the node's children from the forced-move analysis (run with the
// level as its mode), counting the moves it plays in the context's node
// counter. False for a dead end. On allocation failure the node is left as
// it was and std::bad_alloc propagates.
bool expandNode(SearchContext& context, ProofNode* node, int level, const ProofSearchEvents& events = {});
void deleteNode(ProofNode* node);
void deleteChildren(ProofNode* node);
// Throws std::bad_alloc with nothing changed.
void addParent(ProofNode* node, ProofNode* parent);
void removeParent(ProofNode* node, ProofNode* parent);
