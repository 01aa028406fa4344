# The libFuzzer targets (clang only, option QDI_FUZZ): the USB hub driver's replies, the device
# instance ID list and device tree, and the head of an INF copy. Each is built over its own copy
# of the system code and simwin with coverage instrumentation, and ctest runs each briefly from
# its seed corpus (label "fuzz"); fuzz/run-long.sh runs them for longer.
option(QDI_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(QDI_FUZZ_SECONDS 10 CACHE STRING "Seconds of each short fuzz run that ctest makes")

if(QDI_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(STATUS "QDI_FUZZ needs clang (CXX=clang++): no fuzz targets")
elseif(QDI_FUZZ)
    set(QDI_FUZZ_TARGETS usb_replies device_tree inf_head)

    add_library(qdi_fuzz_simwin STATIC ${QDI_SIMWIN_SOURCES})
    target_include_directories(qdi_fuzz_simwin PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(qdi_fuzz_simwin PRIVATE ${QDI_WARNINGS} -fsanitize=fuzzer-no-link)
    target_compile_definitions(qdi_fuzz_simwin PRIVATE QDI_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

    add_library(qdi_fuzz_system STATIC ${QDI_SYSTEM_SOURCES})
    target_include_directories(qdi_fuzz_system PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(qdi_fuzz_system PRIVATE ${QDI_WARNINGS} ${QDI_SYSTEM_FLAGS}
                                                   -fsanitize=fuzzer-no-link)
    target_link_libraries(qdi_fuzz_system PUBLIC qdi_fuzz_simwin)

    add_custom_target(qdi_fuzz)
    foreach(name IN LISTS QDI_FUZZ_TARGETS)
        add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzz.cpp)
        target_compile_options(fuzz_${name} PRIVATE ${QDI_WARNINGS} -fsanitize=fuzzer)
        target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(fuzz_${name} PRIVATE qdi_fuzz_system qdi_fuzz_simwin)
        add_dependencies(qdi_fuzz fuzz_${name})

        # New inputs go to a work directory in the build, never into the shipped seeds.
        set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
        file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
        add_test(NAME fuzz_${name}
                 COMMAND fuzz_${name} -max_total_time=${QDI_FUZZ_SECONDS} -print_final_stats=1
                         -artifact_prefix=${work}/artifacts/ ${work}/corpus
                         ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
        set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz
                             TIMEOUT 120 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
    endforeach()
endif()
