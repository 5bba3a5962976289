#pragma once
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

constexpr int WordBufferSize = 1024;  // a word keeps at most 1023 characters

enum class WordRead { Read, Missing, Overlong };

// The protocol's input pieces, all read from one stream. Command words end at a
// space, line feed or carriage return; the other readers skip white space first.
struct ProtocolInput {
    std::istream& in;
    char commandWord[WordBufferSize] = {};
    int commandLength = 0;  // a word may hold a NUL byte
    char wordArgument[WordBufferSize] = {};
    char restOfLine[WordBufferSize] = {};
    int lastTerminator = -1;  // what ended the last command word; -1 for the end of input

    explicit ProtocolInput(std::istream& stream) : in(stream) {}

    bool atEnd() const { return !in.good(); }

    // The next word, lower-cased, into commandWord; the end of input ends a
    // word too. False when the input ended before any word, or for a word
    // longer than 1023 characters, which is consumed whole.
    bool readCommandWord();
    std::string_view word() const { return {commandWord, static_cast<size_t>(commandLength)}; }
    // Index of the next word in table, or -1 (no such word, or no word read).
    int matchKeyword(const std::string_view* table, int count);
    // True when the character right after the last word's terminator is a digit.
    bool nextIsDigit();
    // Optionally signed decimal; values beyond 32 bits saturate. False when no
    // digit follows.
    bool readInteger(int32_t& value);
    // The next non-blank character, or -1 at the end of input.
    int readChar();
    // x "," y with x and y in 0..19, each piece checked as it is read.
    bool readCoordinates(int& x, int& y);
    // Next run of non-blank characters into wordArgument. An overlong word is
    // consumed whole and reported, never truncated into a different name.
    WordRead readWord();
    // Up to and including the next line feed, at most 1023 characters kept. When
    // the last command word already ended its line, there is nothing left to read.
    void readRestOfLine();
    // An integer on the rest of this line: false, with nothing read, when
    // the line ends first (so a word on the next line is never taken for it).
    bool readIntegerOnLine(int32_t& value);
    // The rest of the line as one optionally signed integer between blanks;
    // false, with the line read all the same, when it holds none (so a word
    // on the next line is never taken for the value).
    bool readLineInteger(int32_t& value);
    // The next line, up to the line feed (consumed), without a carriage
    // return and at most 1023 characters of it kept; false at the end of
    // input with nothing read.
    bool readLine(std::string& line);
    // Lines up to and including the next one that begins with "D" (the
    // protocol's DONE), each given to take without its line end; false when
    // the input ended first.
    template <class Take>
    bool readBlock(Take take) {
        std::string line;
        while (readLine(line)) {
            const size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            if (line[first] == 'D' || line[first] == 'd') return true;
            take(line.substr(first));
        }
        return false;
    }

private:
    void skipSpace();
};

constexpr bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
