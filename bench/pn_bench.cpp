// Proof-number search figures: iterations per second and bytes per node on
// positions of a small generated database (also after a fixed number of
// iterations, where every build grows the same graph), and the peak resident memory of a
// statistics run under its 80 MiB limit. Run the stats figure on its own
// (--benchmark_filter=StatsRun) so that no earlier graph inflates the process.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "board/analysis.h"
#include "board/board.h"
#include "board/board_image.h"
#include "platform/clock.h"
#include "platform/data_directory.h"
#include "platform/memory.h"
#include "search/estimates.h"
#include "search/node_table.h"
#include "search/proof_number_search.h"
#include "search/proof_state.h"
#include "protocol/statistics_run.h"

namespace {

// Short games whose moves are drawn from the analysis' first few moves; every
// open position from ply 6 to 14 is kept, as the database export would keep it.
std::vector<std::string> databaseImages(int games) {
    std::mt19937 random(20040101);
    std::vector<std::string> images;
    for (int g = 0; g < games; ++g) {
        Board board;
        AnalysisResult listed;
        for (int ply = 0; ply < 15; ++ply) {
            if (analyse(board, listed) != 0) break;
            const int choices = std::min<int>(listed.resultCount, 3);
            const int cell = listed.resultCells[random() % choices];
            if (ply >= 6 && ply % 4 == 2) {
                std::FILE* file = std::tmpfile();
                writeBoardImage(board, file);
                std::string bytes(std::ftell(file), '\0');
                std::rewind(file);
                if (std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size()) images.push_back(bytes);
                std::fclose(file);
            }
            board.makeMove(cell);
        }
    }
    return images;
}

std::unique_ptr<Board> boardFromImage(const std::string& image) {
    std::FILE* file = std::tmpfile();
    std::fwrite(image.data(), 1, image.size(), file);
    std::rewind(file);
    auto board = std::make_unique<Board>();
    readBoardImage(*board, file);
    std::fclose(file);
    return board;
}

size_t graphSize(ProofNode* root) {
    std::unordered_set<ProofNode*> seen{root};
    std::vector<ProofNode*> todo{root};
    while (!todo.empty()) {
        ProofNode* node = todo.back();
        todo.pop_back();
        for (int i = 0; i < node->childCount; ++i)
            if (seen.insert(node->children[i]).second) todo.push_back(node->children[i]);
    }
    return seen.size();
}

void setUp() {
    createNodeTable();
    for (int i = 0; i < EstimateCount; ++i) pnEst[i] = dnEst[i] = 1;
}

// The heap in use, including blocks the allocator maps on their own.
int64_t heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

void BM_ProofNumberSearch(benchmark::State& state) {
    setUp();
    const std::vector<std::string> images = databaseImages(8);
    const int32_t searchMs = static_cast<int32_t>(state.range(0));
    int64_t iterations = 0, nodes = 0, bytes = 0, proven = 0, disproven = 0;
    double seconds = 0;
    SearchContext context;
    for (auto _ : state) {
        for (const std::string& image : images) {
            const int64_t heapBefore = heapBytes();
            ProofNode* root = createNode(nullptr, boardFromImage(image));
            context.moveDeadline = platform::clockAdd(platform::clockMs(), 20000 + searchMs);
            const int32_t start = platform::clockMs();
            const ProofSearchResult result = proofNumberSearch(context, root, 20000, int64_t{1} << 40, 0);
            seconds += platform::clockDiff(platform::clockMs(), start) / 1000.0;
            iterations += result.iterations;
            const size_t size = graphSize(root);
            nodes += static_cast<int64_t>(size);
            bytes += heapBytes() - heapBefore;
            proven += root->pn == 0;
            disproven += root->dn == 0;
            deleteNode(root);
        }
    }
    state.counters["positions"] = static_cast<double>(images.size());
    state.counters["iterations/s"] = iterations / (seconds > 0 ? seconds : 1);
    state.counters["bytes/node"] = nodes ? static_cast<double>(bytes) / nodes : 0;
    state.counters["nodes"] = static_cast<double>(nodes) / state.iterations();
    state.counters["proven"] = static_cast<double>(proven) / state.iterations();
    state.counters["disproven"] = static_cast<double>(disproven) / state.iterations();
}
BENCHMARK(BM_ProofNumberSearch)->Arg(200)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The search's own loop for exactly state.range(0) iterations per position,
// with no clock or memory reading: the graph is a function of the position,
// so its size and the root's numbers (folded into "digest") must agree
// between builds, and the bytes per node compare like for like.
void BM_ProofNumberFixed(benchmark::State& state) {
    setUp();
    const std::vector<std::string> images = databaseImages(8);
    const int64_t count = state.range(0);
    int64_t nodes = 0, bytes = 0, iterations = 0;
    uint64_t digest = 0;
    SearchContext context;
    for (auto _ : state) {
        for (const std::string& image : images) {
            const int64_t heapBefore = heapBytes();
            ProofNode* root = createNode(nullptr, boardFromImage(image));
            expandNode(context, root, 0);
            setNumbers(root, 0);
            ProofNode* current = root;
            for (int64_t i = 0; i < count && !root->decided() && root->childCount > 0; ++i) {
                if (current->decided()) current = root;
                ProofNode* m = selectMostProving(current, 0);
                expandNode(context, m, 0);
                current = updateAncestors(m, 0);
                ++iterations;
            }
            const int64_t size = static_cast<int64_t>(graphSize(root));
            nodes += size;
            bytes += heapBytes() - heapBefore;
            digest = digest * 1000003 + static_cast<uint64_t>(size) * 31 + static_cast<uint32_t>(root->pn) * 7 +
                     static_cast<uint32_t>(root->dn);
            deleteNode(root);
        }
    }
    state.counters["iterations"] = static_cast<double>(iterations);
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["bytes/node"] = nodes ? static_cast<double>(bytes) / nodes : 0;
    state.counters["digest"] = static_cast<double>(digest % 1000000007);
}
BENCHMARK(BM_ProofNumberFixed)->Arg(2000)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);

int64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return 0;
}

void BM_StatsRunPeakMemory(benchmark::State& state) {
    setUp();
    const auto previous = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() / "tarvo_pn_bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "tarvo/nodes");
    std::filesystem::current_path(dir);
    {
        std::ofstream file(platform::nodeFilePath(1), std::ios::binary);
        const std::vector<std::string> images = databaseImages(3);
        for (size_t i = 0; i < images.size() && i < 4; ++i) file << images[i];
    }
    std::ostream discard(nullptr);
    int64_t peak = 0, before = 0;
    SearchContext context;
    for (auto _ : state) {
        before = platform::committedMemoryBytes();
        std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak count
        statisticsRun(context, 1, 1, static_cast<int32_t>(state.range(0)), discard);
        peak = peakResidentBytes();
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    state.counters["start MiB"] = before / 1048576.0;
    state.counters["peak MiB"] = peak / 1048576.0;
    state.counters["limit MiB"] = 80;
    state.counters["over limit KiB"] = (peak - 83886080) / 1024.0;
}
BENCHMARK(BM_StatsRunPeakMemory)->Arg(8000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
