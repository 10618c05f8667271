# Paths of the build and source trees as the tests see them: under Wine, on
# its drive Z:, which maps the host's root, so that they still hold when a
# test changes its working folder to another drive.
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
    set(VORLAND_TEST_ROOT "Z:")
else()
    set(VORLAND_TEST_ROOT "")
endif()

# vorland_add_test(name SOURCES file... [LIBS target...])
# One QtTest executable per test file, registered with CTest. Tests run
# headless, and from the binary folder so that libGfxCore.so is found.
# The test `name` running the program `target`; under an emulator (Wine),
# through a script that prints QtTest's log.
function(vorland_add_test_command name target)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-logs)
        add_test(NAME ${name} COMMAND ${CMAKE_COMMAND}
            "-DCOMMAND=${CMAKE_CROSSCOMPILING_EMULATOR};$<TARGET_FILE:${target}>"
            -DLOG=${CMAKE_BINARY_DIR}/test-logs/${name}.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/RunTestLogged.cmake)
    else()
        add_test(NAME ${name} COMMAND ${target})
    endif()
endfunction()

function(vorland_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    vorland_add_test_command(${name} ${name})
    set(environment "QT_QPA_PLATFORM=offscreen")
    if(VORLAND_SANITIZE)
        list(APPEND environment "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment}"
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        TIMEOUT 300)
endfunction()

# vorland_add_test_variant(name test VAR=VALUE...)
# Runs the executable of an added test again, as `name`, with more variables
# in its environment.
function(vorland_add_test_variant name test)
    vorland_add_test_command(${name} ${test})
    get_test_property(${test} ENVIRONMENT environment)
    get_test_property(${test} WORKING_DIRECTORY folder)
    get_test_property(${test} TIMEOUT timeout)
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment};${ARGN}"
        WORKING_DIRECTORY ${folder}
        TIMEOUT ${timeout})
endfunction()

# A test that cannot apply on this system: it runs, says why, and counts as
# skipped rather than passed.
function(vorland_skipped_test name reason)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: ${reason}")
    set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: ")
endfunction()
