# Runs one QtTest program and prints its log: under Wine, QtTest's own
# output to stdout does not reach the caller, so the log goes to a file.
# What the program itself prints goes to files too: a process that Wine
# starts on the side (its server, its services) would otherwise hold the
# test's output open, and the test would not end before it.
#   cmake -DCOMMAND="wine;test.exe" -DLOG=file -P RunTestLogged.cmake
file(REMOVE ${LOG} ${LOG}.out)
execute_process(COMMAND ${COMMAND} -o ${LOG},txt RESULT_VARIABLE status
                OUTPUT_FILE ${LOG}.out ERROR_FILE ${LOG}.out)
foreach(part ${LOG}.out ${LOG})
    if(EXISTS ${part})
        file(READ ${part} text)
        message("${text}")
    endif()
endforeach()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${COMMAND} ended with ${status}")
endif()
