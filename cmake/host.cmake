# The host build: simwin stands in for Windows; the program's code and the tests run under
# AddressSanitizer and UndefinedBehaviorSanitizer.
option(QDI_SANITIZE "Build the host code with ASan and UBSan" ON)
if(QDI_SANITIZE)
    set(QDI_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer)
    add_compile_options(${QDI_SANITIZER_FLAGS})
    add_link_options(${QDI_SANITIZER_FLAGS})
endif()

file(GLOB QDI_SIMWIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/simwin/*.cpp)
add_library(simwin STATIC ${QDI_SIMWIN_SOURCES})
target_include_directories(simwin PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(simwin PRIVATE ${QDI_WARNINGS})
target_compile_definitions(simwin PRIVATE QDI_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                          QDI_GENERATED_DIR="${QDI_GENERATED_DIR}")

# simwin's structures held to the 64-bit Windows layouts of tests/sdk/structure_layouts.h, which
# the Windows builds hold the SDK to (cmake/windows_sdk_checks.cmake); only compiled.
add_library(qdi_simwin_layouts OBJECT ${CMAKE_SOURCE_DIR}/tests/sdk/simwin_layouts.cpp)
target_compile_options(qdi_simwin_layouts PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_simwin_layouts PRIVATE simwin)

add_library(qdi_program STATIC ${QDI_PROGRAM_SOURCES})
target_include_directories(qdi_program PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qdi_program PRIVATE ${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS})
target_link_libraries(qdi_program PUBLIC simwin)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
# The host tests: tests/<folder>/ for each program folder, tests/program/ for the whole program
# and tests/simwin/ for simwin's own behaviour.
set(QDI_TEST_FOLDERS ${QDI_PROGRAM_FOLDERS} program simwin)
list(TRANSFORM QDI_TEST_FOLDERS PREPEND ${CMAKE_SOURCE_DIR}/tests/ OUTPUT_VARIABLE QDI_TEST_GLOBS)
list(TRANSFORM QDI_TEST_GLOBS APPEND /*.cpp)
file(GLOB QDI_TEST_SOURCES CONFIGURE_DEPENDS ${QDI_TEST_GLOBS})
add_executable(qdi_tests ${QDI_TEST_SOURCES})
target_compile_options(qdi_tests PRIVATE ${QDI_WARNINGS})
target_compile_definitions(qdi_tests PRIVATE QDI_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(qdi_tests PRIVATE qdi_program simwin GTest::gtest GTest::gtest_main)
gtest_discover_tests(qdi_tests DISCOVERY_MODE PRE_TEST)

include(cmake/host_bench.cmake)
include(cmake/host_e2e.cmake)
include(cmake/host_release.cmake)
include(cmake/host_tools.cmake)
include(cmake/host_fuzz.cmake)
include(cmake/host_conformance.cmake)
include(cmake/host_mutation.cmake)
