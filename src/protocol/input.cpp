#include "protocol/input.h"

#include <algorithm>
#include <limits>
#include <sstream>

#include "platform/input_ready.h"

namespace {

constexpr bool endsWord(int c) { return c == ' ' || c == '\n' || c == '\r'; }

constexpr int lowerCase(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

constexpr bool isDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

int ProtocolInput::get() {
    if (stashAt == stash.size()) return in.get();
    const int c = static_cast<unsigned char>(stash[stashAt++]);
    if (stashAt == stash.size()) {
        stash.clear();
        stashAt = scannedTo = 0;
    }
    return c;
}

void ProtocolInput::takeAvailable() {
    std::streambuf* buffer = in.rdbuf();
    if (!buffer || !in.good()) return;
    char chunk[4096];
    for (;;) {
        const std::streamsize ready = buffer->in_avail();
        if (ready > 0) {
            const std::streamsize n = buffer->sgetn(chunk, ready < std::streamsize(sizeof chunk) ? ready : sizeof chunk);
            stash.append(chunk, static_cast<size_t>(n));
            continue;
        }
        // The stream's buffer is empty: what the pipe holds comes with one
        // read, which the pipe's readiness keeps from blocking.
        if (ready < 0 || !readsStandardInput || !platform::standardInputReady()) return;
        if (buffer->sgetc() == std::char_traits<char>::eof()) return;
    }
}

bool ProtocolInput::stopRequested() {
    takeAvailable();
    for (;;) {
        const size_t from = std::max(scannedTo, stashAt);
        const size_t end = stash.find('\n', from);
        if (end == std::string::npos) return false;
        scannedTo = end + 1;
        size_t at = from;
        while (at < end && isBlank(stash[at])) ++at;
        std::string word;
        while (at < end && !isBlank(stash[at]) && word.size() < 7) word += char(lowerCase(stash[at++]));
        if (word == "yxstop" && (at == end || isBlank(stash[at]))) return true;
    }
}

void ProtocolInput::skipSpace() {
    while (isBlank(peek())) get();
}

bool ProtocolInput::readCommandWord() {
    skipSpace();
    commandWord[0] = '\0';
    commandLength = 0;
    if (atEnd()) return false;
    int length = 0;
    bool overlong = false;
    for (;;) {
        const int c = get();
        if (c == std::char_traits<char>::eof()) {
            // The end of input ends the last word as a line end would.
            lastTerminator = -1;
            commandWord[length] = '\0';
            commandLength = length;
            return length > 0 && !overlong;
        }
        if (endsWord(c)) {
            lastTerminator = c;
            break;
        }
        if (length < WordBufferSize - 1)
            commandWord[length++] = static_cast<char>(lowerCase(c));
        else
            overlong = true;
    }
    commandWord[length] = '\0';
    commandLength = length;
    return !overlong;
}

int ProtocolInput::matchKeyword(const std::string_view* table, int count) {
    if (!readCommandWord()) return -1;
    for (int i = 0; i < count; ++i)
        if (table[i] == word()) return i;
    return -1;
}

bool ProtocolInput::nextIsDigit() { return isDigit(peek()); }

bool ProtocolInput::readInteger(int32_t& value) {
    skipSpace();
    bool negative = false;
    if (peek() == '+' || peek() == '-') negative = get() == '-';
    if (!isDigit(peek())) return false;
    constexpr int64_t Limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    while (isDigit(peek())) {
        magnitude = magnitude * 10 + (get() - '0');
        if (magnitude > Limit) magnitude = Limit;
    }
    if (negative)
        value = static_cast<int32_t>(-magnitude);
    else
        value = static_cast<int32_t>(magnitude == Limit ? Limit - 1 : magnitude);
    return true;
}

int ProtocolInput::readChar() {
    skipSpace();
    const int c = get();
    return c == std::char_traits<char>::eof() ? -1 : c;
}

bool ProtocolInput::readCoordinates(int& x, int& y) {
    int32_t value = 0;
    if (!readInteger(value) || value < 0 || value >= 20) return false;
    x = value;
    if (readChar() != ',') return false;
    if (!readInteger(value) || value < 0 || value >= 20) return false;
    y = value;
    return true;
}

WordRead ProtocolInput::readWord() {
    skipSpace();
    int length = 0;
    bool overlong = false;
    while (!atEnd() && !isBlank(peek())) {
        const int c = get();
        if (c == std::char_traits<char>::eof()) break;
        if (length < WordBufferSize - 1)
            wordArgument[length++] = static_cast<char>(c);
        else
            overlong = true;
    }
    wordArgument[length] = '\0';
    if (overlong) return WordRead::Overlong;
    return length == 0 ? WordRead::Missing : WordRead::Read;
}

void ProtocolInput::readRestOfLine() {
    int length = 0;
    if (lastTerminator != '\n') {
        for (int c = get(); c != std::char_traits<char>::eof(); c = get()) {
            if (length < WordBufferSize - 1) restOfLine[length++] = static_cast<char>(c);
            if (c == '\n') break;
        }
    }
    restOfLine[length] = '\0';
}

bool ProtocolInput::readIntegerOnLine(int32_t& value) {
    if (lastTerminator == '\n' || lastTerminator == '\r') return false;
    while (in.peek() == ' ' || in.peek() == '\t') in.get();
    return in.peek() != '\r' && in.peek() != '\n' && readInteger(value);
}

bool ProtocolInput::readLineInteger(int32_t& value) {
    readRestOfLine();
    std::istringstream line(restOfLine);
    ProtocolInput reader(line);
    if (!reader.readInteger(value)) return false;
    reader.skipSpace();
    return line.peek() == std::char_traits<char>::eof();
}

bool ProtocolInput::readLine(std::string& line) {
    line.clear();
    if (atEnd()) return false;
    for (int c = get(); c != std::char_traits<char>::eof() && c != '\n'; c = get())
        if (line.size() < WordBufferSize - 1) line += char(c);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return true;
}
