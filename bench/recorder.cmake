# bench/recorder: the recorder's encode throughput against a bare GStreamer pipeline.
if(NORV_DESKTOP)
    pkg_check_modules(NORV_BENCH_GST_APP REQUIRED IMPORTED_TARGET gstreamer-app-1.0)
    add_executable(bench_recorder ${CMAKE_CURRENT_LIST_DIR}/RecorderBench.cpp)
    set_target_properties(bench_recorder PROPERTIES OUTPUT_NAME recorder)
    norv_target_defaults(bench_recorder)
    target_link_libraries(bench_recorder PRIVATE media_pipeline PkgConfig::NORV_BENCH_GST_APP)
endif()
