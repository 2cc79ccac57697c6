# Finds what the chosen parts of the build need, at configure time. A missing
# dependency stops the configure step with one line that names the Debian
# package providing it, so that no build ever stops at a missing header.
#
#   the program (Linux)         ncurses (its terminfo library), threads
#   the simulator (TAVRIX_SIM)  CLI11
#   the tests (TAVRIX_TESTS)    GoogleTest: the installed library on Linux,
#                               its sources when cross-compiling for Windows
#   the Windows compiler        checked by cmake/mingw-w64.cmake
#
# Each check is an ordinary find_package, so -DCMAKE_DISABLE_FIND_PACKAGE_<name>=ON
# shows what a machine without that package gets.

# tavrix_missing(what package [advice]): the one-line stop. The leading space
# keeps CMake from wrapping the line.
function(tavrix_missing what package)
  message(FATAL_ERROR " ${what} not found: install the Debian package ${package} "
                      "(apt-get install ${package})${ARGN}")
endfunction()

if(TAVRIX_PORTABLE_ONLY)
  return()
endif()

if(NOT WIN32)
  set(CURSES_NEED_NCURSES TRUE)
  set(CURSES_NEED_WIDE TRUE)
  find_package(Curses)
  if(NOT CURSES_FOUND)
    tavrix_missing("ncurses (wide-character)" libncurses-dev)
  endif()
  find_package(Threads)
  if(NOT Threads_FOUND)
    tavrix_missing("POSIX threads" libc6-dev)
  endif()
endif()

if(TAVRIX_SIM)
  find_package(CLI11 CONFIG QUIET)
  if(NOT CLI11_FOUND)
    tavrix_missing("CLI11 (for the modem simulator)" libcli11-dev
                   ", or build the program alone with -DTAVRIX_SIM=OFF")
  endif()
endif()

if(TAVRIX_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # No GoogleTest library exists for the target: build it from Debian's
    # sources with the same compiler.
    set(TAVRIX_GOOGLETEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    if(NOT EXISTS ${TAVRIX_GOOGLETEST_SOURCES}/CMakeLists.txt)
      tavrix_missing("GoogleTest sources (${TAVRIX_GOOGLETEST_SOURCES})" googletest
                     ", or configure with -DTAVRIX_TESTS=OFF")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TAVRIX_GOOGLETEST_SOURCES} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
    endif()
  else()
    find_package(GTest)
    if(NOT GTest_FOUND)
      tavrix_missing("GoogleTest" libgtest-dev ", or configure with -DTAVRIX_TESTS=OFF")
    endif()
  endif()
endif()
