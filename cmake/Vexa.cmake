# Helpers shared by every folder's CMakeLists.txt.

# vexa_add_folders(<dir>...) - adds the folders below the calling one, in order.
# A folder the build expects that is missing stops the configure: a partial
# checkout must not build a partial system that looks whole.
macro(vexa_add_folders)
  foreach(_vexa_dir ${ARGN})
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_vexa_dir}/CMakeLists.txt)
      message(FATAL_ERROR "The folder ${CMAKE_CURRENT_SOURCE_DIR}/${_vexa_dir} (or its CMakeLists.txt) "
                          "is missing; the build needs it.")
    endif()
    add_subdirectory(${_vexa_dir})
  endforeach()
endmacro()

# vexa_require(<target>...) - stops the configure when a library, program or test
# the calling folder names is not defined (its folder or source is missing).
function(vexa_require)
  foreach(t ${ARGN})
    if(NOT TARGET ${t})
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR} needs ${t}, which the build does not define; "
                          "is its folder or source file missing?")
    endif()
  endforeach()
endfunction()

# vexa_library(<name> SOURCES ... [DEPS ...]) - one static library per folder.
function(vexa_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# vexa_test(<name> SOURCES ... [DEPS ...] [LABELS ...] [TIMEOUT n])
# A GoogleTest executable; every test case becomes its own CTest test, so each
# runs in a process (and a desktop session) of its own. One more test,
# <name>_whole (label whole), runs all its cases in one process in a random
# order, as a developer runs the binary by hand; the seed is in its output.
function(vexa_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT A_LABELS)
    set(A_LABELS unit)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 60)
  endif()
  add_executable(${name} ${A_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/InvariantWatch.cpp)
  # gtest_main only fills in main() for tests that do not define their own.
  target_link_libraries(${name} PRIVATE ${A_DEPS} vexa_test_support GTest::gtest GTest::gmock
                        GTest::gtest_main)
  # Discovery expands the properties as lists three times on their way to
  # set_tests_properties: several labels stay one value only escaped as often.
  set(labels "${A_LABELS}")
  foreach(pass RANGE 1 3)
    string(REPLACE "\\" "\\\\" labels "${labels}")
    string(REPLACE ";" "\\;" labels "${labels}")
  endforeach()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT ${A_TIMEOUT}
               ENVIRONMENT "VEXA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  add_test(NAME ${name}_whole COMMAND ${name} --gtest_shuffle)
  # A stress or long run stays out of a suite that leaves its label out, whole as well.
  set(whole_labels whole)
  foreach(label stress long)
    if(label IN_LIST A_LABELS)
      list(APPEND whole_labels ${label})
    endif()
  endforeach()
  set_tests_properties(${name}_whole PROPERTIES
    LABELS "${whole_labels}" TIMEOUT 300
    ENVIRONMENT "VEXA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()

# vexa_fuzz(<name> SOURCES ... [DEPS ...] [SECONDS n]) - a libFuzzer target and
# a short run of it as a test labelled fuzz. Only built with VEXA_FUZZ (clang).
function(vexa_fuzz name)
  cmake_parse_arguments(A "" "SECONDS" "SOURCES;DEPS" ${ARGN})
  if(NOT VEXA_FUZZ)
    return()
  endif()
  if(NOT A_SECONDS)
    set(A_SECONDS 20)
  endif()
  add_executable(${name} ${A_SOURCES})
  # The fuzz build makes only the fuzzers (target vexa_fuzzers), not the programs.
  if(NOT TARGET vexa_fuzzers)
    add_custom_target(vexa_fuzzers)
  endif()
  add_dependencies(vexa_fuzzers ${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${A_SECONDS} -rss_limit_mb=2048
           -detect_leaks=1 -print_final_stats=1)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# vexa_tests_in_folder(<deps...>) - every <Name>Test.cpp of the calling folder
# becomes a test executable <folder>_<Name>Test linked with the given libraries,
# and every <Name>Peer.cpp a helper program <Name>Peer in bin/ that tests start.
# A file that begins with the line "// labels: a b" gets those CTest labels
# (default unit) and "// timeout: n" its time limit.
function(vexa_tests_in_folder)
  vexa_require(${ARGN})
  set(deps ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB peers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Peer.cpp)
  foreach(src ${peers})
    get_filename_component(n ${src} NAME_WE)
    add_executable(${n} ${src})
    target_link_libraries(${n} PRIVATE ${deps} vexa_test_support)
  endforeach()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(src ${tests})
    get_filename_component(n ${src} NAME_WE)
    file(STRINGS ${src} head LIMIT_COUNT 3)
    set(labels unit)
    set(timeout 60)
    foreach(line ${head})
      if(line MATCHES "^// labels: (.*)$")
        string(REPLACE " " ";" labels "${CMAKE_MATCH_1}")
      elseif(line MATCHES "^// timeout: ([0-9]+)")
        set(timeout ${CMAKE_MATCH_1})
      endif()
    endforeach()
    vexa_test(${folder}_${n} SOURCES ${src} DEPS ${deps} LABELS ${labels} TIMEOUT ${timeout})
    foreach(p ${peers})
      get_filename_component(pn ${p} NAME_WE)
      add_dependencies(${folder}_${n} ${pn})
    endforeach()
  endforeach()
endfunction()
