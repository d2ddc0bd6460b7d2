# Runs the sample generator into WORK_DIR and compares its output with the bundled files.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${GENERATOR}" "${WORK_DIR}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the sample generator failed: ${status}")
endif()
foreach(name customers.dbf customers_damaged.dbf)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    "${WORK_DIR}/${name}" "${BUNDLED_DIR}/${name}" RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "examples/${name} is not what salvora_make_sample writes; "
      "regenerate it with: salvora_make_sample examples")
  endif()
endforeach()
