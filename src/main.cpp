#include <iostream>
#include <string_view>

#include "protocol/command_loop.h"
#include "search/bench.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "bench") {
        runBench(std::cout);
        return 0;
    }
    std::ios::sync_with_stdio(false);
    return runEngine(std::cin, std::cout);
}
