#pragma once
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <regex>
#include <string>

// Runs tools/referee.py with the given arguments and collects what it prints.
struct RefereeRun {
    int exitCode = -1;
    std::string output;

    // The number after `label` on the stats line of brain A or B, or -1.
    double stat(char brain, const std::string& label) const {
        std::smatch m;
        std::regex line("brain " + std::string(1, brain) + ": .*" + label + " (-?[0-9.]+)");
        return std::regex_search(output, m, line) ? std::stod(m[1]) : -1;
    }
};

inline std::string shellQuote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline RefereeRun runReferee(const std::string& arguments) {
    RefereeRun run;
    std::string command = "python3 " + shellQuote(std::string(TARVO_SOURCE_DIR) + "/tools/referee.py") +
                          " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::string fakeBrain(const std::string& options = "") {
    return shellQuote("python3 " + std::string(TARVO_SOURCE_DIR) + "/tests/protocol/fake_brain.py " + options);
}
