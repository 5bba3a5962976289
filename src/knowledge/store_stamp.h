#pragma once
#include <cstdint>
#include <string>

// Beside the experience file (platform::storeStampPath): a count of the
// stores that every store raises under the lock before it writes anything.
// The same count on the next store of a process means that no other process
// wrote in between.

// The stamp as it stands, raised by one (before holds what it was); 0 when
// there is no stamp to raise. Made when missing.
uint64_t raiseStamp(const std::string& experiencePath, uint64_t& before);

// The stamp as it stands; 0 when there is none.
uint64_t peekStamp(const std::string& experiencePath);
