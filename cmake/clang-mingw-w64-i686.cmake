# Windows x86 (32-bit) with clang: see clang-mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZELLOG_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-w64.cmake)
