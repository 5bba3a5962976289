#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

#include "protocol/command_loop.h"
#include "protocol/input.h"

namespace {

// The command the next word names, "" for none.
std::string_view commandFrom(ProtocolInput& input) {
    const CommandLoop::Command* command = input.readCommandWord() ? CommandLoop::findCommand(input.word()) : nullptr;
    return command ? command->word : "";
}

struct Reader {
    std::istringstream stream;
    ProtocolInput input;
    explicit Reader(const std::string& text) : stream(text), input(stream) {}
    std::string rest() {
        std::string left((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        return left;
    }
};

TEST(ProtocolInput, MatchKeywordTerminatorsAndCaseFolding) {
    const std::string overlong(1500, 'a');
    struct Case { std::string text; std::string_view command; std::string left; };
    const Case cases[] = {
        {"TURN 10,10", "turn", "10,10"},
        {"turn\n10,10", "turn", "10,10"},
        {"Turn\r\n", "turn", "\n"},
        {" \t\n  0MOVE next", "0move", "next"},
        {"turns ", "", ""},
        {"tu\trn ", "", ""},              // a tab belongs to the word
        {"turn\t10,10 x", "", "x"},
        {std::string("turn\0x 1", 8), "", "1"},
        {"print", "print", ""},           // the end of input ends the last word
        {"", "", ""},
        {"   ", "", ""},
        {overlong + " about", "", "about"},
        {"ABOUT\r", "about", ""},
    };
    for (const auto& c : cases) {
        Reader r(c.text);
        EXPECT_EQ(commandFrom(r.input), c.command) << c.text.substr(0, 40);
        EXPECT_EQ(r.rest(), c.left) << c.text.substr(0, 40);
    }
}

TEST(ProtocolInput, InfoKeysAreMatchedFromTheirOwnTable) {
    Reader r("TIME_LEFT Timeout_turn max_memory time_left2 ");
    EXPECT_EQ(r.input.matchKeyword(infoKeys, InfoKeyCount), 0);
    EXPECT_EQ(r.input.matchKeyword(infoKeys, InfoKeyCount), 1);
    EXPECT_EQ(r.input.matchKeyword(infoKeys, InfoKeyCount), 2);
    EXPECT_EQ(r.input.matchKeyword(infoKeys, InfoKeyCount), -1);
}

TEST(ProtocolInput, IntegersSaturateAndReportMissingDigits) {
    constexpr int32_t Max = std::numeric_limits<int32_t>::max();
    constexpr int32_t Min = std::numeric_limits<int32_t>::min();
    struct Case { std::string text; bool ok; int32_t value; std::string left; };
    const Case cases[] = {
        {"  42 x", true, 42, " x"},
        {"\n-7,", true, -7, ","},
        {"+5", true, 5, ""},
        {"2147483647", true, Max, ""},
        {"2147483648", true, Max, ""},
        {"99999999999999999999999 end", true, Max, " end"},
        {"-2147483648", true, Min, ""},
        {"-99999999999999", true, Min, ""},
        {"007", true, 7, ""},
        {"abc", false, 0, "abc"},
        {"- 5", false, 0, " 5"},
        {"", false, 0, ""},
    };
    for (const auto& c : cases) {
        Reader r(c.text);
        int32_t value = 0;
        EXPECT_EQ(r.input.readInteger(value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
        EXPECT_EQ(r.rest(), c.left) << c.text;
    }
}

TEST(ProtocolInput, CoordinatePairsAreCheckedPieceByPiece) {
    struct Case { std::string text; bool ok; int x, y; };
    const Case cases[] = {
        {"10,10", true, 10, 10},   {" 10 , 10", true, 10, 10}, {"10\n,\n9", true, 10, 9},
        {"0,19", true, 0, 19},     {"19,0", true, 19, 0},      {"20,0", false, 0, 0},
        {"-1,5", false, 0, 0},     {"10;10", false, 0, 0},     {"0,20", false, 0, 0},
        {"x,1", false, 0, 0},      {"5,", false, 0, 0},        {"5", false, 0, 0},
    };
    for (const auto& c : cases) {
        Reader r(c.text);
        int x = -1, y = -1;
        EXPECT_EQ(r.input.readCoordinates(x, y), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(x, c.x) << c.text;
            EXPECT_EQ(y, c.y) << c.text;
        }
    }
}

TEST(ProtocolInput, WordArgumentsStopAtBlanksAndRefuseOverlongWords) {
    Reader r("  plocha.dat next\t" + std::string(1024, 'p') + " last");
    EXPECT_EQ(r.input.readWord(), WordRead::Read);
    EXPECT_STREQ(r.input.wordArgument, "plocha.dat");
    EXPECT_EQ(r.input.readWord(), WordRead::Read);
    EXPECT_STREQ(r.input.wordArgument, "next");
    EXPECT_EQ(r.input.readWord(), WordRead::Overlong);
    EXPECT_EQ(r.input.readWord(), WordRead::Read);
    EXPECT_STREQ(r.input.wordArgument, "last");
    EXPECT_EQ(r.input.readWord(), WordRead::Missing);

    Reader exact(std::string(1023, 'q'));
    EXPECT_EQ(exact.input.readWord(), WordRead::Read);
    EXPECT_EQ(std::string(exact.input.wordArgument).size(), 1023u);
}

TEST(ProtocolInput, SingleCharacterSkipsBlanks) {
    Reader r(" \n b.");
    EXPECT_EQ(r.input.readChar(), 'b');
    EXPECT_EQ(r.input.readChar(), '.');
    EXPECT_EQ(r.input.readChar(), -1);
}

TEST(ProtocolInput, RestOfLineEndsAtTheKeysLine) {
    struct Case { std::string text; std::string kept; std::string left; };
    const std::string longLine(3000, 'r');
    const Case cases[] = {
        {"info rule 1\nabout", "1\n", "about"},
        {"info folder\nabout", "", "about"},  // the key already ended its line
        {"info folder\r\nabout", "\n", "about"},
        {"info game_type " + longLine + "\nabout", std::string(1023, 'r'), "about"},
        {"info rule 1", "1", ""},
    };
    for (const auto& c : cases) {
        Reader r(c.text);
        ASSERT_EQ(commandFrom(r.input), "info");
        ASSERT_EQ(r.input.matchKeyword(infoKeys, InfoKeyCount), -1);
        r.input.readRestOfLine();
        EXPECT_EQ(r.input.restOfLine, c.kept) << c.text.substr(0, 30);
        EXPECT_EQ(r.rest(), c.left) << c.text.substr(0, 30);
    }
}

TEST(ProtocolInput, StartNeedsADigitRightAfterItsTerminator) {
    struct Case { std::string text; bool digit; };
    const Case cases[] = {
        {"start 20", true}, {"start  20", false}, {"start\n20", true}, {"start\r\n20", false},
        {"start x", false}, {"start -20", false},
    };
    for (const auto& c : cases) {
        Reader r(c.text);
        ASSERT_EQ(commandFrom(r.input), "start");
        EXPECT_EQ(r.input.nextIsDigit(), c.digit) << c.text;
    }
}

}  // namespace
