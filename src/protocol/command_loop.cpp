#include "protocol/command_loop.h"

#include <charconv>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>

#include "knowledge/database_commands.h"
#include "knowledge/experience_database.h"
#include "platform/data_directory.h"
#include "platform/file_kind.h"
#include "protocol/output.h"
#include "protocol/problem_runner.h"
#include "protocol/trace_log.h"
#include "protocol/turn_driver.h"
#include "search/estimates.h"
#include "search/node_table.h"
#include "search/static_value.h"
#include "search/statistics_run.h"

namespace {

constexpr std::string_view TraceLogPath = "tarvo/cycletrace.log";

// A database command that fails is reported on one line; the loop goes on.
template <class Work>
void guardDatabaseCommand(std::ostream& out, Work work) {
    try {
        work();
    } catch (...) {
        writeLine(out, "ERROR Database error: the experience file could not be read or written");
    }
}

// What escapes the work of a turn is reported and the loop goes on with the
// game as the failed work left it.
template <class Work>
void guardTurnWork(std::ostream& out, Work work) {
    try {
        work();
    } catch (const std::exception& error) {
        writeLine(out, "MESSAGE Caught " + printableText(error.what()));
        writeLine(out, "MESSAGE Type " + printableText(typeid(error).name()));
        writeLine(out, "ERROR System Error, see " + std::string(TraceLogPath));
    } catch (...) {
        dumpTraceLog();
        writeLine(out, "MESSAGE Unexpected Error");
        writeLine(out, "ERROR Unexpected Error, see " + std::string(TraceLogPath));
    }
}

// The rule is announced once, as a bit field; freestyle is played whatever it says.
void reportRule(std::ostream& out, const char* restOfLine) {
    const char* at = restOfLine;
    while (*at == ' ' || *at == '\t') ++at;
    int32_t rule = 0;
    const auto [end, error] = std::from_chars(at, at + std::strlen(at), rule);
    if (error != std::errc() || end == at || (rule & UnsupportedRules) == 0) return;
    writeLine(out, "MESSAGE Only freestyle is played: five or more in a row wins, overlines too (rule " +
                       std::to_string(rule) + " is not followed)");
}

void writeMove(std::ostream& out, int cell) {
    if (cell == NoMove)
        writeLine(out, "ERROR No empty cell left");
    else
        writeLine(out, cellText(cell));
}

// The last two are the commands Piskvork sends for a new game and for its undo.
constexpr CommandLoop::Command commands[] = {
    {"0move", &CommandLoop::commandPass},       {"in", &CommandLoop::commandIn},
    {"problem", &CommandLoop::commandProblem},  {"best", &CommandLoop::commandBest},
    {"turn", &CommandLoop::commandTurn},        {"zturn", &CommandLoop::commandZturn},
    {"moveback", &CommandLoop::commandMoveback}, {"info", &CommandLoop::commandInfo},
    {"start", &CommandLoop::commandStart},      {"begin", &CommandLoop::commandBegin},
    {"end", &CommandLoop::commandEnd},          {"board", &CommandLoop::commandBoard},
    {"play", &CommandLoop::commandPlay},        {"about", &CommandLoop::commandAbout},
    {"db", &CommandLoop::commandDb},            {"stats", &CommandLoop::commandStats},
    {"read", &CommandLoop::commandRead},        {"print", &CommandLoop::commandPrint},
    {"restart", &CommandLoop::commandRestart},  {"takeback", &CommandLoop::commandTakeback},
};

}  // namespace

const CommandLoop::Command* CommandLoop::findCommand(std::string_view word) {
    for (const Command& command : commands)
        if (command.word == word) return &command;
    return nullptr;
}

LoopExit CommandLoop::run() {
    for (;;) {
        if (input.atEnd()) return LoopExit::EndOfInput;
        const Command* command = input.readCommandWord() ? findCommand(input.word()) : nullptr;
        if (!command) {
            writeLine(out, "ERROR Unknown Command!");
            continue;
        }
        const Outcome outcome = runCommand(*command);
        out << std::flush;
        if (outcome == Outcome::End) return LoopExit::EndCommand;
        if (outcome == Outcome::Mismatch) {
            writeLine(out, "ERROR Fatal Error, Protocol Mismatch!");
            return LoopExit::ProtocolMismatch;
        }
    }
}

CommandLoop::Outcome CommandLoop::runCommand(const Command& command) {
    // A command other than "turn" that fails midway is reported; the loop goes on.
    try {
        return (this->*command.run)();
    } catch (const std::exception& error) {
        writeLine(out, "ERROR System Error: " + printableText(error.what()));
    } catch (...) {
        writeLine(out, "ERROR Unexpected Error");
    }
    return Outcome::Continue;
}

bool CommandLoop::refuseOccupied(int cell) {
    if (isEmptyByte(game.board.cells[cell])) return false;
    writeLine(out, "ERROR Cell " + cellText(cell) + " is occupied");
    return true;
}

bool CommandLoop::refuseOverlong(WordRead read) {
    if (read != WordRead::Overlong) return false;
    writeLine(out, "ERROR Word longer than 1023 characters ignored");
    return true;
}

void CommandLoop::answerTurn(int cell) {
    if (refuseOccupied(cell)) return;
    guardTurnWork(out, [&] { writeMove(out, answerMove(game, cellX(cell), cellY(cell))); });
}

