#pragma once
#include <cstdint>
#include <ostream>

#include "board/board.h"
#include "knowledge/experience_database.h"
#include "protocol/input.h"

constexpr int32_t MinimumMemoryBudget = 2097152;
constexpr int32_t ReplyReserveMs = 200;  // held back of a turn for writing the reply

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
    bool followsKnowledgeBase = consultEnabled;
    // False after a BOARD whose lines do not alternate in colour: the record is
    // then no game that could be followed in the database or learned from.
    bool recordIsGame = true;
    std::ostream& out;  // where the game's own reply lines go

    explicit GameSession(std::ostream& output) : out(output) {}

    void setMemoryBudget(int32_t bytes);
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

// min(timeoutTurn, timeLeft / 6) in milliseconds.
int32_t turnBudget(const GameSession& game);

// An empty Board rebuilt from scratch, an empty move record and the database
// cursor back at its root; sideToMove and the INFO settings stay.
void resetGame(GameSession& game);

// A database that fails during play: reported, and not followed for the rest
// of the game.
void reportDatabaseError(GameSession& game);

// The three-panel picture; the caller ends its last line.
void printBoard(Board& board, std::ostream& out);
