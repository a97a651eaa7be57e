# The shell end to end: the real norv-view, and two builds of the same program with other
# string tables (an address relative to the current directory; no address at all). Each
# gets the script bridge's web-process extension next to it. ProgramTest: the command line,
# the program's place on the desktop and its log.
include(${PROJECT_SOURCE_DIR}/res/Bundle.cmake)
pkg_check_modules(NORV_E2E_X11 REQUIRED IMPORTED_TARGET x11)

norv_resource_bundle(relative_bundle NAME e2e_relative STARTUP_URI "./start.htm"
                     CAPTION "  Norv E2E  ")
norv_add_program(norv-view-relative BUNDLE ${relative_bundle})
norv_resource_bundle(no_address_bundle NAME e2e_no_address CAPTION "Norv No Address")
norv_add_program(norv-view-no-address BUNDLE ${no_address_bundle})

norv_e2e_test(app_e2e_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/ShellTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ProgramTest.cpp
              LIBS platform_glib PkgConfig::NORV_E2E_X11)
add_dependencies(app_e2e_test norv-view norv-view-relative norv-view-no-address)
target_compile_definitions(app_e2e_test PRIVATE
    NORV_VIEW="$<TARGET_FILE:norv-view>"
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_VIEW_NO_ADDRESS="$<TARGET_FILE:norv-view-no-address>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}"
    NORV_VERSION="${PROJECT_VERSION}"
    NORV_APPLICATION_ID="${NORV_APPLICATION_ID}")
