#include "protocol/trace_log.h"

#include <cstdio>
#include <cstring>

#include "platform/data_directory.h"

TraceRing traceRing = {{}, 0, 1};

namespace {

template <size_t N>
void copyField(char (&field)[N], const char* text) {
    std::strncpy(field, text ? text : "", N - 1);
    field[N - 1] = '\0';
}

// The log names files the way a reader finds them in the tree.
const char* shortFileName(const char* path) {
    if (!path) return "";
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void writeLine(std::FILE* log, const char* label, const char* text) {
    std::fprintf(log, "%s%s\n", label, text);
    std::fflush(log);
}

void writeLine(std::FILE* log, const char* label, int32_t value) {
    std::fprintf(log, "%s%d\n", label, static_cast<int>(value));
    std::fflush(log);
}

}  // namespace

std::string bareFunctionName(const char* signature) {
    std::string name = signature ? signature : "";
    const size_t open = name.find('(');
    if (open != std::string::npos) name.resize(open);
    const size_t start = name.find_last_of(" :");
    return start == std::string::npos ? name : name.substr(start + 1);
}

void resetTraceRing() {
    traceRing.position = 0;
    traceRing.nextId = 1;
}

void recordTrace(const char* cond, const char* file, int line, const char* func, const char* text) {
    TraceRecord& record = traceRing.records[((traceRing.position % TraceRingSize) + TraceRingSize) %
                                            TraceRingSize];
    record.id = traceRing.nextId++;
    record.line = line;
    copyField(record.cond, cond);
    copyField(record.file, shortFileName(file));
    copyField(record.func, func);
    copyField(record.text, text);
    traceRing.position = (traceRing.position + 1) % TraceRingSize;
}

void dumpTraceLog() {
    std::FILE* log = std::fopen(platform::dataPath(platform::TraceLogPath).c_str(), "a");
    if (!log) return;
    for (int k = 0; k < TraceRingSize; ++k) {
        const int index = ((traceRing.position + TraceRingSize + k) % TraceRingSize + TraceRingSize) %
                          TraceRingSize;
        const TraceRecord& record = traceRing.records[index];
        writeLine(log, "ID  : ", record.id);
        writeLine(log, "COND: ", record.cond);
        writeLine(log, "FILE: ", record.file);
        writeLine(log, "LINE: ", record.line);
        writeLine(log, "FUNC: ", record.func);
        writeLine(log, "TEXT: ", record.text);
        writeLine(log, "", "");
    }
    writeLine(log, "", "---------------------");
    std::fclose(log);
}
