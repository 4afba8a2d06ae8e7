# kadenza_add_fuzzer(NAME ENTRY file.cpp SOURCES project sources... [SECONDS n] [LIBS -lx...])
# Builds a libFuzzer target with clang++ (the rest of the project builds with g++) and
# registers a ctest test that runs it for a bounded time on a fresh corpus, seeded from
# tests/fuzz/corpus/NAME when that folder exists. A crash, leak, hang or sanitizer report
# fails the test.
find_program(KADENZA_CLANGXX NAMES clang++-14 clang++)

function(kadenza_add_fuzzer name)
  cmake_parse_arguments(ARG "" "ENTRY;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT KADENZA_FUZZ)
    return()
  endif()
  if(NOT KADENZA_CLANGXX)
    message(FATAL_ERROR "clang++ is needed for the fuzz targets; run scripts/install-deps")
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 15)
  endif()
  set(out ${CMAKE_BINARY_DIR}/fuzz/${name})
  set(srcs ${ARG_ENTRY} ${ARG_SOURCES})
  list(TRANSFORM srcs PREPEND ${PROJECT_SOURCE_DIR}/ REGEX "^[^/]")
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fuzz
    COMMAND ${KADENZA_CLANGXX} -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined -I${PROJECT_SOURCE_DIR} ${srcs} ${ARG_LIBS} -o ${out}
    DEPENDS ${srcs}
    IMPLICIT_DEPENDS CXX ${srcs}
    COMMENT "Building fuzz target ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${out})
  set(seed ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set(corpus ${CMAKE_BINARY_DIR}/fuzz/${name}.corpus)
  set(seed_arg "")
  if(EXISTS ${seed})
    set(seed_arg ${seed})
  endif()
  add_test(NAME fuzz.${name}
    COMMAND sh -c "rm -rf '${corpus}' && mkdir -p '${corpus}' && exec '${out}' -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 '${corpus}' ${seed_arg}")
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()
