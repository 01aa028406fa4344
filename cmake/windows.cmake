# The Windows builds: the program's code against the real SDK, linked statically against the
# compiler's runtime so that what ships needs no DLL beyond those of Windows itself.
enable_language(RC)

# The program throws no exceptions, so it carries no unwind tables; each function in a section of
# its own lets the linker drop what nothing calls. (Data sections stay whole: the MinGW linker
# would store the zero-filled tables in the file.)
set(QDI_WINDOWS_LEAN_FLAGS -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections)

add_library(qdi_program STATIC ${QDI_PROGRAM_SOURCES})
target_include_directories(qdi_program PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qdi_program PRIVATE ${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS}
                                          ${QDI_WINDOWS_LEAN_FLAGS})
target_compile_definitions(qdi_program PUBLIC WINVER=0x0501 _WIN32_WINNT=0x0501)
target_link_libraries(qdi_program PUBLIC setupapi cfgmgr32 version advapi32 user32 gdi32 kernel32)

include(cmake/windows_program.cmake)
include(cmake/windows_release.cmake)
include(cmake/windows_bench.cmake)

# On 32-bit Windows the INF entry points are __stdcall: prove that the type assertions of the
# Install command tell a pointer without WINAPI from the published declaration.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    try_compile(QDI_PLAIN_POINTER_COMPILES ${CMAKE_BINARY_DIR}/checks
        SOURCES ${CMAKE_SOURCE_DIR}/cmake/checks/plain_pointer_to_inf_entry.cpp
        CMAKE_FLAGS -DCMAKE_CXX_STANDARD=17
        OUTPUT_VARIABLE QDI_PLAIN_POINTER_OUTPUT)
    if(QDI_PLAIN_POINTER_COMPILES)
        message(FATAL_ERROR "A pointer without WINAPI passes for the INF entry point on i686")
    endif()
    if(NOT QDI_PLAIN_POINTER_OUTPUT MATCHES "a pointer without WINAPI passes")
        message(FATAL_ERROR "The calling-convention check failed for another reason:\n"
                            "${QDI_PLAIN_POINTER_OUTPUT}")
    endif()
endif()
include(cmake/windows_conformance.cmake)
include(cmake/windows_sdk_checks.cmake)
