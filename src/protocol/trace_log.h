#pragma once
#include <cstdint>
#include <source_location>
#include <string>

constexpr int TraceRingSize = 15;

struct TraceRecord {
    int32_t id;
    int32_t line;
    char cond[150];
    char file[50];
    char func[50];
    char text[102];
};

// The most recent records; `position` names the oldest (mod 15) and is where
// the next record goes.
struct TraceRing {
    TraceRecord records[TraceRingSize];
    int32_t position;
    int32_t nextId;
};

extern TraceRing traceRing;

void resetTraceRing();  // write position 0, next ID 1
// Longer texts are cut to fit their fields.
void recordTrace(const char* cond, const char* file, int line, const char* func, const char* text);
// Appends the ring, oldest first, and a hyphen line to the trace log; a log
// that cannot be opened is passed over silently.
void dumpTraceLog();

// The unqualified name in a compiler's function signature.
std::string bareFunctionName(const char* signature);

// Records the caller's place along with the condition that was tested.
inline void trace(const char* cond, const char* text,
                  std::source_location where = std::source_location::current()) {
    recordTrace(cond, where.file_name(), static_cast<int>(where.line()),
                bareFunctionName(where.function_name()).c_str(), text);
}
