#pragma once
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "protocol/game_session.h"
#include "protocol/input.h"
#include "version.h"

inline constexpr int InfoKeyCount = 3;
inline constexpr std::string_view infoKeys[InfoKeyCount] = {"time_left", "timeout_turn",
                                                            "max_memory"};

inline constexpr std::string_view AboutLine =
    "name=\"pbrain-tarvo\", version=\"0.2\", author=\"Tarvo developers\", country=\"Czech Republic\", "
    "email=\"pbrain-tarvo@example.org\"";

constexpr bool aboutNamesVersion() {
    constexpr std::string_view key = "version=\"";
    const size_t at = AboutLine.find(key);
    return at != std::string_view::npos && AboutLine.substr(at + key.size()).starts_with(Version) &&
           AboutLine.substr(at + key.size() + Version.size()).starts_with("\"");
}
static_assert(aboutNamesVersion(), "the about line names another version");

// INFO rule bits of the games this engine does not play: exactly five, renju, caro.
inline constexpr int32_t UnsupportedRules = 1 | 4 | 8;

enum class LoopExit { EndCommand, EndOfInput, ProtocolMismatch };

struct CommandLoop {
    enum class Outcome { Continue, End, Mismatch };
    // What a command needs of the game: after a refused START such a command
    // is read (its line, and its block up to DONE) and refused whole.
    enum class Needs { Nothing, Game, GameAndBlock };
    struct Command {
        std::string_view word;
        Outcome (CommandLoop::*run)();
        Needs needs = Needs::Nothing;
    };
    // The command a (lower-case) word names, or null.
    static const Command* findCommand(std::string_view word);

    GameSession& game;
    ProtocolInput input;
    std::ostream& out;
    int32_t boardSize = 0;
    // START asked for a board this engine does not play: no game until START 20.
    bool boardRefused = false;
    // After yxshowinfo the GUI knows this engine: yx words it does not know
    // get no reply.
    bool quietYxWords = false;
    // A "tarvo" folder found at start-up keeps its files whatever a manager's
    // INFO folder says.
    const bool dataFolderAtStartUp;
    std::string permanentFolder;  // the INFO folder in use, if any

    // Replies go where the session writes its own lines.
    CommandLoop(GameSession& session, std::istream& in);
    ~CommandLoop();
    CommandLoop(const CommandLoop&) = delete;
    CommandLoop& operator=(const CommandLoop&) = delete;

    LoopExit run();

    // One per command word.
    Outcome commandPass();
    Outcome commandIn();
    Outcome commandProblem();
    Outcome commandBest();
    Outcome commandTurn();
    Outcome commandZturn();
    Outcome commandMoveback();
    Outcome commandInfo();
    Outcome commandStart();
    Outcome commandBegin();
    Outcome commandEnd();
    Outcome commandBoard();
    Outcome commandPlay();
    Outcome commandAbout();
    Outcome commandDb();
    Outcome commandStats();
    Outcome commandRead();
    Outcome commandPrint();
    Outcome commandRestart();
    Outcome commandTakeback();
    Outcome commandYxShowInfo();
    Outcome commandYxBoard();
    Outcome commandYxShowForbid();
    Outcome commandYxStop();
    Outcome commandYxNbest();
    Outcome commandYxHashClear();
    Outcome commandRectStart();
    Outcome commandSwap2Board();
    Outcome commandState();
    Outcome commandLearn();
    // Yixin-Board's opening rules (opening_words.cpp).
    Outcome commandYxSwap2Step1();
    Outcome commandYxSwap2Step2();
    Outcome commandYxSwap2Step3();
    Outcome commandYxSoosorvStep1();
    Outcome commandYxSoosorvStep2();
    Outcome commandYxSoosorvStep3();
    Outcome commandYxSoosorvStep4();
    Outcome commandYxSoosorvStep5();
    Outcome commandYxSoosorvStep6();
    // Its Balance and Defend buttons (analysis_words.cpp).
    Outcome commandYxBalanceOne();
    Outcome commandYxBalanceTwo();
    Outcome commandYxSearchDefend();

private:
    Outcome runCommand(const Command& command);
    Outcome refuseWithoutGame(const Command& command);
    Outcome answerSoosorvStep(int step, bool readsCount);
    Outcome answerBalance(int count);
    void answerTurn(int cell);
    bool refuseOccupied(int cell);
    bool refuseOverlong(WordRead read);
    bool skipQuietWord();
    void infoLineKey(std::string_view key, const char* value);
    void useFolder(const std::string& folder);
};

// Start-up, the command loop and the way out; the process exits with this
// value, 0 on every way out. A maxDepth above 0 is a level, as INFO
// max_depth sets it.
int runEngine(std::istream& in, std::ostream& out, int32_t maxDepth = 0);
