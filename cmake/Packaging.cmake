# What `cmake --install` puts where, and the packages CPack makes from it
# (scripts/package.sh): on Linux a Debian package with the program, its
# manual page, the README and the users' documents (troubleshooting,
# reference); for Windows a zip with KelUpdater.exe and the same documents
# as text with CR LF line ends. Only the program is installed: the
# simulator, tests and benchmarks are tools of this repository.
include(GNUInstallDirs)

set(KEL_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(KEL_USER_DOCS ${CMAKE_CURRENT_SOURCE_DIR}/doc/troubleshooting.md
                  ${CMAKE_CURRENT_SOURCE_DIR}/doc/reference.md)
if(WIN32)
  install(TARGETS KelUpdater RUNTIME DESTINATION .)
  # Notepad and friends want CR LF.
  foreach(document ${KEL_README} ${KEL_USER_DOCS})
    get_filename_component(name ${document} NAME_WE)
    file(READ ${document} kel_text)
    string(REPLACE "\r\n" "\n" kel_text "${kel_text}")
    string(REPLACE "\n" "\r\n" kel_text "${kel_text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt "${kel_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${document})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  # The manual page: the usage text's option lines in doc/KelUpdater.1.in.
  set(KEL_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/KelUpdater.1)
  add_custom_command(
    OUTPUT ${KEL_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -DUSAGE=${CMAKE_CURRENT_SOURCE_DIR}/app/usage.cpp
            -DTEMPLATE=${CMAKE_CURRENT_SOURCE_DIR}/doc/KelUpdater.1.in -DOUTPUT=${KEL_MAN_PAGE}
            -DVERSION_TEXT=${KEL_VERSION_TEXT} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS app/usage.cpp doc/KelUpdater.1.in cmake/ManPage.cmake
    COMMENT "Making the manual page KelUpdater.1"
    VERBATIM)
  add_custom_target(kel_man_page ALL DEPENDS ${KEL_MAN_PAGE})

  install(TARGETS KelUpdater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KEL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KEL_README} ${KEL_USER_DOCS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelupdater)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME kelupdater)
set(CPACK_PACKAGE_VENDOR ${KEL_PROGRAM_MAKER})
set(CPACK_PACKAGE_VERSION ${KEL_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${KEL_PROGRAM_DESCRIPTION})
set(CPACK_PACKAGE_DESCRIPTION
    "Finds a Ponderix unit on a serial port, identifies it and brings its boot loader, software and files up to date, together with the units behind it; can also report the units and copy their logs.")
set(CPACK_PACKAGE_CONTACT "${KEL_PROGRAM_MAKER}")
set(CPACK_PACKAGE_FILE_NAME kelupdater-${KEL_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# The Debian package: the program is linked statically (KEL_STATIC), so it
# needs no other package.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KEL_PROGRAM_MAKER}")
include(CPack)
