# Cross build for Windows with clang against the mingw-w64 posix headers and
# libraries: the second compiler that keeps the code to standard C++. Included
# by the toolchain file of each target, which sets ZELLOG_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
# Version 16, because std::source_location needs a builtin that clang 14 lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER clang-16)
set(CMAKE_C_COMPILER_TARGET ${ZELLOG_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_CXX_COMPILER_TARGET ${ZELLOG_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${ZELLOG_MINGW_TRIPLE}-windres)

# Debian's clang does not find the posix-thread GCC of mingw-w64 by itself
# (its directory is named like "12-posix"), so its C++ library is named here.
file(GLOB ZELLOG_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${ZELLOG_MINGW_TRIPLE}/*-posix)
list(SORT ZELLOG_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET ZELLOG_MINGW_GCC_DIRS 0 ZELLOG_MINGW_GCC_DIR)
if(NOT IS_DIRECTORY "${ZELLOG_MINGW_GCC_DIR}/include/c++")
  message(FATAL_ERROR "No posix-thread mingw-w64 GCC under /usr/lib/gcc/${ZELLOG_MINGW_TRIPLE} (install the posix g++-mingw-w64 package of ${ZELLOG_MINGW_TRIPLE})")
endif()
# The flags reach the link lines too, where they have nothing to do.
set(ZELLOG_MINGW_INCLUDES
  "-nostdlibinc -nostdinc++ -Wno-unused-command-line-argument"
  "-isystem ${ZELLOG_MINGW_GCC_DIR}/include/c++"
  "-isystem ${ZELLOG_MINGW_GCC_DIR}/include/c++/${ZELLOG_MINGW_TRIPLE}"
  "-isystem ${ZELLOG_MINGW_GCC_DIR}/include/c++/backward"
  "-isystem /usr/${ZELLOG_MINGW_TRIPLE}/include")
list(JOIN ZELLOG_MINGW_INCLUDES " " ZELLOG_MINGW_INCLUDES)
set(CMAKE_C_FLAGS_INIT "${ZELLOG_MINGW_INCLUDES}")
set(CMAKE_CXX_FLAGS_INIT "${ZELLOG_MINGW_INCLUDES}")

set(CMAKE_FIND_ROOT_PATH /usr/${ZELLOG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# As with GCC: the C++ runtime and winpthread go into every binary. LLVM's
# linker, because GNU ld warns about every type name whose comdat section
# clang and GCC size differently.
# The linker of the same LLVM version: older ones refuse its directives.
# GCC's own crtbegin.o and crtend.o (-B): on x86 they register the DWARF
# unwind tables that GCC's unwinder searches; mingw-w64's stand-ins do not,
# and every exception thrown would end the program.
set(ZELLOG_MINGW_LINK
    "-static -pthread -fuse-ld=lld --ld-path=/usr/bin/ld.lld-16 -B${ZELLOG_MINGW_GCC_DIR} -L${ZELLOG_MINGW_GCC_DIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${ZELLOG_MINGW_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${ZELLOG_MINGW_LINK}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${ZELLOG_MINGW_LINK}")
