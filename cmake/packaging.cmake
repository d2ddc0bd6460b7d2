# The documents that go with the program, and its packages: `cpack` makes a Debian package on
# Linux and a zip on Windows, both named and versioned from project(); the Windows setup
# program comes from cmake/installer.cmake.

if(WIN32)
  # Windows users get a plain text read-me with Windows line ends instead of the Markdown.
  configure_file(${CMAKE_SOURCE_DIR}/resources/README.txt.in ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION ${SALVORA_INSTALL_DOCDIR})
else()
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${SALVORA_INSTALL_DOCDIR})
  # The help pages of the Windows program also read well in a browser; the help compiler's
  # project files do not.
  file(GLOB SALVORA_HELP_DOCS CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/resources/help/*.html ${CMAKE_SOURCE_DIR}/resources/help/*.css)
  install(FILES ${SALVORA_HELP_DOCS} DESTINATION ${SALVORA_INSTALL_DOCDIR}/html)
endif()

set(CPACK_PACKAGE_NAME salvora)
set(CPACK_PACKAGE_VENDOR Salvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair damaged dBASE and FoxPro tables")
# Line breaks kept: the Debian control file takes the long description line by line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Salvora repairs dBASE, FoxBase, FoxPro and Visual FoxPro tables (.dbf)\n"
  "that no longer open: a torn header, a wrong record count, stray bytes in\n"
  "front of the header or a truncated end. It finds a header it can trust or\n"
  "rebuilds one from the field descriptors, checks every record and writes a\n"
  "fixed copy with its memo file, or repairs the table in place.")
set(SALVORA_PACKAGE_CONTACT "Salvora maintainers <maintainers@salvora.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${SALVORA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME salvora-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  find_program(SALVORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(SALVORA_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    # What a Debian 12 build links against; dpkg-shlibdeps (dpkg-dev) would work it out.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
  endif()
endif()

include(CPack)

if(WIN32)
  include(${CMAKE_SOURCE_DIR}/cmake/installer.cmake)
endif()
