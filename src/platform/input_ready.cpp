#include "platform/input_ready.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

bool standardInputReady() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || input == nullptr) return false;
    switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
        DWORD available = 0;
        // A closed pipe fails the peek, and the read then returns at once
        // with the end of input; any other failure tells nothing, and a read
        // could wait.
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE;
        return available > 0;
    }
    case FILE_TYPE_DISK:
        return true;
    default:
        return false;
    }
}

#else

bool standardInputReady() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

#endif

}  // namespace platform
