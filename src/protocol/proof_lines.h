#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include "search/proof_number_search.h"

// The lines of the proof-number search: "MESSAGE " + nodes "{" pn "," dn "}"
// for its end, "MESSAGE " + rate "/s" beside it, and the notes of its
// pruning ("del root child", "Cut root child") and of a node expanded twice
// ("ERROR").

std::string numberText(int32_t n);  // "OO" for infinity
std::string reportLine(int32_t nodes, int32_t pn, int32_t dn);
// n in decimal at `at` (20 bytes hold any), returning the end of its text:
// the report and progress lines are put together without a stream's formatting.
char* putDecimal(char* at, int64_t n);
// The report line's text at `at`, returning its end; 40 bytes hold any.
char* putReportLine(char* at, int32_t nodes, int32_t pn, int32_t dn);
// "MESSAGE " and the report line, written and flushed as one line.
void writeReportLine(std::ostream& out, int32_t nodes, int32_t pn, int32_t dn);
// The rate line of a result that took measurable time, else nothing.
void writeRateLine(std::ostream& out, const ProofSearchResult& result);
// Events that write their notes to out, each line flushed.
ProofSearchEvents eventLines(std::ostream& out);

// proofNumberSearch with its lines written to out: the notes as they come,
// then the report and rate lines (none for a root without children).
// Returns the chosen move.
int runProofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit, int level,
                         std::ostream& out);
