#pragma once
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "knowledge/database_error.h"
#include "knowledge/node_record.h"
#include "knowledge/symmetry_frame.h"

constexpr const char* ExperienceFilePath = "tarvo/experience.bin";

// Something that can take a game's move list for storing.
class GameStore {
public:
    virtual ~GameStore() = default;
    // May rewrite the moves in place; false refuses the game.
    virtual bool prepareGame(std::vector<int32_t>& moves);
};

// The experience file, read and written one 48-byte record at a time through
// one update-mode stream, with a cursor on one node and the frame of the game
// being followed. Every failure raises DatabaseError; links read from the
// file are checked before they are followed, so a damaged file cannot make a
// walk leave the file or go round for ever.
class ExperienceDatabase : public GameStore {
public:
    struct StartUp {};

    ExperienceDatabase() = default;
    // The process-wide instance: opens ExperienceFilePath and sets the switches.
    explicit ExperienceDatabase(StartUp);
    ExperienceDatabase(const ExperienceDatabase&) = delete;
    ExperienceDatabase& operator=(const ExperienceDatabase&) = delete;
    ~ExperienceDatabase() override;

    // Opens path "r+b" and reads the root; false (and nothing open) when the
    // file cannot be opened or its root cannot be read.
    bool open(const std::string& path);
    void close();  // DatabaseError when the close fails; the file is gone either way
    bool isOpen() const { return file != nullptr; }
    // Replaces path by a file holding only the root and reopens it "r+b".
    void createFile(const std::string& path);

    void rewind();
    bool descend(int move);
    int listChildren(std::vector<int>& moves, std::vector<NodeStats>& stats);
    NodeStats currentStats(int& move);
    bool recommend(bool secondToMove, int& move);
    void showCurrentNode(std::ostream& out);

    bool findOrAppendChild(int move, const NodeStats& stats);
    void mergeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);

    bool prepareGame(std::vector<int32_t>& moves) override;

    // Moves the cursor to the record at offset (used by the export's walk up).
    void moveTo(int32_t offset);
    int32_t recordCount() const { return records; }

    NodeRecord current;
    int32_t currentOffset = 0;
    SymmetryFrame frame;

private:
    std::FILE* file = nullptr;
    int32_t records = 0;  // whole records in the file, the bound of every walk
    std::string filePath;

    void requireOpen() const;
    void checkLink(int32_t offset) const;
    NodeRecord readRecord(int32_t offset);
    void writeRecord(int32_t offset, const NodeRecord& record);
    int32_t appendRecord(const NodeRecord& record);
    void flushFile();
    template <class Visit>
    void walkChildren(Visit visit);
};

void combineStats(NodeStats& accumulator, const NodeStats& child);

extern ExperienceDatabase experienceDatabase;
extern bool consultEnabled;  // games are followed and replies recommended
extern bool learnEnabled;    // decided games of play are stored
