#include "protocol/command_loop.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "knowledge/database_commands.h"
#include "knowledge/experience_database.h"
#include "knowledge/permanent_folder.h"
#include "platform/data_directory.h"
#include "platform/file_kind.h"
#include "protocol/engine_state.h"
#include "protocol/output.h"
#include "protocol/paced_output.h"
#include "protocol/problem_runner.h"
#include "protocol/search_level.h"
#include "protocol/stone_lists.h"
#include "protocol/swap2.h"
#include "protocol/trace_log.h"
#include "protocol/turn_driver.h"
#include "search/estimates.h"
#include "search/node_table.h"
#include "search/static_value.h"
#include "protocol/statistics_run.h"

namespace {

constexpr int32_t StatsOutputIntervalMs = 100;

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
        writeLine(out, "ERROR System Error, see " + std::string(platform::TraceLogPath));
    } catch (...) {
        dumpTraceLog();
        writeLine(out, "MESSAGE Unexpected Error");
        writeLine(out, "ERROR Unexpected Error, see " + std::string(platform::TraceLogPath));
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

std::string_view trimmed(const char* text) {
    std::string_view view(text);
    while (!view.empty() && isBlank(view.front())) view.remove_prefix(1);
    while (!view.empty() && isBlank(view.back())) view.remove_suffix(1);
    return view;
}

// The hash line in the GUI's units, log2 of the kilobytes: the largest
// table INFO hash_size can give the deeper search, which it then uses.
int hashSizeExponent() {
    int exponent = 0;
    while ((size_t{1024} << exponent) < MaxTableBytes) ++exponent;
    return exponent;
}

void writeMove(std::ostream& out, int cell) {
    if (cell == NoMove)
        writeLine(out, "ERROR No empty cell left");
    else
        writeLine(out, cellText(cell));
}

using Needs = CommandLoop::Needs;

// "restart" and "takeback" are the commands Piskvork sends for a new game and
// for its undo; "state" and "learn" are operator words for the browser board.
constexpr CommandLoop::Command commands[] = {
    {"0move", &CommandLoop::commandPass},
    {"in", &CommandLoop::commandIn},
    {"problem", &CommandLoop::commandProblem},
    {"best", &CommandLoop::commandBest, Needs::Game},
    {"turn", &CommandLoop::commandTurn, Needs::Game},
    {"zturn", &CommandLoop::commandZturn, Needs::Game},
    {"moveback", &CommandLoop::commandMoveback},
    {"info", &CommandLoop::commandInfo},
    {"start", &CommandLoop::commandStart},
    {"begin", &CommandLoop::commandBegin, Needs::Game},
    {"end", &CommandLoop::commandEnd},
    {"board", &CommandLoop::commandBoard, Needs::GameAndBlock},
    {"play", &CommandLoop::commandPlay, Needs::Game},
    {"about", &CommandLoop::commandAbout},
    {"db", &CommandLoop::commandDb},
    {"stats", &CommandLoop::commandStats},
    {"read", &CommandLoop::commandRead},
    {"print", &CommandLoop::commandPrint},
    {"restart", &CommandLoop::commandRestart, Needs::Game},
    {"takeback", &CommandLoop::commandTakeback, Needs::Game},
    // Yixin-Board's words, and the other words of managers and GUIs.
    {"yxshowinfo", &CommandLoop::commandYxShowInfo},
    {"yxboard", &CommandLoop::commandYxBoard, Needs::GameAndBlock},
    {"yxshowforbid", &CommandLoop::commandYxShowForbid},
    {"yxstop", &CommandLoop::commandYxStop},
    {"yxnbest", &CommandLoop::commandYxNbest, Needs::Game},
    {"yxswap2step1", &CommandLoop::commandYxSwap2Step1, Needs::Game},
    {"yxswap2step2", &CommandLoop::commandYxSwap2Step2, Needs::Game},
    {"yxswap2step3", &CommandLoop::commandYxSwap2Step3, Needs::Game},
    {"yxsoosorvstep1", &CommandLoop::commandYxSoosorvStep1, Needs::Game},
    {"yxsoosorvstep2", &CommandLoop::commandYxSoosorvStep2, Needs::GameAndBlock},
    {"yxsoosorvstep3", &CommandLoop::commandYxSoosorvStep3, Needs::GameAndBlock},
    {"yxsoosorvstep4", &CommandLoop::commandYxSoosorvStep4, Needs::GameAndBlock},
    {"yxsoosorvstep5", &CommandLoop::commandYxSoosorvStep5, Needs::GameAndBlock},
    {"yxsoosorvstep6", &CommandLoop::commandYxSoosorvStep6, Needs::GameAndBlock},
    {"yxbalanceone", &CommandLoop::commandYxBalanceOne, Needs::Game},
    {"yxbalancetwo", &CommandLoop::commandYxBalanceTwo, Needs::Game},
    {"yxsearchdefend", &CommandLoop::commandYxSearchDefend, Needs::Game},
    {"rectstart", &CommandLoop::commandRectStart},
    {"swap2board", &CommandLoop::commandSwap2Board, Needs::GameAndBlock},
    {"yxhashclear", &CommandLoop::commandYxHashClear},
    {"state", &CommandLoop::commandState},
    {"learn", &CommandLoop::commandLearn},
};

}  // namespace

