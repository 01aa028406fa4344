# The conformance suite as a Windows console program (qdi_conformance.exe), with the images whose
# version resources its version checks read beside it. It links the program's resource script for
# the menu, accelerators and dialog that its user32 checks use, as simwin reads the same script.
file(GLOB QDI_CONFORMANCE_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/conformance/*_checks.cpp)
add_executable(qdi_conformance
    ${CMAKE_SOURCE_DIR}/tests/conformance/main.cpp
    ${CMAKE_SOURCE_DIR}/tests/conformance/fixture_windows.cpp
    ${QDI_CONFORMANCE_CHECKS}
    ${CMAKE_SOURCE_DIR}/res/installer.rc)
target_include_directories(qdi_conformance PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/res)
target_compile_definitions(qdi_conformance PRIVATE WINVER=0x0601 _WIN32_WINNT=0x0601)
target_compile_options(qdi_conformance PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QDI_WARNINGS}>)
target_link_libraries(qdi_conformance PRIVATE setupapi version advapi32 user32 gdi32 kernel32)
target_link_options(qdi_conformance PRIVATE -static)

# qdi_conformance_image(<name> [<resource script>]): <name>.dll beside the program.
function(qdi_conformance_image name)
    set(target qdi_conformance_${name})
    string(REPLACE "-" "_" target ${target})
    add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/driver/sample_driver_file.cpp ${ARGN})
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME ${name} SUFFIX .dll
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/driver-import-libraries)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS}>)
    target_link_options(${target} PRIVATE -nostdlib)
    add_dependencies(qdi_conformance ${target})
endfunction()

qdi_conformance_image(version-two-blocks ${CMAKE_SOURCE_DIR}/tests/conformance/version_two_blocks.rc)
qdi_conformance_image(version-no-strings ${CMAKE_SOURCE_DIR}/tests/conformance/version_no_strings.rc)
qdi_conformance_image(version-none)
