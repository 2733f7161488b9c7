# Decides which backend every library compiles and finds the native dependencies.
if(WIN32)
  set(VELTO_PLATFORM "Win32")
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # One self-contained executable: no MinGW runtime DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(VELTO_PLATFORM "Gtk")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
  find_package(Threads REQUIRED)
endif()

# velto_library(<name> SOURCES ... [PLATFORM_SOURCES_Win32 ...] [PLATFORM_SOURCES_Gtk ...] DEPENDS ...)
function(velto_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WIN32_SOURCES;GTK_SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  set(srcs ${ARG_SOURCES})
  if(VELTO_PLATFORM STREQUAL "Win32")
    list(APPEND srcs ${ARG_WIN32_SOURCES})
  else()
    list(APPEND srcs ${ARG_GTK_SOURCES})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name}
    PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/Include"
    PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/Source")
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS} velto_warnings)
endfunction()
