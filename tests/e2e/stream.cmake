# Stream filters written in page script end to end: the real program (the build on
# ./start.htm of app.cmake) playing media the tests make, the page filtering its samples.
norv_e2e_test(stream_filter_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/StreamFilterTest.cpp
              LIBS recorder_test_stream norv_test_x11)
add_dependencies(stream_filter_e2e_test norv-view-relative)
target_compile_definitions(stream_filter_e2e_test PRIVATE
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
