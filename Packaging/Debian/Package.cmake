# The Debian package of the Linux client (docs/debian-package.md), made by
# CPack's DEB generator from the client's install rules:
#   cmake --preset linux-release && cmake --build --preset linux-release
#   (cd build/linux-release && cpack)   ->  velto_<version>_amd64.deb

set(VELTO_PACKAGE_MAINTAINER "Velto developers <packages@velto.example.org>" CACHE STRING
  "Maintainer field of the Debian package")
set(VELTO_PACKAGE_HOMEPAGE "https://velto.example.org/" CACHE STRING
  "Homepage field of the Debian package")

include(GNUInstallDirs)
set(velto_package_dir "${CMAKE_CURRENT_LIST_DIR}")
set(velto_docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/velto")

# The manual page names the version and the chat server's host this build
# was made for; Debian wants it compressed, without a time stamp (-n), so
# that the same sources give the same package.
configure_file("${velto_package_dir}/velto.1" "${CMAKE_BINARY_DIR}/Packaging/velto.1" @ONLY)
configure_file("${velto_package_dir}/changelog" "${CMAKE_BINARY_DIR}/Packaging/changelog" @ONLY)
add_custom_command(
  OUTPUT "${CMAKE_BINARY_DIR}/Packaging/velto.1.gz" "${CMAKE_BINARY_DIR}/Packaging/changelog.gz"
  COMMAND gzip -9nkf "${CMAKE_BINARY_DIR}/Packaging/velto.1" "${CMAKE_BINARY_DIR}/Packaging/changelog"
  DEPENDS "${CMAKE_BINARY_DIR}/Packaging/velto.1" "${CMAKE_BINARY_DIR}/Packaging/changelog"
  VERBATIM)
add_custom_target(velto_package_docs ALL
  DEPENDS "${CMAKE_BINARY_DIR}/Packaging/velto.1.gz" "${CMAKE_BINARY_DIR}/Packaging/changelog.gz")

install(FILES "${CMAKE_BINARY_DIR}/Packaging/velto.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${velto_package_dir}/copyright" "${CMAKE_BINARY_DIR}/Packaging/changelog.gz"
  DESTINATION "${velto_docdir}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velto)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Velto")
set(CPACK_PACKAGE_CONTACT "${VELTO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${velto_package_dir}/description.txt")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories made while staging get 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/Packaging")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELTO_PACKAGE_HOMEPAGE}")
# The libraries the client links, with the versions Debian's symbol files
# ask for, are read from the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_COMPRESSION_TYPE xz)
# No fakeroot needed: CPack writes the archives itself, every entry owned by
# root:root whoever builds them.

include(CPack)

# The tests of the built package: it is made from this build tree by the
# first test, and the others use it (docs/debian-package.md).
option(VELTO_PACKAGE_TESTS "Test the Debian package built from this tree" OFF)
if(VELTO_PACKAGE_TESTS)
  enable_testing()
  set(velto_deb "${CMAKE_BINARY_DIR}/Packaging/velto_${PROJECT_VERSION}_amd64.deb")
  set(velto_package_test "${velto_package_dir}/Tests/package_test.py")
  add_test(NAME package_build
    COMMAND "${CMAKE_CPACK_COMMAND}" --config "${CMAKE_BINARY_DIR}/CPackConfig.cmake"
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}")
  set_tests_properties(package_build PROPERTIES
    LABELS package TIMEOUT 300 FIXTURES_SETUP velto_deb)
  foreach(check lintian contents)
    add_test(NAME package_${check} COMMAND python3 "${velto_package_test}" ${check} "${velto_deb}")
    set_tests_properties(package_${check} PROPERTIES
      LABELS package TIMEOUT 300 FIXTURES_REQUIRED velto_deb)
  endforeach()
  # Installs, upgrades and removes it in a throw-away root, and runs the
  # installed client against the local server on the client's own port.
  # A client built for another host finds nothing listening and shows its
  # offline page, which is enough for its window.
  if(VELTO_E2E_PORT)
    set(velto_server_options --port "${VELTO_E2E_PORT}")
  else()
    set(velto_server_options --no-server)
  endif()
  add_test(NAME package_lifecycle
    COMMAND "${CMAKE_SOURCE_DIR}/Scripts/with-test-server" --private-network ${velto_server_options}
            python3 "${velto_package_test}" lifecycle "${velto_deb}")
  set_tests_properties(package_lifecycle PROPERTIES
    LABELS "package;gui;e2e" TIMEOUT 300 FIXTURES_REQUIRED velto_deb RESOURCE_LOCK display
    SKIP_RETURN_CODE 77)
endif()
