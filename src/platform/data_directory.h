#pragma once
#include <string>
#include <string_view>

namespace platform {

// Where a data file named relative to the working directory ("tarvo/...")
// really lives. The "tarvo" folder of the working directory comes first; a
// manager that starts the brain in a folder of its own (Piskvork uses a
// temporary one) gets the "tarvo" folder beside the executable instead, when
// there is one. The path comes back unchanged in every other case.
std::string dataPath(std::string_view relative);

}  // namespace platform
