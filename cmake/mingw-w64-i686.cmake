# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (posix threads),
# as cmake/mingw-w64-x86_64.cmake does for 64-bit; the tests run under wine's
# 32-bit loader (package wine32, multiarch i386).
set(KORVANE_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANE_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
