# The super-build: three cross trees built from these sources, and one CTest run over both test tiers.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/TestLocks.cmake)

# A release is signed when the environment of the configure run names a code-signing key
# (tools/build.sh): the deliver tree alone gets it, and every configure run passes it on, so that a run
# without the variables builds unsigned again. An incomplete setting stops here, before anything is
# built.
set(_signing_args)
foreach(var TIDEWASH_SIGNING_PFX TIDEWASH_SIGNING_PASSWORD_FILE TIDEWASH_TIMESTAMP_URL)
  set(_${var} "$ENV{${var}}")
endforeach()
if(_TIDEWASH_SIGNING_PFX OR _TIDEWASH_SIGNING_PASSWORD_FILE OR _TIDEWASH_TIMESTAMP_URL)
  foreach(var TIDEWASH_SIGNING_PFX TIDEWASH_SIGNING_PASSWORD_FILE)
    if(NOT _${var})
      message(FATAL_ERROR "Signing needs both TIDEWASH_SIGNING_PFX and TIDEWASH_SIGNING_PASSWORD_FILE; "
                          "${var} is not set. Unset all signing variables for an unsigned build.")
    endif()
    # Relative to where the build was started, not to the sources.
    set(base "$ENV{PWD}")
    if(NOT base)
      set(base ${CMAKE_SOURCE_DIR})
    endif()
    cmake_path(ABSOLUTE_PATH _${var} BASE_DIRECTORY "${base}" NORMALIZE)
    if(NOT EXISTS "${_${var}}" OR IS_DIRECTORY "${_${var}}")
      message(FATAL_ERROR "${var}=${_${var}}: no such file.")
    endif()
  endforeach()
endif()
foreach(var TIDEWASH_SIGNING_PFX TIDEWASH_SIGNING_PASSWORD_FILE TIDEWASH_TIMESTAMP_URL)
  list(APPEND _signing_args "-D${var}=${_${var}}")
endforeach()

set(_trees
  "i686-deliver|mingw-i686-win32|deliver"
  "i686|mingw-i686-posix|test"
  "x86_64|mingw-x86_64-posix|test")

foreach(tree IN LISTS _trees)
  string(REPLACE "|" ";" parts "${tree}")
  list(GET parts 0 name)
  list(GET parts 1 toolchain)
  list(GET parts 2 flavor)
  set(signing_args)
  if(name STREQUAL "i686-deliver")
    set(signing_args ${_signing_args})
  endif()
  ExternalProject_Add(${name}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${name}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DTIDEWASH_FLAVOR=${flavor}
      -DTIDEWASH_DELIVER_DIR=${CMAKE_BINARY_DIR}/i686-deliver/bin
      -DTIDEWASH_PREFIX=${CMAKE_BINARY_DIR}/wineprefix
      ${signing_args}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON
    USES_TERMINAL_CONFIGURE ON)
endforeach()

enable_testing()
set(TIDEWASH_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME wineprefix.setup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine_prefix.sh start)
set_tests_properties(wineprefix.setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 600
  ENVIRONMENT "WINEPREFIX=${TIDEWASH_PREFIX}")
# One Xvfb display for the run: Wine's desktop process, started with the prefix, draws on it, and the GUI
# tests drive real windows there.
add_test(NAME xvfb.setup COMMAND ${CMAKE_SOURCE_DIR}/tools/xvfb.sh start)
set_tests_properties(xvfb.setup PROPERTIES FIXTURES_SETUP xvfb TIMEOUT 60
  ENVIRONMENT "WINEPREFIX=${TIDEWASH_PREFIX}")
add_test(NAME xvfb.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/xvfb.sh stop)
set_tests_properties(xvfb.stop PROPERTIES FIXTURES_CLEANUP xvfb
  ENVIRONMENT "WINEPREFIX=${TIDEWASH_PREFIX}")
set_tests_properties(wineprefix.setup PROPERTIES FIXTURES_REQUIRED xvfb)
add_test(NAME wineprefix.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/wine_prefix.sh stop)
set_tests_properties(wineprefix.stop PROPERTIES FIXTURES_CLEANUP wineprefix
  ENVIRONMENT "WINEPREFIX=${TIDEWASH_PREFIX}")
# A tier whose tree was not built (while iterating on one tree) simply has no tests.
file(WRITE ${CMAKE_BINARY_DIR}/ctest_tiers.cmake
  "include(\"${CMAKE_BINARY_DIR}/x86_64/ctest_tests.cmake\" OPTIONAL)\n"
  "include(\"${CMAKE_BINARY_DIR}/i686/ctest_tests.cmake\" OPTIONAL)\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/ctest_tiers.cmake)

# The shipped binaries load on Windows XP SP3 and import at load time only DLLs that the loader never
# takes from the program's folder (KnownDLLs), and no function newer than XP.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME deliverables.imports
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/deliverables/check_imports.py
          ${CMAKE_BINARY_DIR}/i686-deliver/bin)
set_tests_properties(deliverables.imports PROPERTIES LABELS i686)
# The check rejects a load-time import of a DLL that is not a KnownDLL: the signing probe imports wintrust.
add_test(NAME deliverables.imports_rejects
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/deliverables/check_imports.py
          ${CMAKE_BINARY_DIR}/i686/bin/verify_trust.exe)
set_tests_properties(deliverables.imports_rejects PROPERTIES LABELS i686
  PASS_REGULAR_EXPRESSION "FAIL verify_trust.exe: imports WINTRUST.dll at load time, which is not a KnownDLL")
# They ship stripped, with their symbol files beside the build, and Tidewash.exe within its size budget.
add_test(NAME deliverables.budget
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/deliverables/check_budget.py
          ${CMAKE_BINARY_DIR}/i686-deliver/bin ${CMAKE_BINARY_DIR}/i686-deliver/symbols)
set_tests_properties(deliverables.budget PROPERTIES LABELS i686)
# A release signed with a throw-away key (on copies, through the build's own signing step) verifies, and
# unpacks and scans under Wine as the unsigned program does.
add_test(NAME deliverables.signing
  COMMAND ${CMAKE_SOURCE_DIR}/tests/deliverables/check_signing.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
# It starts the shipped program in the run's prefix, so it takes the one-run guard's lock.
set_tests_properties(deliverables.signing PROPERTIES LABELS i686 TIMEOUT 300 FIXTURES_REQUIRED wineprefix
  RESOURCE_LOCK "grimlet_services;worm_threads;${TIDEWASH_LOCK_ONE_RUN}" ENVIRONMENT "WINEPREFIX=${TIDEWASH_PREFIX}")

# Native fuzzing of the parser cores (clang, libFuzzer, ASan, UBSan). Every test run replays each
# target's seeds and kept regression inputs, without mutation, so that its verdict depends only on the
# change under test; tools/fuzz.sh runs the long, random campaigns.
ExternalProject_Add(fuzz
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz
  BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)
file(WRITE ${CMAKE_BINARY_DIR}/ctest_fuzz.cmake "
if(EXISTS \"${CMAKE_BINARY_DIR}/fuzz/fuzz_targets.txt\")
  file(STRINGS \"${CMAKE_BINARY_DIR}/fuzz/fuzz_targets.txt\" targets)
  foreach(target IN LISTS targets)
    add_test(fuzz.\${target} \"${CMAKE_SOURCE_DIR}/tools/fuzz_run.sh\" \"${CMAKE_BINARY_DIR}\" \${target} replay)
    set_tests_properties(fuzz.\${target} PROPERTIES LABELS fuzz TIMEOUT 120)
  endforeach()
endif()
")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/ctest_fuzz.cmake)
