# The end-to-end tests: the 64-bit program of the Windows build given in QDI_WIN64_BUILD_DIR runs
# under Wine and is driven through its window (tests/e2e). Each case is one CTest test; they share
# one Wine prefix under <build>/e2e and run one at a time. A machine without Wine skips them.
set(QDI_WIN64_BUILD_DIR "" CACHE PATH
    "The x86_64-w64-mingw32 build whose installer the Wine end-to-end tests run")
option(QDI_E2E_COMMAND_CASES "Run the Install and Uninstall end-to-end cases" ON)

if(QDI_WIN64_BUILD_DIR)
    set(QDI_E2E_WORK_DIR ${CMAKE_BINARY_DIR}/e2e)
    set(QDI_E2E_CASES bare installed reboot unversioned)
    if(QDI_E2E_COMMAND_CASES)
        list(APPEND QDI_E2E_CASES install uninstall install-reboot)
    endif()

    function(qdi_e2e_test name case)
        add_test(NAME ${name}
                 COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.sh ${QDI_WIN64_BUILD_DIR}
                         ${QDI_E2E_WORK_DIR} ${case})
        set_tests_properties(${name} PROPERTIES
            SKIP_RETURN_CODE 77 RESOURCE_LOCK qdi_wine_prefix TIMEOUT 240 LABELS e2e)
    endfunction()

    # The executable as a file: GUI subsystem, only Windows' own DLLs, version resource, manifest.
    add_test(NAME windows_program_file
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check_program.sh
                     ${QDI_WIN64_BUILD_DIR}/quorvale-installer.exe x86_64-w64-mingw32-objdump
                     x86_64-w64-mingw32-windres)
    set_tests_properties(windows_program_file PROPERTIES SKIP_RETURN_CODE 77 LABELS e2e)

    qdi_e2e_test(e2e_wine_prefix prefix)
    set_tests_properties(e2e_wine_prefix PROPERTIES FIXTURES_SETUP qdi_wine_prefix)
    foreach(case IN LISTS QDI_E2E_CASES)
        qdi_e2e_test(e2e_${case} ${case})
        set_tests_properties(e2e_${case} PROPERTIES FIXTURES_REQUIRED qdi_wine_prefix)
    endforeach()
else()
    message(STATUS "QDI_WIN64_BUILD_DIR is not set: no Wine end-to-end tests")
endif()
