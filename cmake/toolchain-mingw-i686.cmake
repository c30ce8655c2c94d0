# Cross-compiles the 32-bit Windows program with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
find_program(WINE_PROGRAM NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
