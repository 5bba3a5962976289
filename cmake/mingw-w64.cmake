# Cross-compiles the engine for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix). The run-time libraries are linked in, so the
# executable starts on a bare Windows with only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -s: a tournament entry has a size limit, and symbols help no one there.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")
