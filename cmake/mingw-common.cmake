# Cross build for Windows with MinGW-w64 (Debian: g++-mingw-w64-*), shared by
# the toolchain files of both widths; each sets CMAKE_SYSTEM_PROCESSOR first.
# The -posix compilers: their libstdc++ has std::mutex and std::thread,
# which GoogleTest needs; the -win32 ones of GCC 12 do not.
set(CMAKE_SYSTEM_NAME Windows)
set(triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (ctest --preset mingw-*).
include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
