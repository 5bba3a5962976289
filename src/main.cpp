#include <iostream>
#include <string>
#include <string_view>

#include "protocol/command_loop.h"
#include "search/bench.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "bench") {
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
    std::ios::sync_with_stdio(false);
    return runEngine(std::cin, std::cout);
}
