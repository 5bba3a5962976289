// "db add" of 10,000 generated game records (half .psq, half .rec, 100 to a
// directory) into a fresh experience database; the target is under a minute.
// Run on its own: tarvo_bench --benchmark_filter=DbAdd
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/win_test.h"
#include "knowledge/database_commands.h"
#include "knowledge/experience_database.h"

namespace {

constexpr int GameCount = 10000;

// Random play near the stones already on the board until the win test
// decides, so that the games share openings and differ further down.
std::vector<int> playGame(std::mt19937& random, int spread) {
    Board board;
    std::vector<int> moves;
    const int first = cellAt(6 + int(random() % 8), 6 + int(random() % 8));
    board.makeMove(first);
    moves.push_back(first);
    while (moves.size() < 80) {
        const int near = moves[random() % moves.size()];
        const int x = cellX(near) + int(random() % (2 * spread + 1)) - spread;
        const int y = cellY(near) + int(random() % (2 * spread + 1)) - spread;
        if (!onBoard(x, y) || !board.isEmpty(cellAt(x, y))) continue;
        board.makeMove(cellAt(x, y));
        moves.push_back(cellAt(x, y));
        if (winTest(board) != 0) break;
    }
    return moves;
}

std::string gameText(const std::vector<int>& moves, bool psq) {
    std::string text = psq ? "Piskvorky 20x20, 11:11, 0\n" : "20\nbench bench\n";
    for (size_t i = 0; i < moves.size(); ++i)
        text += std::to_string(cellX(moves[i])) + "," + std::to_string(cellY(moves[i])) + "," + std::to_string(i) + "\n";
    return text;
}

void DbAdd(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo_db_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::filesystem::path root = pattern;
    std::mt19937 random(2024);
    size_t totalMoves = 0;
    for (int g = 0; g < GameCount; ++g) {
        const std::filesystem::path directory = root / "games" / std::to_string(g / 100);
        std::filesystem::create_directories(directory);
        const std::vector<int> moves = playGame(random, int(state.range(0)));
        totalMoves += moves.size();
        const bool psq = g % 2 == 0;
        std::ofstream(directory / ("game" + std::to_string(g) + (psq ? ".psq" : ".rec"))) << gameText(moves, psq);
    }
    const std::string database = (root / "experience.bin").string();
    for (auto _ : state) {
        ExperienceDatabase db;
        createDatabase(db, database);
        std::ostringstream report;
        addGames(db, (root / "games").string(), report);
        state.PauseTiming();
        size_t stored = 0;
        for (size_t at = report.str().find("byla"); at != std::string::npos; at = report.str().find("byla", at + 1))
            ++stored;
        state.counters["stored"] = double(stored);
        state.counters["records"] = double(db.recordCount());
        state.ResumeTiming();
    }
    state.counters["games"] = GameCount;
    state.counters["movesPerGame"] = double(totalMoves) / GameCount;
    std::filesystem::remove_all(root);
}

}  // namespace

// The argument is how far a move may land from an earlier stone: 2 gives
// short tactical games, 4 long loose ones.
BENCHMARK(DbAdd)->Arg(2)->Arg(4)->Iterations(1)->Unit(benchmark::kSecond);
