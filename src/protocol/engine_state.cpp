#include "protocol/engine_state.h"

#include <string>
#include <string_view>
#include <vector>

#include "board/analysis.h"
#include "board/line_patterns.h"
#include "knowledge/experience_database.h"
#include "protocol/output.h"
#include "search/static_value.h"

namespace {

// What the state shows of the Board, read in this one place.
struct BoardReading {
    char stones[CellCount];  // 'x', 'o' or '-'
    int side = 1;
    int32_t moveCount = 0;
    int32_t lastMove = -1;
    int32_t xScore = 0, oScore = 0;
    PositionKey positionKey;
    std::vector<CellClass> xThreats, oThreats;  // strongest first
};

std::vector<CellClass> strongestFirst(const ThreatList& list) {
    std::vector<CellClass> entries;
    for (const ThreatEntry entry : list)
        entries.push_back({static_cast<int16_t>(entry.cell), static_cast<int8_t>(entry.threatClass)});
    return entries;
}

BoardReading readBoard(const Board& board) {
    BoardReading r;
    for (int cell = 0; cell < CellCount; ++cell) {
        const int stone = board.stoneAt(cell);
        r.stones[cell] = stone == NoStone ? '-' : stone ? 'x' : 'o';
    }
    r.side = board.sideToMove();
    r.moveCount = board.moveCount();
    r.lastMove = board.lastMove();
    r.xScore = board.xScore();
    r.oScore = board.oScore();
    r.positionKey = board.positionKey();
    r.xThreats = strongestFirst(board.threats(1));
    r.oThreats = strongestFirst(board.threats(0));
    return r;
}

// One JSON object or array, written in order; the caller puts the commas.
struct Json {
    std::string text;

    Json& raw(std::string_view part) {
        text.append(part);
        return *this;
    }
    Json& number(int64_t value) { return raw(std::to_string(value)); }
    Json& key(std::string_view name) { return raw("\"").raw(name).raw("\":"); }
    Json& truth(bool value) { return raw(value ? "true" : "false"); }
    Json& word(std::string_view value) { return raw("\"").raw(value).raw("\""); }
    Json& point(int cell) {
        if (cell < 0 || cell >= CellCount) return raw("null");
        return raw("[").number(cellX(cell)).raw(",").number(cellY(cell)).raw("]");
    }
    template <class Cell>
    Json& points(const Cell* cells, int n) {
        raw("[");
        for (int i = 0; i < n; ++i) (i ? raw(",") : *this).point(cells[i]);
        return raw("]");
    }
};

void writeThreats(Json& j, const std::vector<CellClass>& entries) {
    j.raw("[");
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i) j.raw(",");
        j.raw("[").number(cellX(entries[i].cell)).raw(",").number(cellY(entries[i].cell)).raw(",");
        j.number(entries[i].threatClass).raw("]");
    }
    j.raw("]");
}

void writeClassNames(Json& j) {
    j.raw("[");
    for (int k = 0; k <= WeakestListed; ++k) (k ? j.raw(",") : j).word(threatClassNames[k]);
    j.raw("]");
}

// The move record numbers the stones only while it is the game on the Board
// ("read" and "in" change the Board alone).
void writeRecordedMoves(Json& j, const GameSession& game, const BoardReading& board) {
    bool matches = game.moveRecordCount == board.moveCount;
    for (int i = 0; matches && i < game.moveRecordCount; ++i) {
        const int cell = game.moveRecord[i];
        matches = cell >= 0 && cell < CellCount && board.stones[cell] != '-';
    }
    if (matches)
        j.points(game.moveRecord, game.moveRecordCount);
    else
        j.raw("null");
}

void writeListed(Json& j, Board& board) {
    AnalysisResult listed;
    const int result = analyse(board, listed);
    j.raw("{").key("result").number(result).raw(",").key("moves").points(listed.resultCells, listed.resultCount).raw("}");
}

const char* sourceName(MoveChoice::Source source) {
    switch (source) {
        case MoveChoice::Source::Database: return "database";
        case MoveChoice::Source::Fast: return "fast";
        case MoveChoice::Source::Forced: return "forced";
        case MoveChoice::Source::Search: return "search";
        case MoveChoice::Source::None: break;
    }
    return "none";
}

// "current": chosen in this position ("best"); "previous": this position is
// the one the choice was played into; "old": anything else.
const char* choicePosition(const MoveChoice& choice, const BoardReading& board) {
    if (board.moveCount == choice.moveCount && board.positionKey == choice.positionKey) return "current";
    if (choice.cell >= 0 && board.moveCount == choice.moveCount + 1 && board.lastMove == choice.cell &&
        board.positionKey == (choice.positionKey ^ key(board.side, choice.cell)))
        return "previous";
    return "old";
}

