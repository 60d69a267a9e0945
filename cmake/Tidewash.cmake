# Build helpers shared by every directory of a cross tree.

# Known to every tree; only the test trees use it.
set(TIDEWASH_PREFIX "" CACHE PATH "the test run's Wine prefix")
set(TIDEWASH_DELIVER_DIR "" CACHE PATH "the shipped i686 binaries")

set(TIDEWASH_WARNINGS -Wall -Wextra -Werror)

# Our own code: warnings on and fatal, on both targets.
function(tidewash_warnings target)
  target_compile_options(${target} PRIVATE ${TIDEWASH_WARNINGS})
endfunction()

# The code-signing key of a release. Only the deliver tree is ever given one (tools/build.sh's
# environment, through the super-build); empty, the build signs nothing and runs exactly the steps of an
# unsigned build.
set(TIDEWASH_SIGNING_PFX "" CACHE FILEPATH "PKCS#12 file that signs the deliverables; empty: unsigned")
set(TIDEWASH_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "file holding the password of TIDEWASH_SIGNING_PFX")
set(TIDEWASH_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; empty: no time stamp")

# In `out`: the build steps that sign `file` in place and verify it, or nothing in an unsigned build.
function(tidewash_sign_steps out file)
  set(steps)
  if(TIDEWASH_SIGNING_PFX)
    find_program(TIDEWASH_OSSLSIGNCODE osslsigncode REQUIRED)
    set(steps COMMAND ${TIDEWASH_PYTHON} ${PROJECT_SOURCE_DIR}/tools/sign_file.py
              --pfx ${TIDEWASH_SIGNING_PFX} --password-file ${TIDEWASH_SIGNING_PASSWORD_FILE}
              --osslsigncode ${TIDEWASH_OSSLSIGNCODE})
    if(TIDEWASH_TIMESTAMP_URL)
      list(APPEND steps --timestamp-url ${TIDEWASH_TIMESTAMP_URL})
    endif()
    list(APPEND steps ${file})
  endif()
  set(${out} ${steps} PARENT_SCOPE)
endfunction()

# A shipped binary goes out stripped; its symbols and debug information stay beside the build in
# symbols/<name>.debug, so that a crash address can still be read. Prints the shipped size. The test
# trees treat their builds of the product the same way, so that both tiers test what ships.
# SIGN: a release signs the stripped binary right here, in the step that made it, so that an unsigned
# copy never lies in bin/ as finished. Tidewash.exe is signed only once its payload is appended
# (tidewash_add_payload_package); its image is not signed.
function(tidewash_ship target)
  cmake_parse_arguments(S "SIGN" "" "" ${ARGN})
  find_program(TIDEWASH_PYTHON python3 REQUIRED)
  set(sign)
  if(S_SIGN)
    tidewash_sign_steps(sign $<TARGET_FILE:${target}>)
  endif()
  if(sign)
    # A new key under the same name, or a changed signing step, signs again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TIDEWASH_SIGNING_PFX}
                 ${PROJECT_SOURCE_DIR}/tools/sign_file.py)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${TIDEWASH_PYTHON} ${PROJECT_SOURCE_DIR}/tools/split_symbols.py ${CMAKE_OBJCOPY}
            $<TARGET_FILE:${target}> ${CMAKE_BINARY_DIR}/symbols
    ${sign}
    VERBATIM)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/TestLocks.cmake)

# Test programs run under Wine. Each cross tree writes the list of its tests into ctest_tests.cmake;
# the super-build's CTest run includes the files of both tiers.
set_property(GLOBAL PROPERTY TIDEWASH_TESTS "")

