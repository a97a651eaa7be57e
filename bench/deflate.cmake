# bench/deflate: our Deflater against zlib's deflate, both at level 8, on a file corpus.
find_package(ZLIB REQUIRED)
add_executable(bench_deflate ${CMAKE_CURRENT_LIST_DIR}/DeflateBench.cpp)
set_target_properties(bench_deflate PROPERTIES OUTPUT_NAME deflate)
norv_target_defaults(bench_deflate)
target_link_libraries(bench_deflate PRIVATE archive ZLIB::ZLIB)
target_compile_definitions(bench_deflate PRIVATE NORV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
