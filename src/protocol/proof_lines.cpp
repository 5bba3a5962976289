#include "protocol/proof_lines.h"

std::string numberText(int32_t n) { return n < 0 ? "OO" : std::to_string(n); }

char* putDecimal(char* at, int64_t n) {
    char digits[20];
    int k = 0;
    uint64_t u = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    if (n < 0) *at++ = '-';
    do digits[k++] = static_cast<char>('0' + u % 10);
    while ((u /= 10) != 0);
    while (k > 0) *at++ = digits[--k];
    return at;
}

namespace {

char* putNumber(char* at, int32_t n) {
    if (n >= 0) return putDecimal(at, n);
    *at++ = 'O';
    *at++ = 'O';
    return at;
}

void writeMessage(std::ostream& out, const char* text) { out << "MESSAGE " << text << '\n' << std::flush; }

}  // namespace

char* putReportLine(char* at, int32_t nodes, int32_t pn, int32_t dn) {
    at = putDecimal(at, nodes);
    *at++ = '{';
    at = putNumber(at, pn);
    *at++ = ',';
    at = putNumber(at, dn);
    *at++ = '}';
    return at;
}

std::string reportLine(int32_t nodes, int32_t pn, int32_t dn) {
    char text[40];
    return std::string(text, putReportLine(text, nodes, pn, dn));
}

void writeReportLine(std::ostream& out, int32_t nodes, int32_t pn, int32_t dn) {
    char text[64] = "MESSAGE ";
    char* end = putReportLine(text + 8, nodes, pn, dn);
    *end++ = '\n';
    out.write(text, end - text);
    out.flush();
}

void writeRateLine(std::ostream& out, const ProofSearchResult& result) {
    if (result.elapsedMs <= 0) return;
    out << "MESSAGE " << static_cast<int64_t>(result.nodes) * 1000 / (result.elapsedMs + 1) << "/s\n" << std::flush;
}

ProofSearchEvents eventLines(std::ostream& out) {
    ProofSearchEvents events;
    events.nodeExpandedAgain = [&out] { writeMessage(out, "ERROR"); };
    events.rootChildDeleted = [&out] { writeMessage(out, "del root child"); };
    events.rootChildCut = [&out] { writeMessage(out, "Cut root child"); };
    return events;
}

int runProofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit, int level,
                         std::ostream& out) {
    const ProofSearchResult result = proofNumberSearch(context, root, margin, memoryLimit, level, eventLines(out));
    if (result.searched) {
        writeReportLine(out, result.nodes, result.rootNumbers.pn, result.rootNumbers.dn);
        writeRateLine(out, result);
    }
    return result.move;
}
