# quorvale-sim, the runner that shows what the installer does on a machine described by a
# scenario file, and its tests: each shipped scenario's transcript against the one kept beside
# it in scenarios/, and each refused scenario under scenarios/refused/ against its
# expected message and exit code 2.
find_package(nlohmann_json 3 REQUIRED)

file(GLOB QDI_SIM_RUNNER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/*.cpp)
add_executable(quorvale-sim ${QDI_SIM_RUNNER_SOURCES})
target_compile_options(quorvale-sim PRIVATE ${QDI_WARNINGS})
target_link_libraries(quorvale-sim PRIVATE qdi_program simwin nlohmann_json::nlohmann_json)

set(QDI_SIM_CHECK ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/tests/check_scenario.cmake)

# One test: the runner on a scenario must print the expected text and end with exit_code.
function(qdi_scenario_test name scenario expected exit_code)
    add_test(NAME ${name}
             COMMAND ${CMAKE_COMMAND} -DRUNNER=$<TARGET_FILE:quorvale-sim> -DSCENARIO=${scenario}
                     -DEXPECTED=${expected} -DEXIT_CODE=${exit_code} -P ${QDI_SIM_CHECK}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(${name} PROPERTIES LABELS scenario)
endfunction()

file(GLOB QDI_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scenarios/*.json)
foreach(scenario IN LISTS QDI_SCENARIOS)
    get_filename_component(name ${scenario} NAME_WE)
    qdi_scenario_test(scenario_${name} ${scenario}
                      ${CMAKE_SOURCE_DIR}/scenarios/${name}.transcript 0)
endforeach()

# The refused scenarios are named relative to the source directory, as the error messages name them.
file(GLOB QDI_REFUSED_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scenarios/refused/*.json)
foreach(scenario IN LISTS QDI_REFUSED_SCENARIOS)
    get_filename_component(name ${scenario} NAME_WE)
    qdi_scenario_test(scenario_refused_${name} scenarios/refused/${name}.json
                      ${CMAKE_SOURCE_DIR}/scenarios/refused/${name}.error 2)
endforeach()

# A machine of 100,000 configured instances runs in seconds.
add_test(NAME scenario_large_machine
         COMMAND sh ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/tests/large_machine_test.sh
                 $<TARGET_FILE:quorvale-sim> ${CMAKE_BINARY_DIR}/large_machine.json)
set_tests_properties(scenario_large_machine PROPERTIES LABELS scenario TIMEOUT 120)
