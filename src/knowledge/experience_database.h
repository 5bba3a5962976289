#pragma once
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "knowledge/database_error.h"
#include "knowledge/node_record.h"
#include "knowledge/pending_store.h"
#include "knowledge/record_cache.h"
#include "knowledge/reply_policy.h"
#include "knowledge/symmetry_frame.h"

// How long a store waits for another process's store to end, away from play.
constexpr int32_t OfflineStoreWaitMs = 5000;
// How long a read that met a record in the middle of a write waits for the
// writer before it reads again; it happens during turns.
constexpr int32_t ReadRetryWaitMs = 50;

// Links are signed 32-bit byte offsets: the last record a file can hold
// starts below 2 GiB.
constexpr int32_t MaxRecords = INT32_MAX / RecordSize;
constexpr int64_t MaxFileBytes = int64_t{MaxRecords} * RecordSize;

// Something that can take a game's move list for storing.
class GameStore {
public:
    virtual ~GameStore() = default;
    // May rewrite the moves in place; false refuses the game.
    virtual bool prepareGame(std::vector<int32_t>& moves);
};

// The experience file, read one 48-byte record at a time, with a cursor on one
// node and the frame of the game being followed. Every failure raises
// DatabaseError; links read from the file are checked before they are
// followed, so a damaged file cannot make a walk leave the file or go round
// for ever.
//
// Several processes may use one file. A store holds an exclusive lock on it
// from start to end; reads outside a store take no lock but never trust a
// copy: the current record is read again before its children are walked, a
// link past the known end makes the size be read again, and a read that fails
// is made again under a shared lock. A store works in a RecordCache and writes
// its changes together at its end, every new record whole before it is
// linked, so a reader (or a process killed at any moment) only ever meets
// records that are whole or unlinked. The cache outlives the lock only while
// the stamp file beside the experience file (which every store counts up
// before it writes) and the file's size say that no other store came between.
class ExperienceDatabase : public GameStore {
public:
    enum class StoreStart {
        Ready,    // the lock is held and the file may be written
        Busy,     // another process kept its lock for the whole wait
        Damaged,  // a link points outside the file: this process never writes it
        Full,     // a store was refused for the size limit: nothing more is stored in this run
    };

    // Holds the store lock for one scope; scopes nest within one process.
    struct StoreLock {
        ExperienceDatabase& database;
        StoreStart state;
        StoreLock(ExperienceDatabase& db, int32_t waitMs) : database(db), state(db.beginStore(waitMs)) {}
        StoreLock(const StoreLock&) = delete;
        StoreLock& operator=(const StoreLock&) = delete;
        ~StoreLock() {
            if (state == StoreStart::Ready) database.endStore();
        }
        bool ready() const { return state == StoreStart::Ready; }
    };

    // Many lines under one hold of the lock (an import): mergeLine only works
    // them out in memory until commit writes them all, with one marker. A
    // batch that is not committed is forgotten.
    struct StoreBatch {
        StoreLock lock;
        StoreBatch(ExperienceDatabase& db, int32_t waitMs);
        StoreBatch(const StoreBatch&) = delete;
        StoreBatch& operator=(const StoreBatch&) = delete;
        ~StoreBatch();
        bool ready() const { return lock.ready(); }
        void commit();  // DatabaseError: then none of the lines counts as stored
    };

    // Keeps what the stores of a long run of them (an import) read, however
    // much that is, until the scope ends; otherwise a store keeps no more
    // than CacheBudget bytes of the file in memory after it.
    struct CacheScope {
        ExperienceDatabase& database;
        size_t budget;
        explicit CacheScope(ExperienceDatabase& db) : database(db), budget(db.cacheBudget) {
            db.cacheBudget = SIZE_MAX;
            db.cache.readAheadWhenBusy(true);
        }
        CacheScope(const CacheScope&) = delete;
        CacheScope& operator=(const CacheScope&) = delete;
        ~CacheScope() {
            database.cacheBudget = budget;
            database.cache.readAheadWhenBusy(false);
            database.trimCache();
        }
    };
    static constexpr size_t CacheBudget = size_t(16) << 20;

    // The whole file read once into memory, consistent (no store came in
    // between), for a walk of the whole tree; reads are served from it.
    struct ReadSnapshot {
        ExperienceDatabase& database;
        explicit ReadSnapshot(ExperienceDatabase& db) : database(db) { db.beginSnapshot(); }
        ReadSnapshot(const ReadSnapshot&) = delete;
        ReadSnapshot& operator=(const ReadSnapshot&) = delete;
        ~ReadSnapshot() { database.endSnapshot(); }
    };

