# Installation (bin/lumo and its manual page) and the Debian package.
include(GNUInstallDirs)

set(LUMO_MAN_DATE "${LUMO_RELEASE_DATE}")
# The project has no public address yet: this placeholder stands in the package's Maintainer
# field and its copyright file.
set(LUMO_MAINTAINER "The lumo developers <lumo@localhost>")

# Manual pages and changelogs go out compressed, without a name or a time stamp in the header,
# so that the same sources give the same bytes.
find_program(LUMO_GZIP gzip REQUIRED)
function(lumo_gzip input output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${LUMO_GZIP} -9n -c ${input} > ${output}
                     DEPENDS ${input} VERBATIM)
endfunction()

configure_file(${PROJECT_SOURCE_DIR}/doc/lumo.1.in ${PROJECT_BINARY_DIR}/lumo.1 @ONLY)
lumo_gzip(${PROJECT_BINARY_DIR}/lumo.1 ${PROJECT_BINARY_DIR}/lumo.1.gz)

# The Debian copyright file in the machine-readable format, its license text taken from
# LICENSE (from "Permission" on: the copyright line has its own field).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE LUMO_LICENSE_TEXT)
string(FIND "${LUMO_LICENSE_TEXT}" "Permission" LUMO_LICENSE_START)
string(SUBSTRING "${LUMO_LICENSE_TEXT}" ${LUMO_LICENSE_START} -1 LUMO_LICENSE_TEXT)
string(STRIP "${LUMO_LICENSE_TEXT}" LUMO_LICENSE_TEXT)
string(REGEX REPLACE "\n\n" "\n.\n" LUMO_LICENSE_TEXT "${LUMO_LICENSE_TEXT}")
string(REGEX REPLACE "\n" "\n " LUMO_LICENSE_TEXT " ${LUMO_LICENSE_TEXT}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in
               ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
lumo_gzip(${PROJECT_SOURCE_DIR}/cmake/debian/changelog
          ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)

add_custom_target(lumo_docs ALL
                  DEPENDS ${PROJECT_BINARY_DIR}/lumo.1.gz
                          ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)

install(TARGETS lumo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/lumo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The package's own documents, in the package only.
install(FILES ${PROJECT_BINARY_DIR}/debian/copyright
              ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lumo COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LUMO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "lumo lists the files of a directory, or of a whole tree, whose names match a
wildcard pattern, with their date, time and size and the eight standard
strings of the version resource of Windows programs and libraries (company,
description, file version, internal name, copyright, original file name,
product name and version), labelled in English, in Japanese or not at all.
It reads PE and 16-bit NE images itself, for example in a Wine prefix or on a
mounted Windows disk.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(LUMO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LUMO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  if(LUMO_USE_LIBURING)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", liburing2")
  endif()
endif()
set(CPACK_STRIP_FILES ON)
# One package of the program, its manual page and the package's own documents.
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
