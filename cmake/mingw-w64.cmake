# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KOVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVANE_MINGW_TRIPLE}-windres)
# Archives of link-time-optimised objects need the compiler's wrappers for their symbol index.
set(CMAKE_AR /usr/bin/${KOVANE_MINGW_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB /usr/bin/${KOVANE_MINGW_TRIPLE}-gcc-ranlib-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine, each in a throw-away prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
