# The refresh benchmark (Google Benchmark): built with the host build, never run by ctest. For
# figures without the sanitizers' cost, configure a separate build with -DQDI_SANITIZE=OFF
# -DCMAKE_BUILD_TYPE=Release and run build/<dir>/qdi_refresh_bench.
find_package(benchmark REQUIRED)
add_executable(qdi_refresh_bench ${CMAKE_SOURCE_DIR}/bench/refresh_bench.cpp)
target_compile_options(qdi_refresh_bench PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_refresh_bench PRIVATE qdi_program simwin benchmark::benchmark
                                                benchmark::benchmark_main)

# One refresh for callgrind (bench/measure): the program's instructions apart from simwin's.
add_executable(qdi_refresh_profile ${CMAKE_SOURCE_DIR}/bench/refresh_profile.cpp)
target_compile_options(qdi_refresh_profile PRIVATE ${QDI_WARNINGS})
target_link_libraries(qdi_refresh_profile PRIVATE qdi_program simwin)
