# The release archive of this Windows build, the one download a user needs: the `package` target
# (CPack, ZIP) packs the program, the sample driver package and README.txt for users into
# quorvale-installer-<version>-win32.zip or -win64.zip in the build directory. The files lie at
# the archive's top, side by side, since the program takes .\zelkqx7.inf from the directory it
# is started in.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QDI_RELEASE_BITS 64)
else()
    set(QDI_RELEASE_BITS 32)
endif()
set(QDI_RELEASE_README ${CMAKE_BINARY_DIR}/release/README.txt)
configure_file(${CMAKE_SOURCE_DIR}/release/README.txt.in ${QDI_RELEASE_README} @ONLY
               NEWLINE_STYLE CRLF)

install(TARGETS quorvale_installer RUNTIME DESTINATION .)
install(FILES ${QDI_PACKAGE_DIR}/zelkqx7.inf $<TARGET_FILE:zelkqx7f> $<TARGET_FILE:zelkqx7m>
              $<TARGET_FILE:zelkqx7_sys> ${QDI_RELEASE_README}
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvale-installer)
set(CPACK_PACKAGE_VENDOR "Quorvale Driver Installer developers")
set(CPACK_PACKAGE_FILE_NAME quorvale-installer-${PROJECT_VERSION}-win${QDI_RELEASE_BITS})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
