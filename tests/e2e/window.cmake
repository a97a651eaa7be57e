# The window model and the move and resize engine on real X11 windows, without a browser:
# a small driver program and the tests that run it under Xvfb with openbox.
pkg_check_modules(NORV_WINDOW_E2E_X11 REQUIRED IMPORTED_TARGET x11)

add_executable(window-driver ${CMAKE_CURRENT_LIST_DIR}/WindowDriver.cpp)
norv_target_defaults(window-driver)
target_link_libraries(window-driver PRIVATE host)

norv_e2e_test(window_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/WindowTest.cpp
              LIBS PkgConfig::NORV_WINDOW_E2E_X11)
add_dependencies(window_e2e_test window-driver)
target_compile_definitions(window_e2e_test PRIVATE
    NORV_WINDOW_DRIVER="$<TARGET_FILE:window-driver>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
