# bench/player: the CPU time the stream taps add to playing a medium, against plain playbin.
if(NORV_DESKTOP)
    add_executable(bench_player ${CMAKE_CURRENT_LIST_DIR}/PlayerBench.cpp)
    set_target_properties(bench_player PROPERTIES OUTPUT_NAME player)
    norv_target_defaults(bench_player)
    target_link_libraries(bench_player PRIVATE media_pipeline platform_media)
endif()
