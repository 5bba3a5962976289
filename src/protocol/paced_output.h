#pragma once
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

// A stream for long operator runs that flush after every progress line: the
// text is held and passed on, flushed, when a flush comes at least
// `intervalMs` after the last one that went out, and all of it at the end.
// A reader of the pipe still sees progress several times a second, and a run
// of many short steps does not spend its time in write calls.
class PacedOutput : private std::streambuf, public std::ostream {
public:
    PacedOutput(std::ostream& target, int32_t intervalMs);
    ~PacedOutput() override;

private:
    std::ostream& target;
    const int32_t interval;
    int32_t lastPassed;
    std::string held;

    using Buffer = std::streambuf;
    Buffer::int_type overflow(Buffer::int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;
    void passOn();
};