# tidewash_add_test(NAME SOURCES src... [LIBS lib...] [RESOURCE_LOCK name...] [TIMEOUT s] [GUI | HEADLESS]
#                   [STARTS_PROGRAM] [CHANGES_PREFIX])
# GUI: the test drives windows on the run's display. HEADLESS: the test runs in a Wine session without
# any display (tools/wine_headless_run.sh), with a prefix of its own.
# STARTS_PROGRAM: the test starts a program that holds the one-run guard, or holds the guard itself.
# CHANGES_PREFIX: the test changes state of the whole prefix (and puts it back). Each takes its lock of
# cmake/TestLocks.cmake.
function(tidewash_add_test name)
  cmake_parse_arguments(T "GUI;HEADLESS;STARTS_PROGRAM;CHANGES_PREFIX" "TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK"
                        ${ARGN})
  if(T_STARTS_PROGRAM)
    if(T_HEADLESS)
      list(APPEND T_RESOURCE_LOCK ${TIDEWASH_LOCK_ONE_RUN_HEADLESS})
    else()
      list(APPEND T_RESOURCE_LOCK ${TIDEWASH_LOCK_ONE_RUN})
    endif()
  endif()
  if(T_CHANGES_PREFIX)
    list(APPEND T_RESOURCE_LOCK ${TIDEWASH_LOCK_PREFIX_STATE})
  endif()
  # Names given as "a,b" and as a list are one list.
  string(REPLACE ";" "," T_RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  tidewash_warnings(${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(session "")
  if(T_GUI)
    set(session GUI)
  elseif(T_HEADLESS)
    set(session HEADLESS)
  endif()
  set(entry "${name}|${T_TIMEOUT}|${T_RESOURCE_LOCK}|${session}")
  set_property(GLOBAL APPEND PROPERTY TIDEWASH_TESTS "${entry}")
endfunction()

function(tidewash_write_test_manifest)
  get_property(tests GLOBAL PROPERTY TIDEWASH_TESTS)
  set(tier ${TIDEWASH_ARCH})
  # The programs a test drives as the product: the shipped i686 build on the i686 tier, this tree's own
  # build on the x86_64 tier.
  if(tier STREQUAL "i686" AND TIDEWASH_DELIVER_DIR)
    set(product_dir ${TIDEWASH_DELIVER_DIR})
  else()
    set(product_dir ${TIDEWASH_BIN})
  endif()
  set(out "# Generated by the ${tier} tree: its test programs, run under Wine.\n")
  foreach(entry IN LISTS tests)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 timeout)
    list(GET parts 2 locks)
    list(GET parts 3 session)
    string(REPLACE "," ";" locks "${locks}")
    set(runner "${PROJECT_SOURCE_DIR}/tools/wine_run.sh")
    if(session STREQUAL "GUI")
      # Tests that see windows of the programs they drive get a virtual display of their own.
      set(runner "${PROJECT_SOURCE_DIR}/tools/wine_gui_run.sh")
    elseif(session STREQUAL "HEADLESS")
      set(runner "${PROJECT_SOURCE_DIR}/tools/wine_headless_run.sh")
    endif()
    string(APPEND out "add_test(${tier}.${name} \"${runner}\" ${tier} \"${TIDEWASH_BIN}/${name}.exe\")\n")
    set(props "LABELS ${tier} TIMEOUT ${timeout} FIXTURES_REQUIRED wineprefix")
    string(APPEND props " ENVIRONMENT \"WINEPREFIX=${TIDEWASH_PREFIX};TW_BIN_DIR=${TIDEWASH_BIN};TW_PRODUCT_DIR=${product_dir}\"")
    if(locks)
      string(APPEND props " RESOURCE_LOCK \"${locks}\"")
    endif()
    if(session STREQUAL "GUI")
      # Windows on the run's Xvfb display (tools/xvfb.sh, picked up by tools/wine_env.sh).
      string(REPLACE "FIXTURES_REQUIRED wineprefix" "FIXTURES_REQUIRED \"wineprefix;xvfb\"" props "${props}")
    endif()
    string(APPEND out "set_tests_properties(${tier}.${name} PROPERTIES ${props})\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/ctest_tests.cmake "${out}")
endfunction()

# The delivered program: the linked image of the target Tidewash (in obj/), the marker and a 7z
# archive with the tree's own plug-in and cleanup engine under "plugin/", written to bin/Tidewash.exe.
# Called at the end of the top-level list, when every target of the tree exists; components that are not
# built (yet) are left out, so the archive may hold only the empty "plugin" folder.
function(tidewash_add_payload_package)
  find_program(TIDEWASH_PYTHON python3 REQUIRED)
  find_program(TIDEWASH_7ZZ 7zz REQUIRED)
  set(script ${PROJECT_SOURCE_DIR}/tools/pack_payload.py)
  set(program ${TIDEWASH_BIN}/Tidewash.exe)
  set(plugin_args)
  set(plugin_targets)
  foreach(component grimlet RunMendrel)
    if(TARGET ${component})
      list(APPEND plugin_args --plugin $<TARGET_FILE:${component}>)
      list(APPEND plugin_targets ${component})
    endif()
  endforeach()
  # A release signs the whole program after packing, so that the signature covers the payload too.
  tidewash_sign_steps(sign ${program})
  set(sign_depends)
  if(sign)
    set(sign_depends ${PROJECT_SOURCE_DIR}/tools/sign_file.py ${TIDEWASH_SIGNING_PFX})
  endif()
  add_custom_command(OUTPUT ${program}
    COMMAND ${TIDEWASH_PYTHON} ${script} --image $<TARGET_FILE:Tidewash> --out ${program}
            --work ${CMAKE_BINARY_DIR}/payload --7zz ${TIDEWASH_7ZZ} ${plugin_args}
    ${sign}
    DEPENDS Tidewash ${plugin_targets} ${script} ${sign_depends}
    COMMENT "Packing the payload into Tidewash.exe"
    VERBATIM)
  add_custom_target(tidewash_package ALL DEPENDS ${program})
endfunction()
