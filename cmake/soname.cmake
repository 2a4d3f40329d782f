# tq_library_soname(<var> <name> [<hint folder>...]): in <var>, the soname of
# the shared library find_library finds by <name> (as in -l<name>). Libraries
# we open with dlopen on first use instead of linking are opened by this name,
# the one the dynamic loader knows them by, so that the build and the run
# agree on the version.
function(tq_library_soname var name)
  find_library(TQ_SONAME_LIBRARY_${name} NAMES ${name} HINTS ${ARGN} REQUIRED)
  set(library ${TQ_SONAME_LIBRARY_${name}})
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library}
                  OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
  string(REGEX MATCH "SONAME +([^ \n]+)" line "${dynamic}")
  if(NOT status EQUAL 0 OR NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "cannot read the soname of ${library}")
  endif()
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
