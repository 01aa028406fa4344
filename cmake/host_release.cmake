# The release: `release` builds both Windows builds and packs each into its archive (CPack, ZIP,
# cmake/windows_release.cmake), quorvale-installer-<version>-win32.zip and -win64.zip in their
# build directories. The archive tests unpack each archive into an empty folder and run the
# program from there under Wine: the 64-bit one in the 64-bit end-to-end tests' prefix, the
# 32-bit one under scripts/wine32 in the 32-bit prefix of e2e_win32_on_win32_*, as on 32-bit
# Windows, where it installs; it is skipped where scripts/prepare-wine32 has not prepared it.
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

# qdi_release_archive_test(<bits> <build dir> <e2e prefix name> <win64|win32> <prefix fixture>):
# the archive of that build, run in the prefix of those end-to-end cases with their driver.
function(qdi_release_archive_test bits build_dir prefix_name windows fixture)
    set(archive ${build_dir}/quorvale-installer-${PROJECT_VERSION}-win${bits}.zip)
    add_test(NAME release_archive_win${bits}
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_release_archive.sh ${archive}
                     ${build_dir} ${CMAKE_BINARY_DIR}/e2e/${prefix_name} ${windows})
    set_tests_properties(release_archive_win${bits} PROPERTIES
        SKIP_RETURN_CODE 77 RESOURCE_LOCK ${fixture} FIXTURES_REQUIRED ${fixture}
        TIMEOUT 300 LABELS "e2e;release")
endfunction()

if(QDI_WIN64_BUILD_DIR)
    qdi_release_archive_test(64 ${QDI_WIN64_BUILD_DIR} win64 win64 qdi_wine_prefix)
endif()
if(QDI_WIN32_BUILD_DIR)
    qdi_release_archive_test(32 ${QDI_WIN32_BUILD_DIR} win32_on_win32 win32
                             qdi_wine_prefix_win32_on_win32)
endif()