void writeChoice(Json& j, const MoveChoice& choice, const BoardReading& board) {
    if (choice.source == MoveChoice::Source::None) {
        j.raw("null");
        return;
    }
    j.raw("{").key("source").word(sourceName(choice.source)).raw(",").key("move").point(choice.cell);
    if (choice.source == MoveChoice::Source::Search) {
        j.raw(",").key("value").number(choice.value).raw(",").key("nodes").number(choice.nodes);
        j.raw(",").key("depth").number(choice.depth).raw(",").key("selectiveDepth").number(choice.selectiveDepth);
        j.raw(",").key("line").points(choice.line.data(), int(choice.line.size()));
    }
    j.raw(",").key("static").number(choice.staticValue).raw(",").key("ms").number(choice.elapsedMs);
    j.raw(",").key("stones").number(choice.moveCount);
    j.raw(",").key("position").word(choicePosition(choice, board)).raw("}");
}

void writeStats(Json& j, const NodeStats& s) {
    j.key("outcome").number(s.outcome).raw(",").key("proof").number(s.proof);
    j.raw(",").key("disproof").number(s.disproof).raw(",").key("whole").number(s.secondWinsWhole);
    j.raw(",").key("cut").number(s.secondWinsCut).raw(",").key("iterations").number(s.iterations);
    j.raw(",").key("ply").number(s.ply).raw(",").key("toEnd").number(s.toEnd);
}

// A stored continuation as a cell of this game; -1 when its key lands off
// the board or on a stone.
int boardCell(int key, const BoardReading& board) {
    try {
        const int cell = denormalise(experienceDatabase.frame, key);
        return cell >= 0 && cell < CellCount && board.stones[cell] == '-' ? cell : -1;
    } catch (...) {
        return -1;
    }
}

void writeNode(Json& j, const BoardReading& board) {
    int move = 0;
    const NodeStats node = experienceDatabase.currentStats(move);
    int key = 0;
    int recommended = -1;
    if (experienceDatabase.recommend(board.moveCount % 2 == 1, key)) recommended = boardCell(key, board);
    const std::vector<Continuation> children = experienceDatabase.continuations(ContinuationReadBudget);
    j.raw(",").key("node").raw("{");
    writeStats(j, node);
    j.raw("},").key("recommended").point(recommended).raw(",").key("children").raw("[");
    bool first = true;
    for (const Continuation& c : children) {
        const int cell = boardCell(c.move, board);
        if (cell < 0) continue;
        j.raw(first ? "{" : ",{").key("move").point(cell).raw(",");
        first = false;
        writeStats(j, c.stats);
        j.raw(",").key("games").raw("[");
        for (int k = 0; k < 4; ++k) (k ? j.raw(",") : j).number(c.gamesByClass[k]);
        j.raw("],").key("counted").truth(c.counted).raw("}");
    }
    j.raw("]");
}

void writeDatabase(Json& j, const GameSession& game, const BoardReading& board) {
    j.raw("{").key("open").truth(experienceDatabase.consultEnabled);
    j.raw(",").key("follows").truth(game.followsExperienceDatabase);
    if (experienceDatabase.consultEnabled && game.followsExperienceDatabase) {
        Json node;
        try {
            writeNode(node, board);
            j.raw(node.text);
        } catch (...) {
            j.raw(",").key("node").raw("null,").key("error").truth(true);
        }
    } else {
        j.raw(",").key("node").raw("null");
    }
    j.raw("}");
}

}  // namespace

void writeEngineState(GameSession& game, std::ostream& out) {
    const BoardReading board = readBoard(game.board);
    Json j;
    j.raw("{").key("stones").word(std::string_view(board.stones, CellCount));
    j.raw(",").key("side").word(board.side ? "x" : "o");
    j.raw(",").key("moveCount").number(board.moveCount).raw(",").key("lastMove").point(board.lastMove);
    j.raw(",").key("moves");
    writeRecordedMoves(j, game, board);
    j.raw(",").key("score").number(scorePosition(game.board));
    j.raw(",").key("xScore").number(board.xScore).raw(",").key("oScore").number(board.oScore);
    j.raw(",").key("threats").raw("{").key("x");
    writeThreats(j, board.xThreats);
    j.raw(",").key("o");
    writeThreats(j, board.oThreats);
    j.raw("},").key("classNames");
    writeClassNames(j);
    j.raw(",").key("listed");
    writeListed(j, game.board);
    j.raw(",").key("choice");
    writeChoice(j, game.lastChoice, board);
    j.raw(",").key("database");
    writeDatabase(j, game, board);
    j.raw("}");
    writeLine(out, j.text);
}
