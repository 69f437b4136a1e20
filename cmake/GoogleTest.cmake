# GoogleTest is built from the Debian source package inside this build, so the
# same sources serve the native build and the mingw cross build.
if(NOT TARGET gtest)
  set(ZELLOG_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS "${ZELLOG_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found at ${ZELLOG_GTEST_SOURCE_DIR} (install the googletest package)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZELLOG_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# One test process per binary: starting a process under wine costs far more
# than running a test, so no per-test discovery.
function(zellog_add_gtest name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE gtest gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
endfunction()
