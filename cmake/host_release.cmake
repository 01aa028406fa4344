# The release: `release` builds both Windows builds and packs each into its archive (CPack, ZIP,
# cmake/windows_release.cmake), quorvale-installer-<version>-win32.zip and -win64.zip in their
# build directories. The archive tests unpack each archive into an empty folder and run the
# program from there under Wine, in the 64-bit end-to-end tests' prefix; the 32-bit one runs under
# scripts/wine32 and is skipped where scripts/prepare-wine32 has not prepared it.
set(QDI_WIN32_BUILD_DIR "" CACHE PATH "The i686-w64-mingw32 build, packed by the release target")

if(QDI_WIN32_BUILD_DIR AND QDI_WIN64_BUILD_DIR)
    add_custom_target(release
        COMMAND ${CMAKE_COMMAND} --build ${QDI_WIN32_BUILD_DIR} --target package
        COMMAND ${CMAKE_COMMAND} --build ${QDI_WIN64_BUILD_DIR} --target package
        COMMENT "Packing quorvale-installer-${PROJECT_VERSION}-win32.zip and -win64.zip"
        USES_TERMINAL VERBATIM)
else()
    message(STATUS "QDI_WIN32_BUILD_DIR or QDI_WIN64_BUILD_DIR is not set: no release target")
endif()

function(qdi_release_archive_test bits build_dir)
    set(archive ${build_dir}/quorvale-installer-${PROJECT_VERSION}-win${bits}.zip)
    add_test(NAME release_archive_win${bits}
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_release_archive.sh ${archive}
                     ${QDI_WIN64_BUILD_DIR} ${QDI_E2E_WORK_DIR} ${ARGN})
    set_tests_properties(release_archive_win${bits} PROPERTIES
        SKIP_RETURN_CODE 77 RESOURCE_LOCK qdi_wine_prefix FIXTURES_REQUIRED qdi_wine_prefix
        TIMEOUT 240 LABELS "e2e;release")
endfunction()

if(QDI_WIN64_BUILD_DIR)
    qdi_release_archive_test(64 ${QDI_WIN64_BUILD_DIR})
    if(QDI_WIN32_BUILD_DIR)
        qdi_release_archive_test(32 ${QDI_WIN32_BUILD_DIR})
    endif()
endif()
