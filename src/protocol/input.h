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
    // Input taken from the stream while a search watched it, not read yet:
    // every reader takes it before the stream.
    std::string stash;
    size_t stashAt = 0;
    // Whether the stream reads the process's standard input, whose pipe a
    // search may look into without blocking.
    bool readsStandardInput = false;
    char commandWord[WordBufferSize] = {};
    int commandLength = 0;  // a word may hold a NUL byte
    char wordArgument[WordBufferSize] = {};
    char restOfLine[WordBufferSize] = {};
    int lastTerminator = -1;  // what ended the last command word; -1 for the end of input

    explicit ProtocolInput(std::istream& stream) : in(stream) {}

    bool atEnd() const { return stashAt == stash.size() && !in.good(); }

    // The next character and the one after it, from the stash or the stream.
    int peek() { return stashAt < stash.size() ? static_cast<unsigned char>(stash[stashAt]) : in.peek(); }
    int get();

    // For a running search: takes whatever input is there without waiting
    // into the stash and tells whether a whole line of it, not read yet, is
    // yxstop (in any case). Nothing is consumed: the command loop reads it
    // all afterwards in its order.
    bool stopRequested();

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
    void takeAvailable();
    size_t scannedTo = 0;  // stash lines before this were not yxstop
};

constexpr bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
