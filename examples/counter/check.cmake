# Runs the host with the library on the program and compares what it prints
# with the expected output: cmake -DHOST=... -DLIB=... -DPROGRAM=...
# -DEXPECTED=... -P check.cmake
execute_process(COMMAND ${HOST} ${LIB} ${PROGRAM} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "counterhost failed (${rc}): ${err}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "output differs:\n${out}\nexpected:\n${expected}")
endif()
