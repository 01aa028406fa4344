# The libFuzzer targets (clang only, option QDI_FUZZ): the USB hub driver's replies, the device
# instance ID list and device tree, the head of an INF copy, and scenario files for quorvale-sim.
# Each is built over its own copy of the program's code (with coverage instrumentation) and simwin,
# and ctest runs each briefly from its seed corpus (label "fuzz"); fuzz/run-long.sh runs them for
# longer.
option(QDI_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(QDI_FUZZ_SECONDS 10 CACHE STRING "Seconds of each short fuzz run that ctest makes")
# The short runs start from one seed, so that a run that fails can be repeated; fuzz/run-long.sh
# explores with a new seed each time.
set(QDI_FUZZ_SEED 1 CACHE STRING "libFuzzer's seed for the short fuzz runs that ctest makes")

if(QDI_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(STATUS "QDI_FUZZ needs clang (CXX=clang++): no fuzz targets")
elseif(QDI_FUZZ)
    add_library(qdi_fuzz_simwin STATIC ${QDI_SIMWIN_SOURCES})
    target_include_directories(qdi_fuzz_simwin PUBLIC ${CMAKE_SOURCE_DIR})
    # simwin is the machine, not the code under test: built under the sanitizers but without
    # coverage instrumentation, which would cost each input more than the program's own.
    target_compile_options(qdi_fuzz_simwin PRIVATE ${QDI_WARNINGS})
    target_compile_definitions(qdi_fuzz_simwin PRIVATE QDI_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                    QDI_GENERATED_DIR="${QDI_GENERATED_DIR}")

    add_library(qdi_fuzz_program STATIC ${QDI_PROGRAM_SOURCES})
    target_include_directories(qdi_fuzz_program PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(qdi_fuzz_program PRIVATE ${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS}
                                                   -fsanitize=fuzzer-no-link)
    target_link_libraries(qdi_fuzz_program PUBLIC qdi_fuzz_simwin)

    add_custom_target(qdi_fuzz)

    # Leaks are proven by simwin's counters after every input, so LeakSanitizer, which takes
    # simwin's state kept between inputs for leaks and runs each such input twice, is off; so
    # are the allocation stack traces and the fill of new blocks, which cost more than the run.
    # The quarantine of freed blocks holds 2 MB, more than one input frees: a use after free
    # within an input is still caught, and the blocks it recycles are still in the cache.
    set(QDI_FUZZ_ASAN_OPTIONS
        "detect_leaks=0:malloc_context_size=0:max_malloc_fill_size=0:quarantine_size_mb=2")

    # One target: fuzz/<name>_fuzz.cpp with further sources, run by ctest from the seed corpora
    # given (directories of the source tree).
    function(qdi_fuzz_target name)
        cmake_parse_arguments(PARSE_ARGV 1 FUZZ "" "" "SOURCES;CORPORA")
        add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzz.cpp ${FUZZ_SOURCES})
        target_compile_options(fuzz_${name} PRIVATE ${QDI_WARNINGS} -fsanitize=fuzzer)
        target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(fuzz_${name} PRIVATE qdi_fuzz_program qdi_fuzz_simwin)
        add_dependencies(qdi_fuzz fuzz_${name})

        # New inputs go to a work directory in the build, never into the shipped seeds.
        set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
        file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
        list(TRANSFORM FUZZ_CORPORA PREPEND ${CMAKE_SOURCE_DIR}/)
        add_test(NAME fuzz_${name}
                 COMMAND fuzz_${name} -max_total_time=${QDI_FUZZ_SECONDS} -seed=${QDI_FUZZ_SEED}
                         -print_final_stats=1
                         -detect_leaks=0 -artifact_prefix=${work}/artifacts/ ${work}/corpus
                         ${FUZZ_CORPORA})
        set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz
                             TIMEOUT 120 ENVIRONMENT "ASAN_OPTIONS=${QDI_FUZZ_ASAN_OPTIONS}")
    endfunction()

    foreach(name usb_replies device_tree inf_head registry_texts driver_versions)
        qdi_fuzz_target(${name} CORPORA fuzz/corpus/${name})
    endforeach()

    # quorvale-sim without its command-line entry; its shipped and refused scenarios are seeds.
    file(GLOB QDI_FUZZ_RUNNER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/quorvale_sim/*.cpp)
    list(FILTER QDI_FUZZ_RUNNER_SOURCES EXCLUDE REGEX "/main\\.cpp$")
    qdi_fuzz_target(scenario SOURCES ${QDI_FUZZ_RUNNER_SOURCES}
                    CORPORA scenarios scenarios/refused)
    target_link_libraries(fuzz_scenario PRIVATE nlohmann_json::nlohmann_json)
endif()
