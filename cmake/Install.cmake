# Installation (bin/lumo and its manual page) and the Debian package.
include(GNUInstallDirs)

set(LUMO_MAN_DATE "${LUMO_RELEASE_DATE}")
configure_file(${PROJECT_SOURCE_DIR}/doc/lumo.1.in ${PROJECT_BINARY_DIR}/lumo.1 @ONLY)

install(TARGETS lumo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/lumo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "lumo developers <lumo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists the files of a directory tree that match a wildcard pattern, with their date, size and the version strings of Windows executables and libraries.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
find_program(LUMO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LUMO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