const CommandLoop::Command* CommandLoop::findCommand(std::string_view word) {
    for (const Command& command : commands)
        if (command.word == word) return &command;
    return nullptr;
}

CommandLoop::CommandLoop(GameSession& session, std::istream& in)
    : game(session), input(in), out(session.out), dataFolderAtStartUp(platform::dataFolderFound()) {
    input.readsStandardInput = &in == &std::cin;
    game.stopRequested = [this] { return input.stopRequested(); };
}

CommandLoop::~CommandLoop() { game.stopRequested = nullptr; }

LoopExit CommandLoop::run() {
    for (;;) {
        if (input.atEnd()) return LoopExit::EndOfInput;
        const bool whole = input.readCommandWord();
        // A closed pipe is no command, and a last word is whole at its end.
        if (!whole && input.commandLength == 0 && input.atEnd()) return LoopExit::EndOfInput;
        const Command* command = whole ? findCommand(input.word()) : nullptr;
        if (!command) {
            if (!(whole && skipQuietWord())) writeLine(out, "ERROR Unknown Command!");
            continue;
        }
        const bool refused = boardRefused && command->needs != Needs::Nothing;
        const Outcome outcome = refused ? refuseWithoutGame(*command) : runCommand(*command);
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

CommandLoop::Outcome CommandLoop::refuseWithoutGame(const Command& command) {
    input.readRestOfLine();
    if (command.needs == Needs::GameAndBlock) input.readBlock([](const std::string&) {});
    writeLine(out, "ERROR A 20x20 board is needed: START " + std::to_string(boardSize) +
                       " was refused, so there is no game until START 20");
    return Outcome::Continue;
}

// A yx word this engine does not know, once the GUI has asked yxshowinfo:
// its line and the block of position lines behind it are read through
// their DONE without a reply (the DONE of an empty block stands alone).
bool CommandLoop::skipQuietWord() {
    if (!quietYxWords) return false;
    if (input.word() == "done") return true;
    if (!input.word().starts_with("yx")) return false;
    input.readRestOfLine();
    while (isBlank(input.peek())) input.get();
    if (input.peek() >= '0' && input.peek() <= '9') input.readBlock([](const std::string&) {});
    return true;
}

bool CommandLoop::refuseOccupied(int cell) {
    if (game.board.isEmpty(cell)) return false;
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
    game.finishTurn();
}

CommandLoop::Outcome CommandLoop::commandPass() {
    game.leaveStoredLines();
    game.board.pass();
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
        const std::string name(input.commandWord);
        input.readRestOfLine();
        infoLineKey(name, input.restOfLine);
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
    if (key == 2) {
        game.setMemoryBudget(value);
        game.memoryGiven = value > 0;
    }
    return Outcome::Continue;
}

// The keys read as a whole line; any other is ignored (INFO evaluate among
// them: a release brain writes nothing for it).
void CommandLoop::infoLineKey(std::string_view key, const char* value) {
    if (key == "rule") {
        reportRule(out, value);
    } else if (key == "show_detail") {
        const std::string_view text = trimmed(value);
        int32_t detail = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), detail);
        if (error == std::errc()) game.showDetail = detail;
    } else if (key == "folder") {
        useFolder(std::string(trimmed(value)));
    } else if (key == "max_depth") {
        if (!setLevelDepth(game, value)) writeLine(out, "ERROR INFO max_depth needs an integer, not " + printableText(trimmed(value)));
    } else if (key == "max_node") {
        if (!setLevelNodes(game, value)) writeLine(out, "ERROR INFO max_node needs an integer, not " + printableText(trimmed(value)));
    } else if (key == "hash_size") {
        const std::string_view text = trimmed(value);
        int64_t kilobytes = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), kilobytes);
        if (error == std::errc() && end == text.data() + text.size() && kilobytes >= 0)
            game.hashKilobytes = kilobytes;
        else
            writeLine(out, "ERROR INFO hash_size needs a number of kilobytes, not " + printableText(text));
    }
}

void CommandLoop::useFolder(const std::string& folder) {
    if (folder.empty() || dataFolderAtStartUp || folder == permanentFolder) return;
    if (!usePermanentFolder(folder)) {
        writeLine(out, "MESSAGE No experience file could be kept in " +
                           printableText(platform::brainFolderIn(folder)) + "; the games are not learned from");
        return;
    }
    permanentFolder = folder;
    // A game already under way is followed from its first move.
    game.refollowFromRoot();
}

