// The command loop on arbitrary bytes as standard input, with a small
// experience file present.
#include <cctype>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "platform/data_directory.h"
#include "protocol/command_loop.h"

namespace {

std::string pristine;  // the experience file every input starts from

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder("tarvo_fuzz_command_loop");
    writeSmallExperienceFile(platform::ExperienceFilePath);
    std::ifstream file(platform::ExperienceFilePath, std::ios::binary);
    pristine.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string lower = input;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // "stats" searches every stored position for seconds, and "db add" may be
    // pointed at the whole file system: both are left to their own tests.
    if (lower.find("stats") != std::string::npos || lower.find("add") != std::string::npos) return -1;
    std::filesystem::remove_all("tarvo/nodes");
    writeFile(platform::ExperienceFilePath, reinterpret_cast<const uint8_t*>(pristine.data()), pristine.size());
    experienceDatabase.consultEnabled = experienceDatabase.learnEnabled = experienceDatabase.open(platform::ExperienceFilePath);
    // Searches end at their root unless the input gives itself more time.
    std::istringstream in("INFO timeout_turn 30\nINFO time_left 180\n" + input);
    std::ostringstream out;
    runEngine(in, out);
    return 0;
}
