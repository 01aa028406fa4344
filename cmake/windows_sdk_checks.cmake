# simwin checked against the SDK, in each Windows build: tests/sdk/sdk_agreement.cpp includes the
# real SDK headers and proves with static_assert that each constant simwin/win32.h declares has
# the SDK's value, that each structure simwin declares has the size and field offsets of
# tests/sdk/structure_layouts.h for this build's ABI, and that the USB hub driver's control codes
# and reply layouts named in platform/platform.h are those of the SDK's usbioctl.h. A wrong value
# fails the build.
#
# The constants are read from win32.h at configure time: every "#define NAME value" line (a
# continued line joined) becomes one check in <build>/generated/simwin_constants.inc, so a
# constant added to win32.h later is checked without anyone remembering it. Macros with
# parameters and defines without a value (WINAPI) are no constants. Left out besides, each for
# the reason given:
set(QDI_SIMWIN_NOT_SDK_CONSTANTS
    # Pointer values (casts to a handle or string type), which no constant expression compares.
    INVALID_HANDLE_VALUE HKEY_CLASSES_ROOT HKEY_CURRENT_USER HKEY_LOCAL_MACHINE IDC_ARROW IDC_WAIT)

set(QDI_SIMWIN_HEADER ${CMAKE_SOURCE_DIR}/simwin/win32.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QDI_SIMWIN_HEADER})
file(READ ${QDI_SIMWIN_HEADER} qdi_header)
string(REGEX REPLACE "\\\\\n[ \t]*" " " qdi_header "\n${qdi_header}")
string(REGEX MATCHALL "\n#define[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+[^\n]*" qdi_defines "${qdi_header}")

set(qdi_checks "")
set(qdi_left_out "")
foreach(line IN LISTS qdi_defines)
    string(REGEX MATCH "#define[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+(.*)$" _ "${line}")
    set(name ${CMAKE_MATCH_1})
    string(REGEX REPLACE "[ \t]*//.*$" "" value "${CMAKE_MATCH_2}")
    string(STRIP "${value}" value)
    if(name IN_LIST QDI_SIMWIN_NOT_SDK_CONSTANTS)
        list(APPEND qdi_left_out ${name})
    elseif(NOT value STREQUAL "")
        string(APPEND qdi_checks "QDI_SDK_CONSTANT(${name}, (${value}))\n")
    endif()
endforeach()
foreach(name IN LISTS QDI_SIMWIN_NOT_SDK_CONSTANTS)
    if(NOT name IN_LIST qdi_left_out)
        message(FATAL_ERROR "${name} is left out of the SDK checks, but win32.h declares no such "
                            "constant: take it off QDI_SIMWIN_NOT_SDK_CONSTANTS")
    endif()
endforeach()
string(REGEX MATCHALL "QDI_SDK_CONSTANT" qdi_count "${qdi_checks}")
list(LENGTH qdi_count qdi_count)
if(qdi_count LESS 150)
    message(FATAL_ERROR "Only ${qdi_count} constants read from ${QDI_SIMWIN_HEADER}")
endif()
file(CONFIGURE OUTPUT ${QDI_GENERATED_DIR}/simwin_constants.inc
     CONTENT "// Made by cmake/windows_sdk_checks.cmake from simwin/win32.h: each constant with \
simwin's value.\n${qdi_checks}" @ONLY)

# Each structure win32.h declares, and each of its fields, has its line in the table of layouts.
set(QDI_LAYOUTS ${CMAKE_SOURCE_DIR}/tests/sdk/structure_layouts.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QDI_LAYOUTS})
file(READ ${QDI_LAYOUTS} qdi_layouts)
string(REGEX REPLACE "//[^\n]*" "" qdi_declarations "${qdi_header}")
string(REPLACE ";" "\n" qdi_declarations "${qdi_declarations}")
string(REGEX MATCHALL "\nstruct [A-Za-z_][A-Za-z0-9_]* {[^}]*}" qdi_structures "${qdi_declarations}")
foreach(structure IN LISTS qdi_structures)
    string(REGEX MATCH "struct ([A-Za-z0-9_]+) {([^}]*)}" _ "${structure}")
    set(type ${CMAKE_MATCH_1})
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*(\\[[^\n]*\\])?[ \t]*\n" fields
           "${CMAKE_MATCH_2}")
    string(FIND "${qdi_layouts}" "QDI_STRUCTURE(${type}," at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${QDI_LAYOUTS} gives no size of ${type}, which win32.h declares")
    endif()
    foreach(field IN LISTS fields)
        string(REGEX REPLACE "(\\[.*)?[ \t]*\n$" "" field "${field}")
        string(FIND "${qdi_layouts}" "QDI_FIELD(${type}, ${field}," at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${QDI_LAYOUTS} gives no offset of ${type}.${field}")
        endif()
    endforeach()
endforeach()

add_library(qdi_sdk_agreement OBJECT ${CMAKE_SOURCE_DIR}/tests/sdk/sdk_agreement.cpp)
target_compile_options(qdi_sdk_agreement PRIVATE ${QDI_WARNINGS})
# The program's own view of the SDK: platform/platform.h under the program's WINVER.
target_link_libraries(qdi_sdk_agreement PRIVATE qdi_program)
