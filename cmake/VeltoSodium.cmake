# libsodium, for the updater's signature: Debian's on Linux; for the Windows
# targets the static minimal build that Scripts/setup makes from Debian's
# libsodium source. Gives the target velto_sodium.
if(TARGET velto_sodium)
  return()
endif()
if(WIN32)
  set(VELTO_SODIUM_ROOT "${PROJECT_SOURCE_DIR}/build/deps/libsodium-${VELTO_MINGW_TRIPLET}" CACHE PATH
    "Static libsodium for this Windows target (built by Scripts/setup)")
  if(NOT EXISTS "${VELTO_SODIUM_ROOT}/lib/libsodium.a" OR NOT EXISTS "${VELTO_SODIUM_ROOT}/include/sodium.h")
    message(FATAL_ERROR "No static libsodium in ${VELTO_SODIUM_ROOT}: run Scripts/setup")
  endif()
  add_library(velto_sodium STATIC IMPORTED)
  set_target_properties(velto_sodium PROPERTIES
    IMPORTED_LOCATION "${VELTO_SODIUM_ROOT}/lib/libsodium.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VELTO_SODIUM_ROOT}/include"
    # Without it the header declares every function as imported from a DLL.
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
else()
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  add_library(velto_sodium INTERFACE IMPORTED)
  target_link_libraries(velto_sodium INTERFACE PkgConfig::SODIUM)
endif()
