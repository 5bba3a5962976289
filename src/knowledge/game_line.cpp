#include "knowledge/game_line.h"

#include "board/cell.h"
#include "knowledge/database_error.h"
#include "knowledge/symmetry_frame.h"

namespace {

constexpr size_t ShortestGame = 5;

bool isEdgeCoordinate(int value) { return value < 3 || value > 16; }
bool nearEdge(int cell) { return isEdgeCoordinate(cellX(cell)) || isEdgeCoordinate(cellY(cell)); }

std::string cellWords(int cell) {
    std::string words = std::to_string(cellX(cell));
    words.insert(words.begin(), '(');
    return words.append(",").append(std::to_string(cellY(cell))).append(")");
}

// The key of move, when it gives the move back; frame moves on only then.
bool keyOf(SymmetryFrame& frame, int32_t move, int32_t& key) {
    SymmetryFrame next = frame;
    try {
        key = normalise(next, move);
        if (denormalise(next, key) != move) return false;
    } catch (const DatabaseError&) {
        return false;  // a key outside the board's cells
    }
    frame = next;
    return true;
}

}  // namespace

std::string LineCut::words() const {
    const std::string move = "move " + std::to_string(moveIndex + 1) + " " + cellWords(cell);
    switch (reason) {
    case Reason::None: return "";
    case Reason::TooShort: return "Too short: " + std::to_string(moveIndex) + " moves";
    case Reason::FirstNearEdge: return "The first move " + cellWords(cell) + " is near the edge";
    case Reason::NearEdge: return "Cut before " + move + ": near the edge";
    case Reason::NoKey: return "Cut before " + move + ": too far from the first move to be keyed";
    }
    return "";
}

LineCut prepareLine(std::vector<int32_t>& moves) {
    LineCut cut;
    if (moves.size() < ShortestGame) {
        cut.reason = LineCut::Reason::TooShort;
        cut.moveIndex = int32_t(moves.size());
        return cut;
    }
    if (nearEdge(moves[0])) {
        cut.reason = LineCut::Reason::FirstNearEdge;
        cut.cell = moves[0];
        return cut;
    }
    SymmetryFrame frame;
    std::vector<int32_t> keys;
    for (const int32_t move : moves) {
        int32_t key = 0;
        if (nearEdge(move))
            cut.reason = LineCut::Reason::NearEdge;
        else if (!keyOf(frame, move, key))
            cut.reason = LineCut::Reason::NoKey;
        if (cut.reason != LineCut::Reason::None) {
            cut.moveIndex = int32_t(keys.size());
            cut.cell = move;
            break;
        }
        keys.push_back(key);
    }
    // A reflection is decided only while every earlier move lies on its
    // mirror line, so each kept key gives its move back in the line's last
    // frame as well: a key that does not is a fault of this code.
    for (size_t k = 0; k < keys.size(); ++k)
        if (denormalise(frame, keys[k]) != moves[k]) throw DatabaseError{};
    moves = keys;
    return cut;
}
