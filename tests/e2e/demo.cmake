# The built-in demo walked through real input: the real norv-view on its own startup address,
# its page given a probe through GLib's resource overlay, its recording read back by ffprobe.
norv_e2e_test(demo_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DemoTourTest.cpp
              LIBS recorder_test_stream norv_test_x11)
add_dependencies(demo_e2e_test norv-view)
target_compile_definitions(demo_e2e_test PRIVATE
    NORV_VIEW="$<TARGET_FILE:norv-view>"
    NORV_DEMO_PAGE="${PROJECT_SOURCE_DIR}/res/html/DEMO.HTM"
    NORV_VERSION="${PROJECT_VERSION}"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
