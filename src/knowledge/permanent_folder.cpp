#include "knowledge/permanent_folder.h"

#include <cstdio>
#include <random>

#include "knowledge/experience_database.h"
#include "knowledge/node_record.h"
#include "platform/data_directory.h"
#include "platform/directory.h"
#include "platform/file_kind.h"

namespace {

// Several brains may start on one folder at once: the tree is written whole
// under a name of this process's own and then published, so that no brain
// ever opens a file without its root, nor empties one another brain made.
bool createTreeIfMissing(const std::string& path) {
    if (platform::fileKind(path) != platform::FileKind::Missing) return true;
    const std::string written = path + "." + std::to_string(std::random_device{}()) + ".new";
    std::FILE* file = std::fopen(written.c_str(), "wb");
    if (!file) return false;
    uint8_t bytes[RecordSize];
    encodeRecord(emptyTreeRoot(), bytes);
    const bool whole = std::fwrite(bytes, 1, RecordSize, file) == RecordSize;
    if (std::fclose(file) != 0 || !whole) {
        std::remove(written.c_str());
        return false;
    }
    return platform::publishFile(written, path) || platform::fileKind(path) == platform::FileKind::Regular;
}

}  // namespace

bool usePermanentFolder(const std::string& folder) {
    if (!platform::makeBrainFolder(folder)) return false;
    const std::string root = platform::brainFolderIn(folder);
    const std::string path = platform::dataPathBelow(root, platform::ExperienceFilePath);
    if (!createTreeIfMissing(path)) return false;
    if (!experienceDatabase.open(path)) return false;
    experienceDatabase.setSizeLimit(PermanentFolderCap);
    platform::useDataRoot(root);
    experienceDatabase.consultEnabled = true;
    experienceDatabase.learnEnabled = true;
    return true;
}
