# libFuzzer targets. They need clang and the sanitizers while the rest of the project builds
# with g++, so a second build of this source tree, compiled by clang with the sanitizers,
# makes them: build/fuzz-build, started from this build as the target kadenza_fuzzers. There
# every library source compiles once and each fuzz target links the libraries it names.
#
# kadenza_add_fuzzer(NAME ENTRY tests/fuzz/file.cpp LIBS libraries... [SOURCES files...]
#                    [SECONDS n])
# builds the fuzz target build/fuzz/NAME from ENTRY (and SOURCES, paths from the top of the
# tree) linked with LIBS, and registers a ctest test "fuzz.NAME" that runs it for SECONDS
# (default 15) on a fresh corpus seeded from tests/fuzz/corpus/NAME when that folder exists.
# A crash, leak, hang or sanitizer report fails the test.

set(KADENZA_FUZZ_OUTPUT ${CMAKE_BINARY_DIR}/fuzz CACHE PATH "Where the fuzz targets are put")

if(KADENZA_FUZZ_BUILD)
  # Inside the sanitizer build: only the fuzz targets (and what they link) are built.
  add_compile_options(-O1 -g -fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(kadenza_fuzz_targets ALL)
elseif(KADENZA_FUZZ)
  find_program(KADENZA_CLANGXX NAMES clang++-14 clang++)
  if(NOT KADENZA_CLANGXX)
    message(FATAL_ERROR "clang++ is needed for the fuzz targets; run scripts/install-deps")
  endif()
  # The application is not fuzzed; the sanitizer build leaves it out.
  set(fuzz_subsystems ${KADENZA_SUBSYSTEMS})
  list(REMOVE_ITEM fuzz_subsystems app)
  string(REPLACE ";" "$<SEMICOLON>" fuzz_subsystems "${fuzz_subsystems}")
  include(ExternalProject)
  ExternalProject_Add(kadenza_fuzzers
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz-build
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${KADENZA_CLANGXX}
               -DCMAKE_BUILD_TYPE=Debug
               -DKADENZA_FUZZ_BUILD=ON
               -DKADENZA_FUZZ_OUTPUT=${KADENZA_FUZZ_OUTPUT}
               -DKADENZA_SUBSYSTEMS=${fuzz_subsystems}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD OFF)
endif()

function(kadenza_add_fuzzer name)
  cmake_parse_arguments(ARG "" "ENTRY;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(KADENZA_FUZZ_BUILD)
    set(srcs ${ARG_ENTRY} ${ARG_SOURCES})
    list(TRANSFORM srcs PREPEND ${PROJECT_SOURCE_DIR}/ REGEX "^[^/]")
    add_executable(${name} ${srcs})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KADENZA_FUZZ_OUTPUT})
    add_dependencies(kadenza_fuzz_targets ${name})
    return()
  endif()
  if(NOT KADENZA_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 15)
  endif()
  set(out ${KADENZA_FUZZ_OUTPUT}/${name})
  set(seed ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set(corpus ${KADENZA_FUZZ_OUTPUT}/${name}.corpus)
  set(seed_arg "")
  if(EXISTS ${seed})
    set(seed_arg ${seed})
  endif()
  add_test(NAME fuzz.${name}
    COMMAND sh -c "rm -rf '${corpus}' && mkdir -p '${corpus}' && exec '${out}' -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 '${corpus}' ${seed_arg}")
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()
