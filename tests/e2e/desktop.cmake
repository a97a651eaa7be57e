# The program on the user's desktop end to end: the real program (the build on ./start.htm
# of app.cmake) with logind's session on a private system bus, real pointer drags on a long
# page, and the display service with the X server's screen saver and fake inhibition
# services on a private session bus.
pkg_check_modules(NORV_DESKTOP_E2E REQUIRED IMPORTED_TARGET x11 xscrnsaver)
norv_e2e_test(desktop_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DesktopTest.cpp
              LIBS norv_test_x11 PkgConfig::NORV_DESKTOP_E2E)
add_dependencies(desktop_e2e_test norv-view-relative)
target_compile_definitions(desktop_e2e_test PRIVATE
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_APPLICATION_ID="${NORV_APPLICATION_ID}"
    FAKE_SERVICES_DIR="${PROJECT_SOURCE_DIR}/tests/script")
