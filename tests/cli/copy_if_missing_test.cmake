# cmake -DSCRIPT=CopyIfMissing.cmake -DWORK=dir -P copy_if_missing_test.cmake
# The build step that puts MainConfig.ini next to the programs: it must keep a file the
# user edited and only create a missing one.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/shipped.ini" "[Global Parameter]\nMaxThreads=2\n")
file(WRITE "${WORK}/MainConfig.ini" "[Global Parameter]\nMaxThreads=7\n")
foreach(round edited missing)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE=${WORK}/shipped.ini
                          -DDESTINATION=${WORK}/MainConfig.ini -P ${SCRIPT}
                  RESULT_VARIABLE result)
  file(READ "${WORK}/MainConfig.ini" text)
  if(round STREQUAL "edited")
    set(expected "[Global Parameter]\nMaxThreads=7\n")
  else()
    set(expected "[Global Parameter]\nMaxThreads=2\n")
  endif()
  if(NOT result EQUAL 0 OR NOT text STREQUAL expected)
    file(REMOVE_RECURSE "${WORK}")
    message(FATAL_ERROR "${round}: got '${text}' (status ${result}), expected '${expected}'")
  endif()
  file(REMOVE "${WORK}/MainConfig.ini")
endforeach()
file(REMOVE_RECURSE "${WORK}")
