# The host window end to end: the real program (the build on ./start.htm of app.cmake) on
# pages of its folder and of a loopback server, with real X input.
norv_e2e_test(host_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HostDialogTest.cpp
              LIBS norv_test_x11)
add_dependencies(host_e2e_test norv-view-relative)
target_compile_definitions(host_e2e_test PRIVATE
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")

# The page's own window: its title, grips and buttons moving, sizing, minimising and
# closing it, and the native window object's events and errors.
norv_e2e_test(native_window_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/NativeWindowTest.cpp
              LIBS norv_test_x11)
add_dependencies(native_window_e2e_test norv-view norv-view-relative)
target_compile_definitions(native_window_e2e_test PRIVATE
    NORV_VIEW="$<TARGET_FILE:norv-view>"
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
