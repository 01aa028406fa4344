# Runs quorvale-sim on one scenario and compares: with EXIT_CODE 0 the transcript on standard
# output against EXPECTED, with any other exit code the message on standard error against
# EXPECTED and an empty standard output (nothing ran).
#   cmake -DRUNNER=<quorvale-sim> -DSCENARIO=<file.json> -DEXPECTED=<file> -DEXIT_CODE=<n> -P this
foreach(variable RUNNER SCENARIO EXPECTED EXIT_CODE)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "check_scenario: ${variable} is not set")
    endif()
endforeach()

execute_process(COMMAND ${RUNNER} ${SCENARIO}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT EXISTS ${EXPECTED})
    message(FATAL_ERROR "no expected output ${EXPECTED}; this run printed:\n${output}${errors}")
endif()
file(READ ${EXPECTED} expected)

if(NOT result STREQUAL EXIT_CODE)
    message(FATAL_ERROR "exit code ${result}, expected ${EXIT_CODE}\n${errors}")
endif()
if(EXIT_CODE STREQUAL "0")
    set(actual "${output}")
else()
    if(NOT output STREQUAL "")
        message(FATAL_ERROR "a refused scenario printed a transcript:\n${output}")
    endif()
    set(actual "${errors}")
endif()
if(NOT actual STREQUAL expected)
    string(REPLACE "\n" "\n  | " shown_actual "${actual}")
    string(REPLACE "\n" "\n  | " shown_expected "${expected}")
    message(FATAL_ERROR "the output differs from ${EXPECTED}\n"
                        "expected:\n  | ${shown_expected}\nactual:\n  | ${shown_actual}")
endif()
