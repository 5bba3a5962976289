#include "search/statistics_run.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "board/board.h"
#include "platform/clock.h"
#include "platform/data_directory.h"
#include "search/proof_number_search.h"
#include "search/shared_state.h"

namespace {

constexpr int32_t StatisticsMargin = 20000;
constexpr int64_t StatisticsMemoryLimit = 83886080;  // 80 MiB of committed memory
constexpr int StatisticsLevel = 0;

}  // namespace

std::string nodeFileName(int number) {
    char path[40];
    std::snprintf(path, sizeof path, "tarvo/nodes/node%03d.bin", number);
    return path;
}

namespace {

// Searches every whole board image of an open node file in turn.
void runNodeFile(std::FILE* file, int fileIndex, int fileTotal, int32_t timeoutTurn, std::ostream& out) {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    // The operator sets the time per position with INFO timeout_turn.
    const int64_t searchTime = std::clamp<int64_t>(int64_t{StatisticsMargin} + timeoutTurn, 0, INT32_MAX);
    while (!std::feof(file)) {
        auto board = std::make_unique<Board>();
        if (!readBoardImage(*board, file)) break;  // end of file, or a truncated image
        ProofNode* root = createNode(nullptr, std::move(board));
        const long position = std::ferror(file) ? -1 : std::ftell(file);
        // 64-bit, so that files past 21 MB still show a true percentage.
        const int64_t percent = size > 0 ? static_cast<int64_t>(position) * 100 / size : 0;
        out << "Pocitam... " << fileIndex << " z " << fileTotal << ", " << percent << "%\n" << std::flush;
        moveDeadline = platform::clockAdd(platform::clockMs(), static_cast<int32_t>(searchTime));
        // Between two positions the run holds one Board and the file's buffer.
        carryMemoryReading();
        try {
            proofNumberSearch(root, StatisticsMargin, StatisticsMemoryLimit, StatisticsLevel, out);
        } catch (...) {
            deleteNode(root);
            throw;
        }
        deleteNode(root);
    }
}

}  // namespace

void statisticsRun(int first, int last, int32_t timeoutTurn, std::ostream& out) {
    for (int k = first; k <= last; ++k) {
        std::FILE* file = std::fopen(platform::dataPath(nodeFileName(k)).c_str(), "rb");
        if (!file) continue;
        try {
            runNodeFile(file, k - first + 1, last - first + 1, timeoutTurn, out);
        } catch (...) {
            std::fclose(file);
            throw;
        }
        if (std::fclose(file) != 0) out << "Soubor nelze zavrit.\n" << std::flush;
    }
}
