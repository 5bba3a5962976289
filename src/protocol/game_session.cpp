#include "protocol/game_session.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "board/analysis.h"
#include "board/win_test.h"
#include "knowledge/experience_database.h"
#include "knowledge/game_records.h"
#include "knowledge/store_reports.h"
#include "platform/clock.h"
#include "platform/file_kind.h"
#include "protocol/output.h"
#include "protocol/trace_log.h"
#include "search/static_value.h"

void reportDatabaseError(GameSession& game) {
    trace("DatabaseError", "database dropped for this turn");
    writeLine(game.out, "MESSAGE Chyba databaze!");
    game.followsExperienceDatabase = false;
    game.refollowDue = true;
}

void resetGame(GameSession& game) {
    game.moveRecordCount = 0;
    game.recordIsGame = true;
    game.learningDue = false;
    game.board.clear();
    game.followsExperienceDatabase = experienceDatabase.consultEnabled;
    game.refollowDue = false;
    if (!experienceDatabase.consultEnabled) return;
    try {
        experienceDatabase.rewind();
    } catch (...) {
        reportDatabaseError(game);
    }
}

void GameSession::setMemoryBudget(int32_t bytes) {
    memoryBudget = bytes - MinimumMemoryBudget;
    if (memoryBudget < MinimumMemoryBudget) memoryBudget = MinimumMemoryBudget;
}