    // Touches no file: the process-wide instance is opened by openAtStartUp.
    ExperienceDatabase() = default;
    ExperienceDatabase(const ExperienceDatabase&) = delete;
    ExperienceDatabase& operator=(const ExperienceDatabase&) = delete;
    ~ExperienceDatabase() override;

    // The run's start-up: opens platform::ExperienceFilePath in the data folder and sets
    // both switches to whether that worked.
    void openAtStartUp();
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
    // The current node's children in chain order; counting the games below
    // them reads at most readBudget records in all.
    std::vector<Continuation> continuations(int32_t readBudget);
    void showCurrentNode(std::ostream& out);

    // Outside a StoreLock both take the lock themselves, waiting OfflineStoreWaitMs.
    bool findOrAppendChild(int move, const NodeStats& stats);
    void mergeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);

    // Every link of the file is checked when it is opened (or, failing that,
    // by the first store), every later store checks the records added since;
    // a torn last record is cut off and a store that another process left
    // unfinished is finished. Raises DatabaseError when the file fails on the way.
    StoreStart beginStore(int32_t waitMs);
    void endStore();
    // Records the line that a store is about to write (mergeLine does it).
    void markPendingStore(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);
    bool isDamaged() const { return damaged; }
    // True once: the first refusal of a damaged file is the one that names it.
    bool takeDamageNotice();
    // A store that would take the file past this many bytes (past its end,
    // MaxFileBytes, when 0) is refused whole, before anything of it is
    // written, and so is every store after it in this run.
    void setSizeLimit(int64_t bytes);
    int32_t recordLimit() const { return sizeCap > 0 ? int32_t(sizeCap / RecordSize) : MaxRecords; }
    bool isFull() const { return full; }
    int64_t sizeLimit() const { return sizeCap; }  // 0: none below MaxFileBytes
    int32_t recordsKnown() const { return records; }  // whole records when last looked

    bool prepareGame(std::vector<int32_t>& moves) override;

    // Moves the cursor to the record at offset (used by the export's walk up).
    void moveTo(int32_t offset);
    // The whole records the file holds now.
    int32_t recordCount();
    const std::string& path() const { return filePath; }

    NodeRecord current;
    int32_t currentOffset = 0;
    SymmetryFrame frame;

    // Set at start-up (and by a manager's permanent folder) to whether the
    // file is open: games are followed and replies recommended.
    bool consultEnabled = false;
    // Decided games of play are stored; cleared for good when the file
    // refuses stores for damage or size.
    bool learnEnabled = false;

private:
    std::FILE* file = nullptr;
    int32_t records = 0;  // whole records in the file when last looked, the bound of every walk
    int64_t tornBytes = 0;  // of a record cut short at the end, when last looked
    std::string filePath;
    int storeDepth = 0;
    int32_t checkedRecords = 0;  // the records whose links a store has checked
    bool damaged = false;
    bool damageReported = false;
    bool full = false;
    int64_t sizeCap = 0;  // bytes; 0: none below the file's end

    RecordCache cache;
    size_t cacheBudget = CacheBudget;
    bool cacheActive = false;  // reads and writes go through the cache: in a store or a snapshot
    uint64_t cacheStamp = 0;   // the stamp this process wrote at its last store; 0 for none
    int snapshotDepth = 0;
    bool staging = false;      // changes wait in the cache until the store writes them
    bool batchOpen = false;
    int32_t appendLimit = MaxRecords;  // for the line being worked out
    bool appendLimitReached = false;
    std::vector<PendingLine> stagedLines;

    void requireOpen() const;
    void readFileSize();
    void readFileSizeNow();
    bool beyondRecords(int64_t count);
    void checkLink(int32_t offset);
    bool linksSoundFrom(int32_t first);
    void checkLinksAtStart();
    bool trustCacheAndCount();
    void forgetCache();
    void trimCache();
    void beginSnapshot();
    void endSnapshot();
    bool stageWithin(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats, int32_t limit);
    void stageLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);
    void commitLines();
    void writeStaged();
    void markPendingLines(const std::vector<PendingLine>& lines);
    void storeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats);
    void finishPendingStore();
    void removePendingStore();
    NodeRecord readRecord(int32_t offset);
    void writeRecord(int32_t offset, const NodeRecord& record);
    int32_t appendRecord(const NodeRecord& record);
    template <class Visit>
    void walkChildren(Visit visit);
    template <class Read>
    auto readSteadily(Read read);
};

// The process-wide instance; main opens it before the command loop starts.
extern ExperienceDatabase experienceDatabase;
