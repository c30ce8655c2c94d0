# Cross-compiles a 64-bit build of the program with MinGW-w64 (posix threads),
# for testing where the kernel runs no 32-bit code and Wine only runs 64-bit.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# Debian's "wine" prefers the 32-bit loader whenever it is installed.
find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
