# Test executables: GoogleTest from the system natively; for the Windows
# builds it is compiled from the sources Debian's googletest package ships.
if(CMAKE_CROSSCOMPILING)
  set(VELTO_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory("${VELTO_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()

# Labels: unit (pure logic), gui (real windows on the test display),
# wine (Windows executables under Wine), e2e (the client driven as a user would).
set(VELTO_TEST_MAIN "${CMAKE_SOURCE_DIR}/Libraries/Core/Tests/TestMain.cpp")

# velto_test(<name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [SERIAL] [WRAPPER command...])
# WRAPPER runs the test program through a command (it gets the program and
# its arguments, the emulator first when cross-compiling).
function(velto_test name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;WRAPPER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${VELTO_TEST_MAIN})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} velto_core GTest::gtest GTest::gmock velto_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(labels ${ARG_LABELS})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND labels wine)
  endif()
  if(ARG_WRAPPER)
    add_test(NAME ${name}
      COMMAND ${ARG_WRAPPER} ${CMAKE_CROSSCOMPILING_EMULATOR} "$<TARGET_FILE:${name}>" --gtest_color=no)
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}")
  if(CMAKE_CROSSCOMPILING)
    # Scripts/wine-run exits 77 on hosts that cannot run 32-bit Windows programs.
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(ARG_SERIAL OR "gui" IN_LIST labels OR CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK display)
  endif()
endfunction()