CommandLoop::Outcome CommandLoop::commandPass() {
    game.board.sideToMove = static_cast<uint8_t>(1 - game.board.sideToMove);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandIn() {
    const int c = input.readChar();
    if (c >= 0) game.stepCandidate(c);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandProblem() {
    int32_t number = 0;
    if (!input.readInteger(number)) {
        writeLine(out, "ERROR Problem number expected");
        return Outcome::Continue;
    }
    runProblem(game, number);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandBest() {
    writeMove(out, chooseMove(game));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandTurn() {
    int x = 0, y = 0;
    if (!input.readCoordinates(x, y)) return Outcome::Mismatch;
    answerTurn(cellAt(x, y));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandZturn() {
    int32_t cell = 0;
    if (!input.readInteger(cell)) return Outcome::Mismatch;
    if (cell < 0 || cell >= CellCount) {
        writeLine(out, "ERROR Cell " + std::to_string(cell) + " is outside 0..399");
        return Outcome::Continue;
    }
    answerTurn(cell);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandMoveback() { return Outcome::Continue; }

CommandLoop::Outcome CommandLoop::commandInfo() {
    const int key = input.matchKeyword(infoKeys, InfoKeyCount);
    if (key < 0) {
        const bool isRule = std::string_view(input.commandWord) == "rule";
        input.readRestOfLine();
        if (isRule) reportRule(out, input.restOfLine);
        return Outcome::Continue;
    }
    int32_t value = 0;
    if (!input.readInteger(value)) return Outcome::Mismatch;
    // A manager reports an overrun of the match clock as a negative time
    // left: the engine then answers at once.
    if (value < 0 && key == 0) value = 0;
    if (value < 0) return Outcome::Mismatch;
    if (key == 0) game.timeLeft = value;
    if (key == 1) game.timeoutTurn = value;
    if (key == 2) game.setMemoryBudget(value);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandStart() {
    if (!input.nextIsDigit() || !input.readInteger(boardSize)) return Outcome::Mismatch;
    if (boardSize == BoardSize) {
        startNewGame(game);
        writeLine(out, "OK");
    } else
        writeLine(out, "ERROR Unsupport size of board, supported size is " +
                           std::to_string(BoardSize) + "!");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandBegin() {
    writeMove(out, beginGame(game));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandEnd() { return Outcome::End; }

CommandLoop::Outcome CommandLoop::commandBoard() {
    if (!game.readBoardInput(input)) return Outcome::Continue;
    const int cell = chooseMove(game);
    if (cell != NoMove) game.playMove(cell);
    writeMove(out, cell);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandPlay() {
    int x = 0, y = 0;
    if (!input.readCoordinates(x, y)) return Outcome::Mismatch;
    const int cell = cellAt(x, y);
    if (!refuseOccupied(cell)) game.playMove(cell);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandAbout() {
    writeLine(out, AboutLine);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandDb() {
    const WordRead subcommand = input.readWord();
    if (subcommand == WordRead::Missing || refuseOverlong(subcommand)) return Outcome::Continue;
    const std::string_view word = input.wordArgument;
    if (word.find("add") != std::string_view::npos) {
        const WordRead path = input.readWord();
        if (path == WordRead::Missing || refuseOverlong(path)) return Outcome::Continue;
        guardDatabaseCommand(out, [&] { addGames(experienceDatabase, std::string(input.wordArgument), out); });
    } else if (word.find("export") != std::string_view::npos) {
        writeLine(out, "This operation can take several minutes, please wait...");
        guardDatabaseCommand(out, [&] {
            exportPositions(experienceDatabase);
            writeLine(out, "Done");
        });
    } else if (word.find("create") != std::string_view::npos) {
        guardDatabaseCommand(out, [&] {
            createDatabase(experienceDatabase, platform::dataPath(ExperienceFilePath));
            writeLine(out, "Done");
        });
    } else if (word.find("check") != std::string_view::npos) {
        guardDatabaseCommand(out, [&] {
            checkDatabase(platform::dataPath(ExperienceFilePath), out, experienceDatabase.recordLimit());
        });
    }
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandStats() {
    writeLine(out, "This operation can take several minutes or hours, please wait...");
    statisticsRun(1, 40, game.timeoutTurn, out);
    writeLine(out, "Done");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandRead() {
    const WordRead name = input.readWord();
    if (name == WordRead::Missing || refuseOverlong(name)) return Outcome::Continue;
    if (platform::fileKind(input.wordArgument) == platform::FileKind::Other) {
        writeLine(out, "ERROR The position file " + printableText(input.wordArgument) +
                           " is not a regular file; not read");
        return Outcome::Continue;
    }
    game.followsKnowledgeBase = false;
    if (game.readPosition(input.wordArgument))
        writeLine(out, std::to_string(scorePosition(game.board)));
    else
        writeLine(out, "ERROR Cannot open the position file " +
                           printableText(input.wordArgument));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandPrint() {
    printBoard(game.board, out);
    out << '\n' << std::flush;
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandRestart() {
    startNewGame(game);
    writeLine(out, "OK");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandTakeback() {
    int x = 0, y = 0;
    if (!input.readCoordinates(x, y)) return Outcome::Mismatch;
    const int cell = cellAt(x, y);
    if (game.takeBackLastMove(cell))
        writeLine(out, "OK");
    else
        writeLine(out, "ERROR Cannot take back " + cellText(cell) + ": it is not the last stone of the game");
    return Outcome::Continue;
}

int runEngine(std::istream& in, std::ostream& out) {
    // Start-up order: trace ring, node table, estimate tables, then the session.
    // "end" leaves at once; the end of input and a mismatch release the node
    // table on the way out.
    resetTraceRing();
    createNodeTable();
    loadEstimates();
    GameSession game(out);
    CommandLoop loop(game, in);
    if (loop.run() != LoopExit::EndCommand) releaseNodeTable();
    return 0;
}
