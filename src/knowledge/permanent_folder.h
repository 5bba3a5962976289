#pragma once
#include <cstdint>
#include <string>

// A manager's folder for files a brain keeps between games (Piskvork's and
// the Gomocup judge's INFO folder): the brain's own files go to a subfolder
// of its name (platform::brainFolderIn).
// The Gomocup judge caps that folder at 70 MB.
constexpr int64_t PermanentFolderCap = 70'000'000;

// Makes folder/pbrain-tarvo/tarvo/ the data folder (made, with folder itself
// when that is missing, as a manager expects of its brains), with an
// experience file holding an empty tree when it has none, opens that file and
// switches following and learning on, capped at PermanentFolderCap. False,
// with nothing changed but the folders made, when the folders or the file
// cannot be made or the file cannot be opened.
bool usePermanentFolder(const std::string& folder);
