# Cross build for Windows with the posix thread model mingw-w64 compilers.
# Included by the toolchain file of each target, which sets
# ZELLOG_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${ZELLOG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELLOG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZELLOG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELLOG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# libgcc, libstdc++ and winpthread go into every binary, so the DLL and the
# test programs need nothing beside the system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
