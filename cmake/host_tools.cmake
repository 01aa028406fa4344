# quorvale-sim, the runner that shows what the installer does on a machine described by a
# scenario file, and its tests: each shipped scenario's transcript against the one kept beside
# it in scenarios/, and each bad scenario under tools/quorvale_sim/bad_input/ against its
# expected message and exit code 2.
find_package(nlohmann_json 3 REQUIRED)

file(GLOB QDI_SIM_RUNNER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/*.cpp)
add_executable(quorvale-sim ${QDI_SIM_RUNNER_SOURCES})
target_compile_options(quorvale-sim PRIVATE ${QDI_WARNINGS})
target_link_libraries(quorvale-sim PRIVATE qdi_system simwin nlohmann_json::nlohmann_json)

set(QDI_SIM_CHECK ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/check_scenario.cmake)

file(GLOB QDI_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scenarios/*.json)
foreach(scenario IN LISTS QDI_SCENARIOS)
    get_filename_component(name ${scenario} NAME_WE)
    add_test(NAME scenario_${name}
             COMMAND ${CMAKE_COMMAND} -DRUNNER=$<TARGET_FILE:quorvale-sim>
                     -DSCENARIO=${scenario} -DEXPECTED=${CMAKE_SOURCE_DIR}/scenarios/${name}.transcript
                     -DEXIT_CODE=0 -P ${QDI_SIM_CHECK}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(scenario_${name} PROPERTIES LABELS scenario)
endforeach()

file(GLOB QDI_BAD_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/bad_input/*.json)
foreach(scenario IN LISTS QDI_BAD_SCENARIOS)
    get_filename_component(name ${scenario} NAME_WE)
    add_test(NAME scenario_bad_${name}
             COMMAND ${CMAKE_COMMAND} -DRUNNER=$<TARGET_FILE:quorvale-sim>
                     -DSCENARIO=tools/quorvale_sim/bad_input/${name}.json
                     -DEXPECTED=${CMAKE_SOURCE_DIR}/tools/quorvale_sim/bad_input/${name}.error
                     -DEXIT_CODE=2 -P ${QDI_SIM_CHECK}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(scenario_bad_${name} PROPERTIES LABELS scenario)
endforeach()
