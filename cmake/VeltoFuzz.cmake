# velto_fuzz(<name> SOURCES ... [INCLUDES ...] [SECONDS n] [CORPUS dir])
#
# A libFuzzer target (AddressSanitizer and UndefinedBehaviorSanitizer) and
# its test: n seconds (default 60) over the checked-in seed corpus, new
# inputs going to the build tree. A crash leaves its input beside the
# target's build folder.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the fuzz targets need clang (CC=clang CXX=clang++)")
endif()
set(VELTO_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

function(velto_fuzz name)
  cmake_parse_arguments(ARG "" "SECONDS;CORPUS" "SOURCES;INCLUDES" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 60)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  target_compile_options(${name} PRIVATE ${VELTO_FUZZ_FLAGS} -g)
  target_link_options(${name} PRIVATE ${VELTO_FUZZ_FLAGS})
  target_link_libraries(${name} PRIVATE velto_warnings)
  set(corpus "${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus")
  file(MAKE_DIRECTORY "${corpus}")
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/ "${corpus}" "${ARG_CORPUS}")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 240)
endfunction()