CommandLoop::Outcome CommandLoop::commandStart() {
    if (!input.nextIsDigit() || !input.readInteger(boardSize)) return Outcome::Mismatch;
    boardRefused = boardSize != BoardSize;
    if (!boardRefused) {
        startNewGame(game);
        writeLine(out, "OK");
    } else
        writeLine(out, "ERROR Unsupport size of board, supported size is " +
                           std::to_string(BoardSize) + "!");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandBegin() {
    writeMove(out, beginGame(game));
    game.finishTurn();
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandEnd() { return Outcome::End; }

CommandLoop::Outcome CommandLoop::commandBoard() {
    game.startTurn(storeWaitLimit(game));
    if (!game.readBoardInput(input)) {
        game.finishTurn();
        return Outcome::Continue;
    }
    const int cell = chooseMove(game, game.turnStartMs);
    if (cell != NoMove) game.playMove(cell);
    writeMove(out, cell);
    game.finishTurn();
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
            createDatabase(experienceDatabase, platform::dataPath(platform::ExperienceFilePath));
            writeLine(out, "Done");
        });
    } else if (word.find("check") != std::string_view::npos) {
        guardDatabaseCommand(out, [&] {
            checkDatabase(platform::dataPath(platform::ExperienceFilePath), out, experienceDatabase.recordLimit());
        });
    }
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandStats() {
    writeLine(out, "This operation can take several minutes or hours, please wait...");
    {
        // Most positions take less time than writing their lines would.
        PacedOutput paced(out, StatsOutputIntervalMs);
        statisticsRun(game.search, 1, 40, game.timeoutTurn, paced);
    }
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
    // A loaded position is no game: the move record no longer leads to it, so
    // neither following nor learning may use it until a new game starts.
    game.leaveStoredLines();
    game.recordIsGame = false;
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
    clearSearchTable(game);
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

CommandLoop::Outcome CommandLoop::commandYxShowInfo() {
    quietYxWords = true;
    writeLine(out, "MESSAGE INFO MAX_THREAD_NUM 1");
    writeLine(out, "MESSAGE INFO MAX_HASH_SIZE " + std::to_string(hashSizeExponent()));
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxBoard() {
    game.readBoardInput(input);
    return Outcome::Continue;
}

// Freestyle has no forbidden points.
CommandLoop::Outcome CommandLoop::commandYxShowForbid() {
    writeLine(out, "FORBID .");
    return Outcome::Continue;
}

// A search that yxstop stops has seen it in the input already; read here it
// finds no search running, and an idle engine answers nothing.
CommandLoop::Outcome CommandLoop::commandYxStop() { return Outcome::Continue; }

CommandLoop::Outcome CommandLoop::commandYxHashClear() {
    clearSearchTable(game);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandYxNbest() {
    int32_t count = 0;
    if (!input.readInteger(count)) {
        writeLine(out, "ERROR yxnbest needs the number of moves");
        return Outcome::Continue;
    }
    const int cell = chooseBestMoves(game, count > 1 ? count : 1);
    if (cell != NoMove) game.playMove(cell);
    writeMove(out, cell);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandRectStart() {
    input.readRestOfLine();
    writeLine(out, "ERROR Only the 20x20 board is played: RECTSTART is not supported");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandSwap2Board() {
    std::vector<int> stones;
    if (!readStoneBlock(input, stones)) return Outcome::Continue;
    const bool readable = std::find(stones.begin(), stones.end(), -1) == stones.end();
    writeLine(out, readable ? swap2Reply(game, stones) : "ERROR SWAP2BOARD lines must be points x,y on the board");
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandState() {
    writeEngineState(game, out);
    return Outcome::Continue;
}

CommandLoop::Outcome CommandLoop::commandLearn() {
    const WordRead setting = input.readWord();
    if (setting == WordRead::Missing || refuseOverlong(setting)) return Outcome::Continue;
    const std::string_view word = input.wordArgument;
    // "learn off" stops storing decided positions (a board set up by hand for
    // study is no game); "learn on" stores them again when the run has a file
    // to learn into. A file that refused a store for good refuses the next too.
    if (word == "on" || word == "off")
        experienceDatabase.learnEnabled = word == "on" && experienceDatabase.consultEnabled;
    else
        writeLine(out, "ERROR learn takes on or off, not " + printableText(word));
    return Outcome::Continue;
}

int runEngine(std::istream& in, std::ostream& out, int32_t maxDepth) {
    // Start-up order: trace ring, node table, estimate tables, then the session.
    // "end" leaves at once; the end of input and a mismatch release the node
    // table on the way out.
    resetTraceRing();
    createNodeTable();
    loadEstimates();
    GameSession game(out);
    if (maxDepth > 0) setLevelDepth(game, std::to_string(maxDepth));
    CommandLoop loop(game, in);
    if (loop.run() != LoopExit::EndCommand) releaseNodeTable();
    return 0;
}
