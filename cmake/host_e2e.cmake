# The end-to-end tests: the program of each Windows build given (QDI_WIN64_BUILD_DIR,
# QDI_WIN32_BUILD_DIR) runs under Wine and is driven through its window (tests/e2e), and what it
# painted is checked on a screenshot by qdi_paint_check. Each case of each build is one CTest
# test; the cases of one build share one Wine prefix under <build>/e2e/win64 or win32 and run one
# at a time. The 32-bit build runs in a 64-bit prefix (e2e_win32_*, a 32-bit program on 64-bit
# Windows) and in a 32-bit prefix of its own (e2e_win32_on_win32_*, as on 32-bit Windows). A
# machine without Wine, or without the prepared 32-bit Wine, skips them.
set(QDI_WIN64_BUILD_DIR "" CACHE PATH
    "The x86_64-w64-mingw32 build whose installer the Wine end-to-end tests run")
set(QDI_WIN32_BUILD_DIR "" CACHE PATH
    "The i686-w64-mingw32 build whose installer the Wine end-to-end tests run")
# The version agreement test compares the executables and package files of these builds.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/tests/program/version_agreement_test.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS QDI_WIN64_BUILD_DIR="${QDI_WIN64_BUILD_DIR}"
                                 QDI_WIN32_BUILD_DIR="${QDI_WIN32_BUILD_DIR}")
option(QDI_E2E_COMMAND_CASES "Run the Install and Uninstall end-to-end cases" ON)

set(QDI_E2E_CASES bare installed reboot unversioned mempak)
if(QDI_E2E_COMMAND_CASES)
    list(APPEND QDI_E2E_CASES install uninstall install-reboot missing-inf)
endif()

if(QDI_WIN64_BUILD_DIR OR QDI_WIN32_BUILD_DIR)
    add_executable(qdi_paint_check ${CMAKE_SOURCE_DIR}/tests/e2e/paint_check.cpp)
    target_compile_options(qdi_paint_check PRIVATE ${QDI_WARNINGS})
endif()

# qdi_e2e_cases(<name> <build dir> <win64|win32>): every end-to-end case of one build in a Wine
# prefix of that Windows, each one CTest test e2e_<name>_<case>; they share one Wine prefix under
# <build>/e2e/<name> and run one at a time.
function(qdi_e2e_cases name build_dir windows)
    set(work_dir ${CMAKE_BINARY_DIR}/e2e/${name})
    # The 64-bit prefix is also the one of the release archive tests (cmake/host_release.cmake).
    set(prefix_fixture qdi_wine_prefix_${name})
    if(name STREQUAL "win64")
        set(prefix_fixture qdi_wine_prefix)
    endif()
    foreach(case prefix ${QDI_E2E_CASES})
        set(test e2e_${name}_${case})
        add_test(NAME ${test}
                 COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.sh ${build_dir} ${work_dir}
                         ${case} ${windows})
        set_tests_properties(${test} PROPERTIES
            SKIP_RETURN_CODE 77 RESOURCE_LOCK ${prefix_fixture} TIMEOUT 300 LABELS e2e
            ENVIRONMENT "QDI_PAINT_CHECK=$<TARGET_FILE:qdi_paint_check>")
        if(case STREQUAL "prefix")
            set_tests_properties(${test} PROPERTIES FIXTURES_SETUP ${prefix_fixture})
        else()
            set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED ${prefix_fixture})
        endif()
    endforeach()
endfunction()

# qdi_e2e_build(<win64|win32> <build dir> <objdump> <windres>): the program-file test and every
# end-to-end case of one build in a 64-bit prefix, where the 32-bit build is a 32-bit program on
# 64-bit Windows.
function(qdi_e2e_build name build_dir objdump windres)
    # The executable as a file: GUI subsystem, only Windows' own DLLs, version resource, manifest.
    add_test(NAME windows_program_file_${name}
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check_program.sh
                     ${build_dir}/quorvale-installer.exe ${objdump} ${windres})
    set_tests_properties(windows_program_file_${name} PROPERTIES
        SKIP_RETURN_CODE 77 LABELS e2e)
    qdi_e2e_cases(${name} ${build_dir} win64)
endfunction()

if(QDI_WIN64_BUILD_DIR)
    qdi_e2e_build(win64 ${QDI_WIN64_BUILD_DIR} x86_64-w64-mingw32-objdump
                  x86_64-w64-mingw32-windres)
else()
    message(STATUS "QDI_WIN64_BUILD_DIR is not set: no 64-bit Wine end-to-end tests")
endif()
if(QDI_WIN32_BUILD_DIR)
    qdi_e2e_build(win32 ${QDI_WIN32_BUILD_DIR} i686-w64-mingw32-objdump i686-w64-mingw32-windres)
    # The 32-bit build once more in a 32-bit prefix, as on 32-bit Windows, where it installs.
    qdi_e2e_cases(win32_on_win32 ${QDI_WIN32_BUILD_DIR} win32)
else()
    message(STATUS "QDI_WIN32_BUILD_DIR is not set: no 32-bit Wine end-to-end tests")
endif()
