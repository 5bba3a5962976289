#include "protocol/analysis_lines.h"

#include <cstdio>
#include <memory>

#include "board/line_patterns.h"
#include "board/win_test.h"
#include "protocol/output.h"
#include "search/static_value.h"
#include "search/winrate.h"

std::string lineText(const SearchReport& report) {
    std::string text;
    for (int cell : report.line) {
        if (!text.empty()) text += ' ';
        text += cellText(cell);
    }
    return text;
}

namespace {

int32_t speed(const SearchReport& report) {
    return int32_t(int64_t(report.nodes) * 1000 / (report.timeMs > 0 ? report.timeMs : 1));
}

// Plies the side to move of a decided position still needs: a five point
// takes one, an open four (or two fours) three, a four-three five; a side
// facing two five points loses on the opponent's next move.
int32_t pliesToFive(Board& board) {
    if (winTest(board) < 0) return 2;
    return 2 * winDistance[readClass(board.moverThreats().strongestClass())] + 1;
}

// Whether the cell is a five point of the side to move: an entry of class 0,
// which a list reads first.
bool makesFive(const Board& board, int cell) {
    for (const ThreatEntry e : board.moverThreats()) {
        if (e.threatClass > 0) return false;
        if (e.cell == cell) return true;
    }
    return false;
}

}  // namespace

int32_t provedDistance(const Board& root, const SearchReport& report) {
    if (report.value < WinValue && report.value > -WinValue) return 0;
    std::unique_ptr<Board> board = copyBoard(root);
    for (size_t i = 0; i < report.line.size(); ++i) {
        const int cell = report.line[i];
        if (cell < 0 || cell >= CellCount || !board->isEmpty(cell)) return int32_t(i);
        if (makesFive(*board, cell)) return int32_t(i + 1);  // the five itself
        board->makeMove(cell);
    }
    return int32_t(report.line.size()) + pliesToFive(*board);
}

std::string evalText(const Board& root, const SearchReport& report) {
    const int32_t distance = provedDistance(root, report);
    if (distance > 0) return (report.value > 0 ? "+M " : "-M ") + std::to_string(distance);
    return std::to_string(report.value);
}

void writePvBlock(std::ostream& out, int index, int count, const Board& root, const SearchReport& report) {
    char winrateText[16];
    std::snprintf(winrateText, sizeof winrateText, "%.4f", winrate(report.value));
    writeLine(out, "INFO PV " + std::to_string(index));
    writeLine(out, "INFO NUMPV " + std::to_string(count));
    writeLine(out, "INFO DEPTH " + std::to_string(report.depth));
    writeLine(out, "INFO SELDEPTH " + std::to_string(report.selectiveDepth));
    writeLine(out, "INFO NODES " + std::to_string(report.nodes));
    writeLine(out, "INFO TOTALTIME " + std::to_string(report.timeMs));
    writeLine(out, "INFO SPEED " + std::to_string(speed(report)));
    writeLine(out, "INFO EVAL " + evalText(root, report));
    writeLine(out, std::string("INFO WINRATE ") + winrateText);
    writeLine(out, "INFO BESTLINE " + lineText(report));
    writeLine(out, "INFO PV DONE");
}

void writeBestAndSummary(std::ostream& out, const Board& root, const SearchReport& report) {
    if (report.line.empty()) return;
    writeLine(out, "MESSAGE REALTIME BEST " + cellText(report.line[0]));
    const int percent = int(winrate(report.value) * 100 + 0.5);
    if (report.depth == 0) {
        writeLine(out, "MESSAGE reply without a search, value " + evalText(root, report) + " (" +
                           std::to_string(percent) + "%), line " + lineText(report));
        return;
    }
    writeLine(out, "MESSAGE depth " + std::to_string(report.depth) + "-" + std::to_string(report.selectiveDepth) +
                       ", value " + evalText(root, report) + " (" + std::to_string(percent) + "%), nodes " +
                       std::to_string(report.nodes) + ", " + std::to_string(speed(report)) + " nodes/s, " +
                       std::to_string(report.timeMs) + " ms, line " + lineText(report));
}
