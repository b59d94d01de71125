# Runs a program and keeps what it writes: cmake -DRUN=program;args -DOUTPUT=file -P run-to-file.cmake
execute_process(COMMAND ${RUN} OUTPUT_FILE "${OUTPUT}.new" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${OUTPUT}.new")
    message(FATAL_ERROR "${RUN} failed: ${status}")
endif()
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
