# What bench/measure builds beside the program, never built by default: the least window program
# with the installer's class, title and edit control (same compiler, runtime and options), and
# the console program that times both from start to first report under Wine.
add_executable(qdi_least_window WIN32 EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/least_window.cpp)
target_compile_options(qdi_least_window PRIVATE
    ${QDI_WARNINGS} ${QDI_PROGRAM_FLAGS} ${QDI_WINDOWS_LEAN_FLAGS})
target_link_libraries(qdi_least_window PRIVATE user32 kernel32)
target_link_options(qdi_least_window PRIVATE -static -Wl,--gc-sections)

add_executable(qdi_start_timer EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/start_timer.cpp)
target_compile_options(qdi_start_timer PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_start_timer PRIVATE user32 kernel32)
target_link_options(qdi_start_timer PRIVATE -static)
