# The Windows builds: the system code against the real SDK, linked statically against the
# compiler's runtime so that what ships needs no DLL beyond those of Windows itself.
enable_language(RC)

add_library(qdi_system STATIC ${QDI_SYSTEM_SOURCES})
target_include_directories(qdi_system PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qdi_system PRIVATE ${QDI_WARNINGS} ${QDI_SYSTEM_FLAGS})
target_compile_definitions(qdi_system PUBLIC WINVER=0x0501 _WIN32_WINNT=0x0501)
target_link_libraries(qdi_system PUBLIC setupapi cfgmgr32 version advapi32 user32 gdi32 kernel32)

if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/windows_program.cmake)
    include(cmake/windows_program.cmake)
endif()
