# The release archive of this Windows build, the one download a user needs: the `package` target
# (CPack, ZIP) packs the program and README.txt for users at the archive's top, and the sample
# driver package in its folder sample-driver-package, into quorvale-installer-<version>-win32.zip
# or -win64.zip in the build directory, with its SHA-256 checksum beside it (.zip.sha256). The
# program takes .\zelkqx7.inf from the directory it is started in, so started at the top it
# finds no package and installs nothing: the stand-in package never replaces a real driver by
# accident.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QDI_RELEASE_BITS 64)
else()
    set(QDI_RELEASE_BITS 32)
endif()
set(QDI_RELEASE_README ${CMAKE_BINARY_DIR}/release/README.txt)
configure_file(${CMAKE_SOURCE_DIR}/release/README.txt.in ${QDI_RELEASE_README} @ONLY
               NEWLINE_STYLE CRLF)

install(TARGETS quorvale_installer RUNTIME DESTINATION .)
install(FILES ${QDI_RELEASE_README} DESTINATION .)
install(FILES ${QDI_PACKAGE_DIR}/zelkqx7.inf $<TARGET_FILE:zelkqx7f> $<TARGET_FILE:zelkqx7m>
              $<TARGET_FILE:zelkqx7_sys>
        DESTINATION sample-driver-package)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvale-installer)
set(CPACK_PACKAGE_VENDOR "Quorvale Driver Installer developers")
set(CPACK_PACKAGE_FILE_NAME quorvale-installer-${PROJECT_VERSION}-win${QDI_RELEASE_BITS})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
