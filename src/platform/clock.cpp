#include "platform/clock.h"

#include <chrono>

namespace platform {

int32_t clockMs() {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    const auto seconds = static_cast<uint32_t>(duration_cast<std::chrono::seconds>(sinceEpoch).count());
    const auto millis = static_cast<uint32_t>(duration_cast<milliseconds>(sinceEpoch).count() % 1000);
    return static_cast<int32_t>(seconds * 1000u + millis);
}

}  // namespace platform
