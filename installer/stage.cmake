# Run at build time by the salvora_installer target: installs the build into STAGE (stripped,
# as the zip gets it) and writes FILES, the lists of what the setup installs and what its
# uninstaller deletes, so that both follow the install rules and never drift apart.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE}" --strip
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake --install into ${STAGE} failed")
endif()
# The zip's read-me tells people that nothing needs installing; the setup leaves it out.
file(REMOVE "${STAGE}/README.txt")
file(GLOB_RECURSE files RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT files)
if(NOT "salvora.exe" IN_LIST files)
  message(FATAL_ERROR "no salvora.exe in ${STAGE}")
endif()

set(install "!macro SalvoraInstallFiles\n")
set(uninstall "!macro SalvoraUninstallFiles\n")
foreach(file IN LISTS files)
  if(file MATCHES "/")
    message(FATAL_ERROR "${file}: the setup installs one flat folder")
  endif()
  string(APPEND install "  File \"${STAGE}/${file}\"\n")
  string(APPEND uninstall "  Delete \"$INSTDIR\\${file}\"\n")
endforeach()
file(WRITE "${FILES}" "${install}!macroend\n${uninstall}!macroend\n")
