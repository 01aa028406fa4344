# The conformance suite (tests/conformance): its checks built against simwin and run as one test,
# and the same checks built into the Windows builds' qdi_conformance.exe and run under Wine: the
# 64-bit build given in QDI_WIN64_BUILD_DIR, and the 32-bit build given in QDI_WIN32_BUILD_DIR
# under scripts/wine32 (the case skips where scripts/prepare-wine32 has not prepared it).

file(GLOB QDI_CONFORMANCE_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/conformance/*_checks.cpp)
add_executable(qdi_conformance_simwin
    ${CMAKE_SOURCE_DIR}/tests/conformance/main.cpp
    ${CMAKE_SOURCE_DIR}/tests/conformance/fixture_simwin.cpp
    ${QDI_CONFORMANCE_CHECKS})
target_compile_options(qdi_conformance_simwin PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_conformance_simwin PRIVATE simwin)
add_test(NAME conformance_simwin COMMAND qdi_conformance_simwin)
set_tests_properties(conformance_simwin PROPERTIES LABELS conformance)

set(QDI_CONFORMANCE_SCRIPT ${CMAKE_SOURCE_DIR}/tests/conformance/run_conformance.sh)
if(QDI_WIN64_BUILD_DIR)
    add_test(NAME conformance_wine64
             COMMAND sh ${QDI_CONFORMANCE_SCRIPT} ${QDI_WIN64_BUILD_DIR}
                     ${CMAKE_BINARY_DIR}/conformance/wine64)
    set_tests_properties(conformance_wine64 PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "conformance;wine")
endif()
if(QDI_WIN32_BUILD_DIR)
    add_test(NAME conformance_wine32
             COMMAND sh ${QDI_CONFORMANCE_SCRIPT} ${QDI_WIN32_BUILD_DIR}
                     ${CMAKE_BINARY_DIR}/conformance/wine32)
    set_tests_properties(conformance_wine32 PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "conformance;wine")
endif()
