// Yixin-Board's opening rules and its Balance and Defend buttons, word by
// word and as whole sequences the way the GUI sends them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/scratch_directory.h"
#include "protocol/session_driver.h"
#include "protocol/soosorv.h"

namespace {

const std::string QuickClock = "INFO timeout_turn 300\r\nINFO time_left 100000\r\n";
// For answers that must be the search's own: time enough that no search of
// these small positions is cut short, in a sanitised build too.
const std::string FullClock = "INFO timeout_turn 5000\r\nINFO time_left 100000\r\n";

int cellOf(int x, int y) { return x + 20 * y; }

std::string pointText(int cell) { return std::to_string(cell % 20) + "," + std::to_string(cell / 20); }

std::vector<std::string> linesOf(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every cell an output line names for the GUI to place or mark: "x y" behind
// a MOVE word, "x,y" of a move line or a REALTIME mark.
std::vector<int> namedCells(const std::string& line) {
    static const std::regex spaced("MESSAGE (SWAP2|SOOSORV) MOVE[1-5]C? ([0-9]+) ([0-9]+).*");
    static const std::regex mark("MESSAGE REALTIME (POS|DONE|LOSE|BEST) ([0-9]+),([0-9]+)");
    static const std::regex move("([0-9]+),([0-9]+)( ([0-9]+),([0-9]+))?");
    std::smatch m;
    if (std::regex_match(line, m, spaced)) return {cellOf(std::stoi(m[2]), std::stoi(m[3]))};
    if (std::regex_match(line, m, mark)) return {cellOf(std::stoi(m[2]), std::stoi(m[3]))};
    if (!std::regex_match(line, m, move)) return {};
    std::vector<int> cells = {cellOf(std::stoi(m[1]), std::stoi(m[2]))};
    if (m[3].matched) cells.push_back(cellOf(std::stoi(m[4]), std::stoi(m[5])));
    return cells;
}

// The GUI's side of a game: the stones in the order played, black first.
struct GuiGame {
    SessionDriver engine;
    std::vector<int> stones;

    bool taken(int cell) const { return std::find(stones.begin(), stones.end(), cell) != stones.end(); }
    // Its board block: "x,y,1" for the side to move's stones, 2 for the other's.
    std::string yxboard(const std::string& word = "yxboard") const {
        std::string text = "INFO time_left 100000\r\nstart 20\r\n" + word + "\r\n";
        for (size_t i = 0; i < stones.size(); ++i)
            text += pointText(stones[i]) + (stones.size() % 2 == i % 2 ? ",1\r\n" : ",2\r\n");
        return text + "done\r\n";
    }
    // The Soosorv words' block: the stones as "x,y" lines.
    std::string plainBlock() const {
        std::string text;
        for (int cell : stones) text += pointText(cell) + "\r\n";
        return text + "done\r\n";
    }
    // The engine's answer; every cell it names lies on an empty point, and
    // every stone it places goes on the board.
    std::vector<std::string> ask(const std::string& input) {
        const std::vector<std::string> lines = linesOf(engine.run(input));
        for (const std::string& line : lines) {
            EXPECT_FALSE(line.starts_with("ERROR")) << line;
            for (int cell : namedCells(line)) EXPECT_FALSE(taken(cell)) << line;
        }
        return lines;
    }
    void place(int cell) {
        ASSERT_FALSE(taken(cell)) << pointText(cell);
        stones.push_back(cell);
    }
    // The human's stone: the empty point nearest the centre.
    int humanStone() const {
        for (int ring = 0; ring < 20; ++ring)
            for (int cell = 0; cell < 400; ++cell)
                if (std::max(std::abs(cell % 20 - 10), std::abs(cell / 20 - 10)) == ring && !taken(cell)) return cell;
        return -1;
    }
    // The board block asks for a move: it goes on the board.
    void engineMoves() {
        const std::vector<std::string> lines = ask(yxboard("board"));
        ASSERT_FALSE(lines.empty());
        const std::vector<int> cells = namedCells(lines.back());
        ASSERT_EQ(cells.size(), 1u) << lines.back();
        place(cells[0]);
    }
};

// The cells of the lines that begin with prefix, in order.
std::vector<int> cellsOf(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<int> cells;
    for (const std::string& line : lines)
        if (line.starts_with(prefix))
            for (int cell : namedCells(line)) cells.push_back(cell);
    return cells;
}

std::string yxboardOf(const std::vector<int>& stones) {
    GuiGame g;
    g.stones = stones;
    return g.yxboard();
}

std::string blockOf(const std::vector<int>& stones) {
    GuiGame g;
    g.stones = stones;
    return g.plainBlock();
}

const int C = cellOf(9, 9);
const std::vector<int> BlackAheadThree = {C, cellOf(0, 0), cellOf(10, 9)};
const std::vector<int> WhiteAheadThree = {cellOf(0, 0), C, cellOf(19, 19)};
const std::vector<int> WhiteAheadFive = {C, cellOf(10, 10), cellOf(0, 0), cellOf(11, 11), cellOf(19, 19)};
const std::vector<int> BlackAheadFive = {C, cellOf(0, 0), cellOf(10, 9), cellOf(19, 19), cellOf(11, 9)};
const std::vector<int> SoosorvThree = {cellOf(10, 10), cellOf(11, 10), cellOf(10, 12)};
const std::vector<int> SoosorvFour = {cellOf(10, 10), cellOf(11, 10), cellOf(10, 12), cellOf(9, 11)};
// White's open three on the line y = 8 (x 9..11), black to move.
const std::vector<int> OpenThreeToStop = {cellOf(9, 10), cellOf(9, 8), cellOf(10, 10),
                                          cellOf(10, 8), cellOf(11, 11), cellOf(11, 8)};

TEST(OpeningWords, EachWordAnswersWhatTheGuiWaitsFor) {
    const std::string n = "[0-9]+";
    const std::string mv = n + "," + n;
    struct Case {
        const char* name;
        std::vector<int> stones;  // on the board the named cells must avoid
        std::string input;
        std::string expected;  // the whole output, a pattern
    };
    std::vector<int> offered = SoosorvFour;
    offered.insert(offered.end(), {cellOf(12, 12), cellOf(8, 8), cellOf(11, 11)});
    const Case cases[] = {
        {"swap2 opening", {}, "yxswap2step1\r\n",
         "MESSAGE SWAP2 MOVE1 9 9\nMESSAGE SWAP2 MOVE2 " + n + " " + n + "\nMESSAGE SWAP2 MOVE3 " + n + " " + n + "\n"},
        {"swap2 three stones", {C, cellOf(10, 10), cellOf(9, 11)},
         yxboardOf({C, cellOf(10, 10), cellOf(9, 11)}) + "yxswap2step2\r\n",
         "OK\n(MESSAGE SWAP2 SWAP1 (YES|NO)|MESSAGE SWAP2 MOVE4 " + n + " " + n + "\nMESSAGE SWAP2 MOVE5 " + n + " " +
             n + ")\n"},
        // The engine's own judgement: it takes black when black is ahead,
        // stays white when white is, and chooses its colour likewise.
        {"swap2 black ahead", BlackAheadThree, FullClock + yxboardOf(BlackAheadThree) + "yxswap2step2\r\n",
         "OK\nMESSAGE SWAP2 SWAP1 YES\n"},
        {"swap2 white ahead", WhiteAheadThree, FullClock + yxboardOf(WhiteAheadThree) + "yxswap2step2\r\n",
         "OK\nMESSAGE SWAP2 SWAP1 NO\n"},
        {"swap2 five, white ahead", WhiteAheadFive, FullClock + yxboardOf(WhiteAheadFive) + "yxswap2step3\r\n",
         "OK\nMESSAGE SWAP2 SWAP2 NO\n"},
        {"swap2 five, black ahead", BlackAheadFive, FullClock + yxboardOf(BlackAheadFive) + "yxswap2step3\r\n",
         "OK\nMESSAGE SWAP2 SWAP2 YES\n"},
        {"swap2 step 2 on two stones", {}, yxboardOf({C, cellOf(10, 10)}) + "yxswap2step2\r\n",
         "OK\nERROR yxswap2step2 needs 3 stones on the board, not 2\n"},
        {"soosorv opening", {}, "yxsoosorvstep1\r\n",
         "MESSAGE SOOSORV MOVE1 10 10\nMESSAGE SOOSORV MOVE2 (9|10|11) (9|10|11)\nMESSAGE SOOSORV MOVE3 " + n + " " +
             n + "\n"},
        {"soosorv swap 1", SoosorvThree, "yxsoosorvstep2\r\n" + blockOf(SoosorvThree),
         "MESSAGE SOOSORV SWAP1 (YES|NO)\n"},
        {"soosorv fourth", SoosorvThree, "yxsoosorvstep3\r\n" + blockOf(SoosorvThree),
         "MESSAGE SOOSORV MOVE4 " + n + " " + n + " [1-8]\n"},
        {"soosorv swap 2", SoosorvFour, "yxsoosorvstep4 3\r\n" + blockOf(SoosorvFour),
         "MESSAGE SOOSORV SWAP2 (YES|NO)\n"},
        {"soosorv fifths", SoosorvFour, "yxsoosorvstep5 3\r\n" + blockOf(SoosorvFour),
         "MESSAGE SOOSORV MOVE5 REFRESH\n(MESSAGE SOOSORV MOVE5 " + n + " " + n + "\n){3}MESSAGE SOOSORV MOVE5 DONE\n"},
        {"soosorv pick", SoosorvFour, "yxsoosorvstep6\r\n" + blockOf(offered),
         "MESSAGE SOOSORV MOVE5C (12 12|8 8|11 11)\n"},
        {"soosorv N missing", {}, "yxsoosorvstep4\r\n" + blockOf(SoosorvFour) + "about\r\n",
         "ERROR yxsoosorvstep4 needs N, the number of fifth moves\nname=.*\n"},
        {"soosorv N too large", {}, "yxsoosorvstep5 9\r\n" + blockOf(SoosorvFour),
         "ERROR yxsoosorvstep5 needs N from 1 to 8\n"},
        {"soosorv pick without fifths", {}, "yxsoosorvstep6\r\n" + blockOf(SoosorvFour),
         "ERROR yxsoosorvstep6 needs 4 stones and the offered fifths, not 4\n"},
        {"balance one", SoosorvFour, yxboardOf(SoosorvFour) + "yxbalanceone 0\r\n",
         "OK\nMESSAGE balance " + mv + ": value -?" + n + " .*\n" + mv + "\n"},
        {"balance two", SoosorvFour, yxboardOf(SoosorvFour) + "yxbalancetwo 50\r\n",
         "OK\nMESSAGE balance " + mv + " " + mv + ": value -?" + n + " .*\n" + mv + " " + mv + "\n"},
        {"balance without a value", {}, "yxbalanceone\r\nabout\r\n",
         "ERROR yxbalanceone needs the value to reach\nname=.*\n"},
        {"defend", OpenThreeToStop, yxboardOf(OpenThreeToStop) + "yxsearchdefend\r\n",
         "OK\n(MESSAGE REALTIME (REFRESH|(POS|DONE|LOSE|BEST) " + mv + ")\n)+MESSAGE depth .*\n(8,8|12,8|7,8|13,8)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory scratch;
        GuiGame game;
        game.stones = c.stones;
        const std::string output = game.engine.run(QuickClock + c.input + "end\r\n");
        EXPECT_TRUE(std::regex_match(output, std::regex(c.expected))) << output;
        std::set<int> named;
        for (const std::string& line : linesOf(output))
            for (int cell : namedCells(line)) {
                EXPECT_FALSE(game.taken(cell)) << line;
                if (!line.starts_with("MESSAGE REALTIME")) {
                    EXPECT_TRUE(named.insert(cell).second) << line;
                }
            }
    }
}

// Each root move is entered, then marked lost or held; a round starts with
// REFRESH; the move played is the best of the last round.
TEST(OpeningWords, DefendMarksEveryRootMoveOfEachRound) {
    ScratchDirectory scratch;
    GuiGame game;
    game.stones = OpenThreeToStop;
    const std::vector<std::string> lines = game.ask(QuickClock + game.yxboard() + "yxsearchdefend\r\n");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "MESSAGE REALTIME REFRESH");
    std::string entered;
    std::string lastBest;
    for (const std::string& line : lines) {
        if (line.starts_with("MESSAGE REALTIME POS ")) {
            EXPECT_EQ(entered, "") << line;
            entered = line.substr(21);
        } else if (line.starts_with("MESSAGE REALTIME DONE ") || line.starts_with("MESSAGE REALTIME LOSE ")) {
            EXPECT_EQ(line.substr(22), entered);
            entered.clear();
        } else if (line.starts_with("MESSAGE REALTIME BEST ")) {
            lastBest = line.substr(22);
        }
    }
    EXPECT_EQ(entered, "");
    EXPECT_EQ(lastBest, lines.back());
}

// A proved loss is marked LOSE, stays lost in the deeper rounds, and is
// never played while a move holds.
TEST(OpeningWords, DefendMarksTheLosingMoves) {
    ScratchDirectory scratch;
    GuiGame game;
    // White to move after a game's ninth stone: of its defences, 13,11
    // loses at the first depth; deeper, more of them are found lost.
    game.stones = {cellOf(9, 9),  cellOf(12, 6), cellOf(8, 13), cellOf(6, 8),  cellOf(12, 9),
                   cellOf(6, 9),  cellOf(11, 9), cellOf(10, 9), cellOf(12, 10)};
    // Time enough for the first round to end in a sanitised build too.
    const std::string clock = "INFO timeout_turn 60000\r\nINFO time_left 1000000\r\n";
    const std::vector<std::string> lines = game.ask(clock + game.yxboard() + "yxsearchdefend\r\n");
    std::map<int, bool> lost;  // the last mark of each move
    for (const std::string& line : lines) {
        const bool lose = line.starts_with("MESSAGE REALTIME LOSE ");
        if (!lose && !line.starts_with("MESSAGE REALTIME DONE ")) continue;
        const int cell = namedCells(line)[0];
        EXPECT_FALSE(!lose && lost[cell]) << "a lost move held again: " << line;
        lost[cell] = lose;
    }
    const std::vector<int> played = namedCells(lines.back());
    ASSERT_EQ(played.size(), 1u);
    EXPECT_TRUE(lost[cellOf(13, 11)]);
    const bool anyHeld = std::any_of(lost.begin(), lost.end(), [](const auto& mark) { return !mark.second; });
    if (anyHeld) {
        EXPECT_FALSE(lost[played[0]]) << lines.back();
    }
}

TEST(OpeningWords, SoosorvFifthsAreNoSymmetricTwins) {
    // Black 10,10 and 10,12, white 11,10 and 9,10: mirrored in x = 10.
    const std::vector<int> four = {cellOf(10, 10), cellOf(11, 10), cellOf(10, 12), cellOf(9, 10)};
    const std::vector<int> kept = withoutSymmetricTwins(four, {cellOf(11, 11), cellOf(9, 11), cellOf(10, 11),
                                                               cellOf(12, 13), cellOf(8, 13), cellOf(10, 14)});
    EXPECT_EQ(kept, (std::vector<int>{cellOf(11, 11), cellOf(10, 11), cellOf(12, 13), cellOf(10, 14)}));
    // No symmetry: nothing is dropped.
    const std::vector<int> plain = {cellOf(11, 11), cellOf(9, 11)};
    EXPECT_EQ(withoutSymmetricTwins(SoosorvFour, plain), plain);
    // The engine's own offer on a symmetric position.
    ScratchDirectory scratch;
    GuiGame game;
    game.stones = four;
    const std::vector<std::string> lines = game.ask(QuickClock + "yxsoosorvstep5 8\r\n" + game.plainBlock());
    const std::vector<int> fifths = cellsOf(lines, "MESSAGE SOOSORV MOVE5 ");
    EXPECT_EQ(fifths.size(), 8u);
    EXPECT_EQ(withoutSymmetricTwins(four, fifths), fifths);
}

// Swap2 with the engine opening: its three stones, the human's two more, the
// engine's colour choice, then the game goes on in the colours chosen.
TEST(OpeningWords, Swap2SequenceWithTheEngineOpening) {
    ScratchDirectory scratch;
    GuiGame game;
    const std::vector<std::string> opening = game.ask(QuickClock + "yxswap2step1\r\n");
    ASSERT_EQ(opening.size(), 3u);
    for (int k = 1; k <= 3; ++k) {
        const std::vector<int> cell = cellsOf(opening, "MESSAGE SWAP2 MOVE" + std::to_string(k) + " ");
        ASSERT_EQ(cell.size(), 1u);
        game.place(cell[0]);
    }
    game.place(game.humanStone());
    game.place(game.humanStone());
    const std::vector<std::string> choice = game.ask(game.yxboard() + "yxswap2step3\r\n");
    ASSERT_EQ(choice.size(), 2u);
    ASSERT_TRUE(choice[1] == "MESSAGE SWAP2 SWAP2 YES" || choice[1] == "MESSAGE SWAP2 SWAP2 NO") << choice[1];
    if (choice[1].ends_with("YES")) game.place(game.humanStone());  // it stays black: the human plays the sixth
    game.engineMoves();
    EXPECT_EQ(game.stones.size(), choice[1].ends_with("YES") ? 7u : 6u);
}

// Swap2 with the human opening: every answer of step 2, and the game after it.
TEST(OpeningWords, Swap2SequenceWithTheHumanOpening) {
    const std::vector<int> openings[] = {BlackAheadThree, WhiteAheadThree, {C, cellOf(10, 10), cellOf(8, 11)}};
    std::set<std::string> answers;
    for (const auto& three : openings) {
        ScratchDirectory scratch;
        GuiGame game;
        game.stones = three;
        const std::vector<std::string> lines = game.ask(QuickClock + game.yxboard() + "yxswap2step2\r\n");
        ASSERT_GE(lines.size(), 2u);
        answers.insert(lines[1].starts_with("MESSAGE SWAP2 MOVE4") ? "MOVE4" : lines[1]);
        if (lines[1] == "MESSAGE SWAP2 SWAP1 YES") {
            game.place(game.humanStone());  // the human, now white, plays the fourth
        } else if (lines[1].starts_with("MESSAGE SWAP2 MOVE4")) {
            ASSERT_EQ(lines.size(), 3u);
            game.place(namedCells(lines[1])[0]);
            game.place(namedCells(lines[2])[0]);  // the human stays black: the engine plays the sixth
        } else {
            ASSERT_EQ(lines[1], "MESSAGE SWAP2 SWAP1 NO");
        }
        const size_t before = game.stones.size();
        game.engineMoves();
        EXPECT_EQ(game.stones.size(), before + 1);
    }
    EXPECT_GE(answers.size(), 2u);
}

// Soosorv with the engine opening: its standard opening; the human swaps
// and the engine, now white, plays the fourth and N; then both ways on.
TEST(OpeningWords, SoosorvSequenceWithTheEngineOpening) {
    for (const bool humanSwapsBack : {true, false}) {
        SCOPED_TRACE(humanSwapsBack ? "the human takes black back" : "the human stays black");
        ScratchDirectory scratch;
        GuiGame game;
        const std::vector<std::string> opening = game.ask(QuickClock + "yxsoosorvstep1\r\n");
        ASSERT_EQ(opening.size(), 3u);
        for (int k = 1; k <= 3; ++k) game.place(cellsOf(opening, "MESSAGE SOOSORV MOVE" + std::to_string(k) + " ")[0]);
        // One of the 26 standard openings around the GUI's centre.
        EXPECT_EQ(game.stones[0], cellOf(10, 10));
        EXPECT_LE(std::max(std::abs(game.stones[1] % 20 - 10), std::abs(game.stones[1] / 20 - 10)), 1);
        EXPECT_LE(std::max(std::abs(game.stones[2] % 20 - 10), std::abs(game.stones[2] / 20 - 10)), 2);
        const std::vector<std::string> fourth = game.ask("yxsoosorvstep3\r\n" + game.plainBlock());
        ASSERT_EQ(fourth.size(), 1u);
        const std::smatch m = [&] {
            std::smatch match;
            std::regex_match(fourth[0], match, std::regex("MESSAGE SOOSORV MOVE4 ([0-9]+) ([0-9]+) ([1-8])"));
            return match;
        }();
        ASSERT_FALSE(m.empty()) << fourth[0];
        const int fifths = std::stoi(m[3]);
        game.place(namedCells(fourth[0])[0]);
        if (humanSwapsBack) {
            // The engine is black again and offers its N fifths; the human
            // keeps the first, plays the sixth, and the engine the seventh.
            const std::vector<std::string> offer =
                game.ask("yxsoosorvstep5 " + std::to_string(fifths) + "\r\n" + game.plainBlock());
            const std::vector<int> offered = cellsOf(offer, "MESSAGE SOOSORV MOVE5 ");
            ASSERT_EQ(int(offered.size()), fifths);
            EXPECT_EQ(offer.front(), "MESSAGE SOOSORV MOVE5 REFRESH");
            EXPECT_EQ(offer.back(), "MESSAGE SOOSORV MOVE5 DONE");
            game.place(offered[0]);
            game.place(game.humanStone());
        } else {
            // The human offers N fifths; the engine keeps one and plays the sixth.
            GuiGame offerBoard;
            offerBoard.stones = game.stones;
            std::vector<int> offered;
            for (int i = 0; i < fifths; ++i) {
                offered.push_back(offerBoard.humanStone());
                offerBoard.place(offered.back());
            }
            const std::vector<std::string> pick = game.ask("yxsoosorvstep6\r\n" + offerBoard.plainBlock());
            ASSERT_EQ(pick.size(), 1u);
            const std::vector<int> kept = cellsOf(pick, "MESSAGE SOOSORV MOVE5C ");
            ASSERT_EQ(kept.size(), 1u) << pick[0];
            EXPECT_NE(std::find(offered.begin(), offered.end(), kept[0]), offered.end()) << pick[0];
            game.place(kept[0]);
        }
        game.engineMoves();
    }
}

// Soosorv with the human opening: the engine's swap, then its second swap or
// its fifths, whichever its answers lead to.
TEST(OpeningWords, SoosorvSequenceWithTheHumanOpening) {
    ScratchDirectory scratch;
    GuiGame game;
    game.stones = SoosorvThree;
    const std::vector<std::string> swap = game.ask(QuickClock + "yxsoosorvstep2\r\n" + game.plainBlock());
    ASSERT_EQ(swap.size(), 1u);
    ASSERT_TRUE(swap[0] == "MESSAGE SOOSORV SWAP1 YES" || swap[0] == "MESSAGE SOOSORV SWAP1 NO") << swap[0];
    if (swap[0].ends_with("NO")) {
        const std::vector<std::string> fourth = game.ask("yxsoosorvstep3\r\n" + game.plainBlock());
        ASSERT_EQ(cellsOf(fourth, "MESSAGE SOOSORV MOVE4 ").size(), 1u);
        return;
    }
    // The engine took black: the human plays the fourth and names N = 2.
    game.place(cellOf(9, 11));
    const std::vector<std::string> second = game.ask("yxsoosorvstep4 2\r\n" + game.plainBlock());
    ASSERT_EQ(second.size(), 1u);
    if (second[0] == "MESSAGE SOOSORV SWAP2 NO") {
        const std::vector<std::string> offer = game.ask("yxsoosorvstep5 2\r\n" + game.plainBlock());
        EXPECT_EQ(cellsOf(offer, "MESSAGE SOOSORV MOVE5 ").size(), 2u);
    } else {
        ASSERT_EQ(second[0], "MESSAGE SOOSORV SWAP2 YES");
        GuiGame offerBoard;
        offerBoard.stones = game.stones;
        offerBoard.place(cellOf(12, 12));
        offerBoard.place(cellOf(8, 8));
        const std::vector<std::string> pick = game.ask("yxsoosorvstep6\r\n" + offerBoard.plainBlock());
        EXPECT_EQ(cellsOf(pick, "MESSAGE SOOSORV MOVE5C ").size(), 1u);
    }
}

}  // namespace
