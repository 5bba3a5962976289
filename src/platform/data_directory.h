#pragma once
#include <string>
#include <string_view>

namespace platform {

// Where a data file named relative to the working directory ("tarvo/...")
// really lives. The "tarvo" folder of the working directory comes first; a
// manager that starts the brain in a folder of its own (Piskvork uses a
// temporary one) gets the "tarvo" folder beside the executable instead, when
// there is one. Once a data root is set, the path lies below it. The path
// comes back unchanged in every other case.
std::string dataPath(std::string_view relative);

// True when a "tarvo" folder is in the working directory or beside the executable.
bool dataFolderFound();

// From now on the data files live in root's "tarvo" folder (a manager's
// folder for files kept between games); an empty root goes back to the
// lookup above.
void useDataRoot(const std::string& root);

}  // namespace platform
