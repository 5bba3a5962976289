#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "board/board.h"
#include "knowledge/experience_database.h"
#include "protocol/input.h"
#include "search/deep_search.h"
#include "search/search_context.h"

constexpr int32_t MinimumMemoryBudget = 2097152;

// How the engine chose its last move (or its answer to "best"), for the
// state command.
struct MoveChoice {
    enum class Source { None, Database, Fast, Forced, Search };
    Source source = Source::None;
    int cell = -1;
    int32_t value = 0;        // the search's value, for Source::Search
    int32_t staticValue = 0;  // of the position the move was chosen in
    int32_t nodes = 0;
    int32_t elapsedMs = 0;
    int32_t depth = 0, selectiveDepth = 0;  // for Source::Search
    std::vector<int> line;                 // the principal variation, from the move on
    // The position it was chosen in.
    int32_t moveCount = 0;
    PositionKey positionKey;
};

// The last turn's search, for the replies that run none: its value stands,
// for the side it was searched for, while every stone it saw still stands
// (a GUI that sends the whole position again every move starts no new game).
struct SearchedValue {
    bool known = false;
    int32_t value = 0;
    int side = 1;
    int8_t stones[CellCount] = {};  // NoStone, 0 or 1 by cell

    void remember(const Board& board, int32_t searchedValue);
    // The value for the side now to move on board, when board still holds
    // every stone the search saw; false otherwise.
    bool carriedTo(const Board& board, int32_t& carried) const;
};

// The one game the command loop holds for the whole run.
struct GameSession {
    Board board;
    // Moves past the 400th (possible only after debug take-backs) are played
    // but no longer recorded.
    int32_t moveRecord[CellCount] = {};
    int32_t moveRecordCount = 0;
    int32_t timeLeft = 120000;
    int32_t timeoutTurn = 10000;
    int32_t memoryBudget = 83886080;
    // INFO show_detail: with any bit set, every reply shows what was found
    // for it in the analysis GUIs' words.
    int32_t showDetail = 0;
    // The database cursor stands on the node of the position: each move is
    // followed in it. Once a move leaves the stored lines it stays clear until
    // a new game starts or a TAKEBACK returns to a stored line.
    bool followsExperienceDatabase = experienceDatabase.consultEnabled;
    // A failing file left the cursor behind the game: the next turn looks for
    // the game's node again from the root.
    bool refollowDue = false;
    // The clock reading when the command asking for the engine's move had been
    // read: the turn's time runs from there, the database's work included.
    int32_t turnStartMs = 0;
    // How long a store during play waits for another process's store: set by
    // the turn driver from the turn's budget (this is its start-up value).
    int32_t storeWaitMs = 50;
    // While a turn's reply is not written, a game that a move decides is
    // stored only after the reply (finishTurn): a store never delays it.
    bool replyPending = false;
    bool learningDue = false;
    // The judged moves of the last game offered to the experience database: a
    // game is offered once, at the first move that decides it, and a position
    // sent again (a winning move after the deciding one, the same game in a
    // BOARD) is not offered again.
    std::vector<int32_t> lastOffered;
    // False after a BOARD whose lines do not alternate in colour: the record is
    // then no game that could be followed in the database or learned from.
    bool recordIsGame = true;
    MoveChoice lastChoice;
    SearchedValue lastSearchValue;
    // The turn's search state: its deadline, node counter, the analysis'
    // list and the best line; the statistics run searches with it too.
    SearchContext search;
    // The level a manager or GUI asked for (INFO max_depth, INFO max_node,
    // --max-depth): depth 7 without a node cap is the tournament play.
    SearchLimits level;
    // INFO hash_size in kilobytes (0: none sent) and whether INFO max_memory
    // was sent: they size the deeper search's table.
    int64_t hashKilobytes = 0;
    bool memoryGiven = false;
    // The deeper search's own state beside `search`, made at its first use
    // and kept with its table from turn to turn.
    std::unique_ptr<DeepSearchContext> deepSearch;
    // Asked by the deeper search while it runs: true when input asks it to
    // stop (set by the command loop; empty when nothing watches the input).
    std::function<bool()> stopRequested;
    std::ostream& out;  // where the game's own reply lines go

    explicit GameSession(std::ostream& output) : out(output) {}

    void setMemoryBudget(int32_t bytes);
    // A command asks for the engine's move: the clock starts, stores wait
    // until the reply is out and then wait at most waitMs for another's.
    void startTurn(int32_t waitMs);
    // The reply is out: a game decided during the turn is stored now.
    void finishTurn();
    // The position is no longer a stored line's (a move off the lines, a pass,
    // a debug step, a position read from a file).
    void leaveStoredLines();
    // Follows the move record down from the database's root; following goes
    // on when every move is found.
    void refollowFromRoot();
    // The move of the side to move; the cell must be empty.
    void playMove(int cell);
    // TAKEBACK: undoes the last recorded move when it is the stone on cell, so
    // that the position, the record and the database cursor are those from
    // before it. False, with nothing changed, for any other cell.
    bool takeBackLastMove(int cell);
    // "in": "." takes the last stone back, a letter plays that listed move of
    // the forced-move analysis; then the picture. False (and an ERROR line)
    // for a letter the list does not have.
    bool stepCandidate(int c);
    // "board": the position lines up to the DONE line. False when the input
    // ended first.
    bool readBoardInput(ProtocolInput& input);
    // "read" and "problem". False when the file cannot be opened; the Board is
    // then empty and consistent.
    bool readPosition(const char* name);
};

// An empty Board rebuilt from scratch, an empty move record and the database
// cursor back at its root; sideToMove and the INFO settings stay.
void resetGame(GameSession& game);

// A database that fails during play: reported, not followed for the rest of
// the turn, and the next turn finds the game's node again from the root.
void reportDatabaseError(GameSession& game);

// The three-panel picture; the caller ends its last line.
void printBoard(Board& board, std::ostream& out);
