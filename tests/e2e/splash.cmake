# The splash and the error page end to end: the program on ./start.htm of app.cmake, and
# one whose startup address is a fixed loopback port where nothing listens until the test
# starts its server there.
set(NORV_E2E_OFFLINE_PORT 39517)
norv_resource_bundle(offline_bundle NAME e2e_offline
                     STARTUP_URI "http://127.0.0.1:${NORV_E2E_OFFLINE_PORT}/start.htm"
                     CAPTION "Norv Offline")
norv_add_program(norv-view-offline BUNDLE ${offline_bundle})

norv_e2e_test(splash_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SplashAndErrorPageTest.cpp
              LIBS norv_test_x11 RESOURCE_LOCK norv_e2e_offline_port)
add_dependencies(splash_e2e_test norv-view-offline norv-view-relative)
target_compile_definitions(splash_e2e_test PRIVATE
    NORV_VIEW_OFFLINE="$<TARGET_FILE:norv-view-offline>"
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_E2E_OFFLINE_PORT=${NORV_E2E_OFFLINE_PORT}
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
