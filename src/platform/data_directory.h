#pragma once
#include <string>
#include <string_view>

namespace platform {

// Every file the engine keeps, named relative to the working directory;
// dataPath says where one really lives. No other file spells these names.
constexpr std::string_view DataFolder = "tarvo";
constexpr const char* ExperienceFilePath = "tarvo/experience.bin";
constexpr const char* TraceLogPath = "tarvo/cycletrace.log";
constexpr const char* ProofEstimatePath = "tarvo/matlab/pn.est";
constexpr const char* DisproofEstimatePath = "tarvo/matlab/dn.est";
// Positions by their distance to the end of their game: nodeFilePath.
constexpr const char* NodeFilePrefix = "tarvo/nodes/node";
// Followed by the set number: the folder of problemFilePath.
constexpr const char* ProblemFolderPrefix = "tarvo/problems";
// Below a manager's folder for permanent files (INFO folder), the brain's own.
constexpr const char* BrainFolderName = "pbrain-tarvo";

// "tarvo/nodes/node%03d.bin" for the positions toEnd moves from their game's end.
std::string nodeFilePath(int toEnd);
// "tarvo/problems%d/%06d-a.dat" (side 'a') or "...-b.dat" (any other side).
std::string problemFilePath(int set, int number, char side);
// Beside the experience file: the lines of a store that runs, and the count
// of stores that tells a process whether another one wrote in between.
std::string pendingStorePath(const std::string& experiencePath);
std::string storeStampPath(const std::string& experiencePath);

// Where a data file named relative to the working directory ("tarvo/...")
// really lives. The "tarvo" folder of the working directory comes first; a
// manager that starts the brain in a folder of its own (Piskvork uses a
// temporary one) gets the "tarvo" folder beside the executable instead, when
// there is one. Once a data root is set, the path lies below it. The path
// comes back unchanged in every other case, but always written with the
// platform's separator.
std::string dataPath(std::string_view relative);

// Where dataPath puts a file once root is the data root.
std::string dataPathBelow(const std::string& root, std::string_view relative);

// True when a "tarvo" folder is in the working directory or beside the executable.
bool dataFolderFound();

// From now on the data files live in root's "tarvo" folder (a manager's
// folder for files kept between games); an empty root goes back to the
// lookup above.
void useDataRoot(const std::string& root);

// folder/pbrain-tarvo, written with the platform's separator (a manager on
// Windows names its folder with backslashes): the root of the data files
// kept in a manager's folder for permanent files.
std::string brainFolderIn(const std::string& folder);

// Makes brainFolderIn(folder) and its "tarvo" folder, and folder itself with
// the folders above it when they are missing. False when they are not all
// directories afterwards.
bool makeBrainFolder(const std::string& folder);

}  // namespace platform
