# The Windows setup program, salvora-<version>-setup.exe, made with makensis (Debian package
# nsis) from the same files the zip holds: `cmake --build <dir> --target salvora_installer`.

find_program(SALVORA_MAKENSIS makensis)
set(SALVORA_PUBLISHER "Salvora maintainers" CACHE STRING "Publisher shown by the Windows setup")
if(NOT SALVORA_MAKENSIS)
  message(STATUS "makensis not found (Debian package nsis): no Windows setup program")
  return()
endif()

# Windows wants four numbers in a file version.
set(installer_file_version ${PROJECT_VERSION_MAJOR})
foreach(part MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    string(APPEND installer_file_version ".0")
  else()
    string(APPEND installer_file_version ".${PROJECT_VERSION_${part}}")
  endif()
endforeach()

set(installer_work ${CMAKE_BINARY_DIR}/installer)
set(installer_file ${CMAKE_BINARY_DIR}/packages/salvora-${PROJECT_VERSION}-setup.exe)
add_custom_target(salvora_installer
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSTAGE=${installer_work}/stage
          -DFILES=${installer_work}/files.nsh -P ${CMAKE_SOURCE_DIR}/installer/stage.cmake
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packages
  COMMAND ${SALVORA_MAKENSIS} -V2 -NOCD
          -DSALVORA_VERSION=${PROJECT_VERSION}
          -DSALVORA_FILE_VERSION=${installer_file_version}
          "-DSALVORA_PUBLISHER=${SALVORA_PUBLISHER}"
          -DSALVORA_FILES=${installer_work}/files.nsh
          -DSALVORA_ICON=${CMAKE_BINARY_DIR}/resources/icons/salvora.ico
          -DSALVORA_OUTFILE=${installer_file}
          ${CMAKE_SOURCE_DIR}/installer/salvora.nsi
  BYPRODUCTS ${installer_file}
  COMMENT "Making salvora-${PROJECT_VERSION}-setup.exe"
  VERBATIM)
add_dependencies(salvora_installer salvora salvora_icons)
if(TARGET salvora_help)
  add_dependencies(salvora_installer salvora_help)
endif()