namespace {

void learnGame(GameSession& game) {
    std::vector<int32_t> moves(game.moveRecord, game.moveRecord + game.moveRecordCount);
    const int value = judgeGame(moves);
    if (value == Unsuitable || moves == game.lastOffered) return;
    game.lastOffered = moves;
    try {
        const ExperienceDatabase::StoreLock lock(experienceDatabase, game.storeWaitMs);
        if (lock.state == ExperienceDatabase::StoreStart::Busy) {
            writeLine(game.out, "MESSAGE Learning skipped: another process is storing into " +
                                    experienceDatabase.path());
        } else if (lock.state == ExperienceDatabase::StoreStart::Damaged) {
            experienceDatabase.learnEnabled = false;
            const std::string report = damageReport(experienceDatabase);
            if (!report.empty()) writeLine(game.out, report);
        } else if (lock.state == ExperienceDatabase::StoreStart::Full) {
            experienceDatabase.learnEnabled = false;
            writeLine(game.out, sizeLimitReport(experienceDatabase));
        } else {
            saveGame(experienceDatabase, moves, value, game.out);
            // A full file takes nothing more: the games after this one are not offered.
            if (experienceDatabase.isFull()) experienceDatabase.learnEnabled = false;
        }
    } catch (...) {
        writeLine(game.out, "MESSAGE Saving to DB failed. File error");
    }
}

// False for a move that has no key: no stored line holds it.
bool keyOf(int cell, int& key) {
    try {
        key = normalise(experienceDatabase.frame, cell);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

void GameSession::playMove(int cell) {
    if (moveRecordCount < CellCount) moveRecord[moveRecordCount++] = cell;
    board.makeMove(cell);
    if (winTest(board) != 0 && experienceDatabase.learnEnabled && recordIsGame) {
        if (replyPending)
            learningDue = true;
        else
            learnGame(*this);
    }
    if (!followsExperienceDatabase) return;
    // A cursor left behind would offer moves of another position.
    int key = 0;
    if (!keyOf(cell, key)) {
        leaveStoredLines();
        return;
    }
    try {
        if (experienceDatabase.descend(key))
            experienceDatabase.showCurrentNode(out);
        else
            leaveStoredLines();
    } catch (...) {
        writeLine(out, "MESSAGE Chyba2 databaze!");
        followsExperienceDatabase = false;
        refollowDue = true;
    }
}

void GameSession::startTurn(int32_t waitMs) {
    turnStartMs = platform::clockMs();
    storeWaitMs = waitMs;
    replyPending = true;
}

void GameSession::finishTurn() {
    replyPending = false;
    if (!learningDue) return;
    learningDue = false;
    if (experienceDatabase.learnEnabled && recordIsGame) learnGame(*this);
}

void GameSession::leaveStoredLines() {
    followsExperienceDatabase = false;
    refollowDue = false;
}

void GameSession::refollowFromRoot() {
    leaveStoredLines();
    if (!experienceDatabase.consultEnabled || !recordIsGame || moveRecordCount != board.moveCount()) return;
    try {
        experienceDatabase.rewind();
        for (int i = 0; i < moveRecordCount; ++i) {
            int key = 0;
            if (!keyOf(moveRecord[i], key) || !experienceDatabase.descend(key)) return;
        }
        followsExperienceDatabase = true;
    } catch (...) {
        refollowDue = true;
    }
}

bool GameSession::takeBackLastMove(int cell) {
    // A record that no longer matches the Board (after "read", "in" or a game
    // past 400 moves) cannot say which stone came last.
    if (moveRecordCount == 0 || moveRecordCount != board.moveCount() || moveRecord[moveRecordCount - 1] != cell ||
        board.lastMove() != cell || !board.takeBack())
        return false;
    --moveRecordCount;
    refollowFromRoot();
    return true;
}

bool GameSession::stepCandidate(int c) {
    if (c == '.') {
        leaveStoredLines();
        board.liftLastStone();
    } else {
        const int k = (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) - 'A';
        const AnalysisResult& listed = search.analysis;
        analyse(board, search.analysis);
        if (k < 0 || k >= listed.resultCount) {
            const char letter = static_cast<char>(c);
            writeLine(out, "ERROR No listed move for the letter " +
                               printableText(std::string_view(&letter, 1)));
            return false;
        }
        const int cell = listed.resultCells[k];
        if (!board.isEmpty(cell)) {
            writeLine(out, "ERROR Cell " + cellText(cell) + " is occupied");
            return false;
        }
        leaveStoredLines();
        board.makeMove(cell);
    }
    printBoard(board, out);
    out << '\n' << std::flush;
    return true;
}

namespace {

// One position line "x,y,field"; blanks may surround the numbers.
struct LineParser {
    const char* at;
    const char* end;

    void skipBlanks() {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\r')) ++at;
    }
    bool number(int& value) {
        skipBlanks();
        const auto [next, error] = std::from_chars(at, end, value);
        if (error != std::errc()) return false;
        at = next;
        return true;
    }
    bool comma() {
        skipBlanks();
        if (at == end || *at != ',') return false;
        ++at;
        return true;
    }
};

// The side of the stone a position line places: field 1 is the engine's own
// (side 1), 2 the opponent's and 3, from continuous games, the opponent's too.
// -1 for a line that is not x,y,field on the board.
int sideOfLine(const char* line, int length, int& cell) {
    LineParser parser{line, line + length};
    int x = 0, y = 0, field = 0;
    if (!parser.number(x) || !parser.comma() || !parser.number(y)) return -1;
    if (!onBoard(x, y) || !parser.comma() || !parser.number(field)) return -1;
    parser.skipBlanks();
    if (parser.at != parser.end) return -1;
    cell = cellAt(x, y);
    if (field == 1) return 1;
    if (field == 2 || field == 3) return 0;
    return -1;
}

}  // namespace

void SearchedValue::remember(const Board& board, int32_t searchedValue) {
    known = true;
    value = searchedValue;
    side = board.sideToMove();
    for (int cell = 0; cell < CellCount; ++cell) stones[cell] = static_cast<int8_t>(board.stoneAt(cell));
}

bool SearchedValue::carriedTo(const Board& board, int32_t& carried) const {
    if (!known) return false;
    for (int cell = 0; cell < CellCount; ++cell)
        if (stones[cell] != NoStone && board.stoneAt(cell) != stones[cell]) return false;
    carried = board.sideToMove() == side ? value : -value;
    return true;
}

bool GameSession::readBoardInput(ProtocolInput& input) {
    int32_t cells[CellCount];
    uint8_t sides[CellCount];
    bool taken[CellCount] = {};
    int count = 0;
    bool done = false;
    while (!input.atEnd()) {
        char line[WordBufferSize];
        int length = 0;
        for (int c = input.get(); c != std::char_traits<char>::eof() && c != '\n';
             c = input.get())
            if (length < WordBufferSize - 1) line[length++] = static_cast<char>(c);
        while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == ' ')) --length;
        int first = 0;
        while (first < length && (line[first] == ' ' || line[first] == '\t')) ++first;
        if (first == length) continue;
        if (line[first] == 'D' || line[first] == 'd') {
            done = true;
            break;
        }
        int cell = 0;
        const int side = sideOfLine(line, length, cell);
        const std::string shown = printableText(std::string_view(line + first, length - first));
        if (side < 0) {
            writeLine(out, "ERROR Board line " + shown + " skipped: x,y,field expected");
        } else if (taken[cell]) {
            writeLine(out, "ERROR Board line " + shown + " skipped: the cell is taken");
        } else {
            taken[cell] = true;
            cells[count] = cell;
            sides[count++] = static_cast<uint8_t>(side);
        }
    }
    // The position is replayed as a new game, so the move record, the score
    // totals and the database cursor follow the lines in their order.
    board.setSideToMove(1);
    resetGame(*this);
    for (int i = 1; i < count; ++i)
        if (sides[i] == sides[i - 1]) recordIsGame = false;
    if (!recordIsGame) followsExperienceDatabase = false;
    for (int i = 0; i < count; ++i) {
        board.setSideToMove(sides[i]);
        playMove(cells[i]);
    }
    board.setSideToMove(1);
    return done;
}

bool GameSession::readPosition(const char* name) {
    int side = 1;
    if (std::strcmp(name, "plocha.dat") == 0 && platform::fileKind("tah.dat") == platform::FileKind::Regular) {
        std::ifstream sideFile("tah.dat");
        char mark = 0;
        if (sideFile >> mark && mark == 'o') side = 0;
    }

    int8_t stones[CellCount];
    std::fill(std::begin(stones), std::end(stones), NoStone);
    std::ifstream file;
    // A directory opens as a stream but holds no marks, and a FIFO or a
    // device could keep the reader waiting for ever.
    if (platform::fileKind(name) == platform::FileKind::Regular) file.open(name);
    const bool opened = file.is_open();
    char mark = 0;
    for (int cell = 0; opened && cell < CellCount && file >> mark; ++cell)
        if (mark == 'x' || mark == 'o') stones[cell] = mark == 'x' ? 1 : 0;
    board.setUp(stones, side);
    return opened;
}

namespace {

char panelMark(int stone, int label) {
    if (stone == 1) return 'X';
    if (stone == 0) return '@';
    if (label < 0) return '-';
    return label <= '~' - 'a' ? static_cast<char>('a' + label) : '*';
}

void classByCell(const ThreatList& list, int (&classes)[CellCount]) {
    for (int& k : classes) k = -1;
    for (const ThreatEntry entry : list) classes[entry.cell] = entry.threatClass;
}

std::string leftAligned(int32_t value) {
    std::string text = std::to_string(value);
    if (text.size() < 10) text.resize(10, ' ');
    return text;
}

}  // namespace

void printBoard(Board& board, std::ostream& out) {
    const int32_t black = board.xScore() - board.oScore();
    const int32_t white = board.savedScore() + (board.sideToMove() == 1 ? board.xScore() : board.oScore());
    out << "DEBUG " << (board.sideToMove() == 1 ? 'x' : 'o') << "  Black = " << leftAligned(black)
        << "  White = " << leftAligned(white) << '\n'
        << std::flush;
    out << "DEBUG " << scorePosition(board) << '\n' << std::flush;

    AnalysisResult result;
    analyse(board, result);
    int xClass[CellCount], oClass[CellCount], listed[CellCount];
    classByCell(board.threats(1), xClass);
    classByCell(board.threats(0), oClass);
    for (int& position : listed) position = -1;
    for (int i = result.resultCount - 1; i >= 0; --i)
        if (result.resultCells[i] >= 0 && result.resultCells[i] < CellCount) listed[result.resultCells[i]] = i;

    out << "DEBUG  01234567890123456789 01234567890123456789 01234567890123456789\n" << std::flush;
    for (int y = 0; y < BoardSize; ++y) {
        const char digit = static_cast<char>('0' + y % 10);
        std::string row = "DEBUG ";
        const int* panels[3] = {xClass, oClass, listed};
        for (const int* labels : panels) {
            row += digit;
            for (int x = 0; x < BoardSize; ++x) {
                const int cell = cellAt(x, y);
                row += panelMark(board.stoneAt(cell), labels[cell]);
            }
        }
        row += digit;
        out << row;
        if (y + 1 < BoardSize) out << '\n';
        out << std::flush;
    }
}
