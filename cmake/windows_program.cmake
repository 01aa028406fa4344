# The Windows program and its sample driver package. The program is one window executable,
# linked statically against the compiler's runtime so that it needs no DLL beyond Windows' own.
# The driver package (the INF and three small images carrying version resources) is staged in
# <build>/package; variants of the driver files for the end-to-end tests go to
# <build>/driver-variants: the rumble file at 1.2.77 and without version resource, the mempak
# file with its strings only in a 040904B0 block.

set(QDI_RESOURCE_FILES
    ${CMAKE_SOURCE_DIR}/res/installer.ico
    ${CMAKE_SOURCE_DIR}/res/header.bmp
    ${CMAKE_SOURCE_DIR}/res/resource.h
    ${QDI_GENERATED_DIR}/installer_version.h
    ${QDI_GENERATED_DIR}/installer.manifest)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/installer.rc PROPERTIES
    OBJECT_DEPENDS "${QDI_RESOURCE_FILES}")

add_executable(quorvale_installer WIN32
    ${CMAKE_SOURCE_DIR}/app/winmain.cpp
    ${CMAKE_SOURCE_DIR}/res/installer.rc)
set_target_properties(quorvale_installer PROPERTIES OUTPUT_NAME quorvale-installer)
target_include_directories(quorvale_installer PRIVATE ${CMAKE_SOURCE_DIR}/res)
target_compile_options(quorvale_installer PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS} ${QDI_WINDOWS_LEAN_FLAGS}>)
target_link_libraries(quorvale_installer PRIVATE qdi_program)
target_link_options(quorvale_installer PRIVATE -static -Wl,--gc-sections)

# The sample driver package.
set(QDI_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(QDI_VARIANT_DIR ${CMAKE_BINARY_DIR}/driver-variants)
configure_file(${CMAKE_SOURCE_DIR}/driver/zelkqx7.inf ${QDI_PACKAGE_DIR}/zelkqx7.inf COPYONLY)

# qdi_driver_file(<target> <package file name> <directory> <output file name>
#                 <version "a.b.c" or "none"> <VFT_DLL|VFT_DRV> [<string block>])
# The string block defaults to 040904E4, the one the installer reads.
function(qdi_driver_file target file_name directory output_name version file_type)
    set(string_block 040904E4)
    if(ARGC GREATER 6)
        set(string_block ${ARGV6})
    endif()
    string(SUBSTRING ${string_block} 4 4 code_page_hex)
    math(EXPR code_page "0x${code_page_hex}")
    set(sources ${CMAKE_SOURCE_DIR}/driver/sample_driver_file.cpp)
    if(NOT version STREQUAL "none")
        list(APPEND sources ${CMAKE_SOURCE_DIR}/driver/sample_driver_version.rc)
    endif()
    add_library(${target} SHARED ${sources})
    get_filename_component(stem ${output_name} NAME_WLE)
    get_filename_component(suffix ${output_name} LAST_EXT)
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${suffix}
        RUNTIME_OUTPUT_DIRECTORY ${directory}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/driver-import-libraries)
    if(NOT version STREQUAL "none")
        string(REPLACE "." ";" numbers ${version})
        list(GET numbers 0 major)
        list(GET numbers 1 minor)
        list(GET numbers 2 build)
        target_compile_definitions(${target} PRIVATE
            QDI_VERSION_MAJOR=${major} QDI_VERSION_MINOR=${minor} QDI_VERSION_BUILD=${build}
            QDI_FILE_NAME=${file_name} QDI_FILE_TYPE=${file_type}
            QDI_STRING_BLOCK=${string_block} QDI_CODE_PAGE=${code_page})
    endif()
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS}>)
    target_link_options(${target} PRIVATE -nostdlib)
endfunction()

# The sample package stands in for the maker's package of this release, so its files carry the
# installer's version: installed, they make the report read "successfully installed", whatever the
# release. The older file is of a fixed earlier version.
qdi_driver_file(zelkqx7f zelkqx7f.dll ${QDI_PACKAGE_DIR} zelkqx7f.dll ${PROJECT_VERSION} VFT_DLL)
qdi_driver_file(zelkqx7m zelkqx7m.dll ${QDI_PACKAGE_DIR} zelkqx7m.dll ${PROJECT_VERSION} VFT_DLL)
qdi_driver_file(zelkqx7_sys zelkqx7.sys ${QDI_PACKAGE_DIR} zelkqx7.sys ${PROJECT_VERSION} VFT_DRV)
qdi_driver_file(zelkqx7f_1_2_77 zelkqx7f.dll ${QDI_VARIANT_DIR} zelkqx7f-1.2.77.dll 1.2.77
                VFT_DLL)
qdi_driver_file(zelkqx7f_unversioned zelkqx7f.dll ${QDI_VARIANT_DIR} zelkqx7f-unversioned.dll
                none VFT_DLL)
qdi_driver_file(zelkqx7m_040904b0 zelkqx7m.dll ${QDI_VARIANT_DIR} zelkqx7m-040904B0.dll
                ${PROJECT_VERSION} VFT_DLL 040904B0)

# The end-to-end driver: a console program that finds the installer's window under Wine, reads
# its report, presses its buttons and types its accelerators.
add_executable(qdi_wine_driver ${CMAKE_SOURCE_DIR}/tests/e2e/wine_driver.cpp)
target_include_directories(qdi_wine_driver PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(qdi_wine_driver PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_wine_driver PRIVATE user32)
target_link_options(qdi_wine_driver PRIVATE -static)
