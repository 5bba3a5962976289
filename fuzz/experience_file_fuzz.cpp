// The experience file on arbitrary bytes: open, check, follow, store.
#include <sstream>

#include "fuzz_support.h"
#include "knowledge/database_commands.h"
#include "platform/data_directory.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder("tarvo_fuzz_experience_file");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::filesystem::remove(platform::pendingStorePath(platform::ExperienceFilePath));
    writeFile(platform::ExperienceFilePath, data, size);
    std::ostringstream out;
    checkDatabase(platform::ExperienceFilePath, out);
    ExperienceDatabase database;
    if (!database.open(platform::ExperienceFilePath)) return 0;
    try {
        // Follow a game down the stored lines, asking for a reply on the way.
        database.rewind();
        for (int cell : {189, 190, 169, 168, 209}) {
            int reply = 0;
            database.recommend(false, reply);
            database.showCurrentNode(out);
            if (!database.descend(normalise(database.frame, cell))) break;
        }
    } catch (const DatabaseError&) {
    }
    try {
        std::vector<int32_t> moves = {189, 190, 169, 168, 149, 129, 209, 229, 109};
        const int value = judgeGame(moves);
        if (value != Unsuitable) saveGame(database, moves, value, out);
    } catch (const DatabaseError&) {
    }
    try {
        database.close();
    } catch (const DatabaseError&) {
    }
    return 0;
}
