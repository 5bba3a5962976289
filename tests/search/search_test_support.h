#pragma once
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "board/board.h"
#include "search/bench.h"
#include "search/proof_number_search.h"

// Runs the test inside a fresh temporary directory, so that "tarvo/..." paths
// never touch the real data directory.
struct ScopedWorkDir {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path dir;
    explicit ScopedWorkDir(const std::string& name) {
        dir = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    ~ScopedWorkDir() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }
};

// The middle-game positions of bench/positions.txt, with their recorded answers.
inline std::vector<SetPosition> positionSet() {
    std::vector<SetPosition> positions;
    std::string error;
    EXPECT_TRUE(readPositionSet(std::string(TARVO_SOURCE_DIR) + "/bench/positions.txt", positions, error)) << error;
    return positions;
}

// A Board after the moves, given as (x, y) pairs, played from the empty board.
inline std::unique_ptr<Board> boardAfter(std::initializer_list<std::pair<int, int>> moves) {
    auto board = std::make_unique<Board>();
    for (const auto& [x, y] : moves) board->makeMove(cellAt(x, y));
    return board;
}

struct Numbers {
    int32_t pn, dn;
};

// An expanded node whose children carry the given numbers, built without analysis.
inline ProofNode* handBuiltNode(bool orNode, std::initializer_list<Numbers> children) {
    ProofNode* node = createNode(nullptr, std::make_unique<Board>());
    if (!orNode) node->flags &= ~OrFlag;
    node->setExpansion(Expanded);
    if (children.size() > 0) node->children = new ProofNode*[children.size()];
    for (const Numbers& n : children) {
        ProofNode* child = createNode(node, std::make_unique<Board>());
        if (orNode) child->flags &= ~OrFlag;
        child->pn = n.pn;
        child->dn = n.dn;
        node->children[node->childCount++] = child;
    }
    return node;
}
