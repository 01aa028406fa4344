# The mutation tool's own tests (tools/mutation/tests): the mutants of each kind, the places
# left alone, the matching of the equivalents list and the report's score, one test per module,
# labelled tool. They need Python's standard library alone, and clang++ for the calls it reads.
find_program(QDI_PYTHON3 python3 REQUIRED)

file(GLOB QDI_MUTATION_TOOL_TESTS CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tools/mutation/tests/test_*.py)
foreach(test IN LISTS QDI_MUTATION_TOOL_TESTS)
    get_filename_component(name ${test} NAME_WE)
    add_test(NAME mutation_tool_${name}
             COMMAND ${QDI_PYTHON3} -B -m unittest -v tests.${name}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tools/mutation)
    set_tests_properties(mutation_tool_${name} PROPERTIES LABELS tool)
endforeach()
