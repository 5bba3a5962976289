#pragma once

namespace platform {

// Whether reading the process's standard input would return at once: data
// waits in the pipe, or its writer has closed it. Never blocks. False for a
// console, where a read waits for a whole line however many keys wait.
bool standardInputReady();

}  // namespace platform
