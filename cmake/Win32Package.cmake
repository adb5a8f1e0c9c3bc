# The Windows download, made by cpack: lumo-<version>-win32.zip (win64 for the 64-bit twin),
# whose one folder lumo-<version>-win32 holds lumo.exe, exactly as built and tested, and the
# README, NEWS and LICENSE as .txt files with CR LF line ends.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LUMO_WINDOWS_KIND win64)
else()
  set(LUMO_WINDOWS_KIND win32)
endif()

set(LUMO_TEXTS)
foreach(pair README.md:README.txt NEWS.md:NEWS.txt LICENSE:LICENSE.txt)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 text)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/text/${text}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/${source}
            -DOUTPUT=${PROJECT_BINARY_DIR}/text/${text} -P ${PROJECT_SOURCE_DIR}/cmake/crlf_text.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} ${PROJECT_SOURCE_DIR}/cmake/crlf_text.cmake
    VERBATIM)
  list(APPEND LUMO_TEXTS ${PROJECT_BINARY_DIR}/text/${text})
endforeach()
add_custom_target(lumo_texts ALL DEPENDS ${LUMO_TEXTS})

install(TARGETS lumo RUNTIME DESTINATION .)
install(FILES ${LUMO_TEXTS} DESTINATION .)

set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME lumo-${PROJECT_VERSION}-${LUMO_WINDOWS_KIND})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The program goes out as the tests ran it: not stripped.
set(CPACK_STRIP_FILES OFF)
include(CPack)
