# Runs one QtTest program and prints its log: under Wine, QtTest's own
# output to stdout does not reach the caller, so the log goes to a file.
#   cmake -DCOMMAND="wine;test.exe" -DLOG=file -P RunTestLogged.cmake
file(REMOVE ${LOG})
execute_process(COMMAND ${COMMAND} -o ${LOG},txt RESULT_VARIABLE status)
if(EXISTS ${LOG})
    file(READ ${LOG} text)
    message("${text}")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${COMMAND} ended with ${status}")
endif()
