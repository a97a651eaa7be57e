# bench/startup: the program's start-up (to its first document complete, to its window
# mapped, to its splash mapped) and resident memory, against a bare WebKitGTK window on the
# same page and a bare GTK window.
if(NORV_DESKTOP AND TARGET norv_test_x11)
    pkg_check_modules(NORV_BENCH_WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1 gtk+-3.0)
    add_executable(bench-bare-window ${CMAKE_CURRENT_LIST_DIR}/BareWindow.c)
    target_compile_options(bench-bare-window PRIVATE ${NORV_WARNINGS})
    target_link_libraries(bench-bare-window PRIVATE PkgConfig::NORV_BENCH_WEBKIT)
    add_executable(bench-bare-gtk-window ${CMAKE_CURRENT_LIST_DIR}/BareGtkWindow.c)
    target_compile_options(bench-bare-gtk-window PRIVATE ${NORV_WARNINGS})
    target_link_libraries(bench-bare-gtk-window PRIVATE PkgConfig::NORV_BENCH_WEBKIT)

    # The program itself, on ./start.htm of the folder it starts in.
    include(${PROJECT_SOURCE_DIR}/res/Bundle.cmake)
    norv_resource_bundle(bench_bundle NAME bench_view STARTUP_URI "./start.htm"
                         CAPTION "Norv Bench")
    norv_add_program(norv-view-bench BUNDLE ${bench_bundle})

    add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/StartupBench.cpp)
    norv_target_defaults(bench_startup)
    target_link_libraries(bench_startup PRIVATE norv_test_support norv_test_x11)
    add_dependencies(bench_startup bench-bare-window bench-bare-gtk-window norv-view-bench)
    target_compile_definitions(bench_startup PRIVATE
        NORV_BENCH_BARE="$<TARGET_FILE:bench-bare-window>"
        NORV_BENCH_BARE_GTK="$<TARGET_FILE:bench-bare-gtk-window>"
        NORV_BENCH_VIEW="$<TARGET_FILE:norv-view-bench>")
endif()
