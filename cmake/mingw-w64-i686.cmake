# Windows x86 (32-bit), for consumers that are 32-bit processes, with the
# mingw-w64 posix compilers: see mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZELLOG_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
