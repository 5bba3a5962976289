#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "knowledge/experience_database.h"
#include "platform/data_directory.h"
#include "platform/executable_path.h"
#include "protocol/command_loop.h"
#include "search/bench.h"
#include "version.h"

namespace {

void printUsage(std::ostream& out) {
    const std::string beside = platform::executableDirectory();
    out << "pbrain-tarvo " << Version << ": a gomoku brain (freestyle, five or more in a row wins) for the 20x20 board.\n"
        << "\n"
        << "Usage:\n"
        << "  pbrain-tarvo                    speak the Gomocup brain protocol on standard input and output\n"
        << "  pbrain-tarvo --force-utf8       the same (Yixin-Board starts brains so)\n"
        << "  pbrain-tarvo bench              search the bench positions; the last line, \"bench: N nodes\",\n"
        << "                                  is the search's signature\n"
        << "  pbrain-tarvo bench FILE [DEPTH] search a position set (depth 7 unless given), compare every answer\n"
        << "                                  with the recorded one; exit status 1 on any difference\n"
        << "  pbrain-tarvo --max-depth N      the protocol at a level, as INFO max_depth N sets it: below 7 the\n"
        << "                                  tournament search at depth N (weaker), 7 the tournament play, above\n"
        << "                                  7 a search that deepens while the turn's time allows\n"
        << "  pbrain-tarvo --help | --version\n"
        << "\n"
        << "Managers start it without arguments and send START 20, BEGIN, TURN x,y, BOARD ... DONE, INFO key value,\n"
        << "ABOUT, END, RESTART, TAKEBACK x,y, SWAP2BOARD ... DONE; Yixin-Board adds its yx words (yxshowinfo,\n"
        << "yxboard, yxnbest N, yxstop, yxshowforbid) and INFO show_detail for the search's line and value.\n"
        << "Levels: INFO max_depth N (as --max-depth N; -1 or 0 the tournament play) and INFO max_node N (a cap\n"
        << "on a turn's nodes; -1 or 0 none). Above depth 7 the search deepens within the turn's time (INFO\n"
        << "timeout_turn, a sixth of time_left, 200 ms held back), shows each depth with INFO show_detail, and\n"
        << "yxstop ends it at once with the best move so far. INFO hash_size KB and max_memory size its table.\n"
        << "\n"
        << "Operator commands, typed on standard input: play x,y  0move  print  in c  read FILE  best  zturn i\n"
        << "problem n  db add PATH  db export  db create  db check  stats.\n"
        << "\n"
        << "Data folder (experience database, estimate tables, node files, trace log): tarvo/ in the working\n"
        << "directory; else tarvo/ beside the executable"
        << (beside.empty() ? std::string() : " (" + platform::dataPathBelow(beside, platform::DataFolder) + ")") << ";\n"
        << "else, once a manager sends INFO folder DIR, DIR/pbrain-tarvo/tarvo/ (made when missing). Without one\n"
        << "the engine plays without its experience database.\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        printUsage(std::cout);
        return 0;
    }
    if (first == "--version") {
        std::cout << "pbrain-tarvo " << Version << std::endl;
        return 0;
    }
    if (first == "bench") {
        if (argc == 2) {
            runBench(std::cout);
            return 0;
        }
        // bench FILE [DEPTH]: a position set, at depth 7 unless given.
        int depth = 7;
        if (argc > 3) {
            try {
                depth = std::stoi(argv[3]);
            } catch (const std::exception&) {
                depth = -1;
            }
            if (depth < 0 || depth > 20) {
                std::cout << "ERROR depth must be 0..20, not '" << argv[3] << "'" << std::endl;
                return 2;
            }
        }
        return runPositionBench(std::cout, argv[2], depth) == 0 ? 0 : 1;
    }
    // --max-depth N sets a level as INFO max_depth N does; any other argument
    // (Yixin-Board's --force-utf8 among them) leaves the protocol as it is.
    int32_t maxDepth = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--max-depth") continue;
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        const auto [end, error] = std::from_chars(value, value + std::strlen(value), maxDepth);
        if (error != std::errc() || *end != '\0' || maxDepth < 1) {
            std::cout << "ERROR --max-depth needs a depth of 1 or more, not '" << value << "'" << std::endl;
            return 2;
        }
    }
    std::ios::sync_with_stdio(false);
    // Only a protocol run touches the data folder: the experience file is
    // opened before the command loop sets up.
    experienceDatabase.openAtStartUp();
    return runEngine(std::cin, std::cout, maxDepth);
}
