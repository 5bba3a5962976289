#include "protocol/paced_output.h"

#include "platform/clock.h"

PacedOutput::PacedOutput(std::ostream& out, int32_t intervalMs)
    : std::ostream(static_cast<std::streambuf*>(this)), target(out), interval(intervalMs),
      lastPassed(platform::clockMs()) {}

PacedOutput::~PacedOutput() { passOn(); }

std::streambuf::int_type PacedOutput::overflow(Buffer::int_type c) {
    using Traits = Buffer::traits_type;
    if (!Traits::eq_int_type(c, Traits::eof())) held.push_back(Traits::to_char_type(c));
    return Traits::not_eof(c);
}

std::streamsize PacedOutput::xsputn(const char* text, std::streamsize count) {
    held.append(text, size_t(count));
    return count;
}

int PacedOutput::sync() {
    const int32_t now = platform::clockMs();
    if (platform::clockDiff(now, lastPassed) >= interval) {
        passOn();
        lastPassed = now;
    }
    return 0;
}

void PacedOutput::passOn() {
    if (!held.empty()) target.write(held.data(), std::streamsize(held.size()));
    held.clear();
    target.flush();
}
