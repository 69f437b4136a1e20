# Windows x64 with the mingw-w64 posix compilers: see mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZELLOG_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
