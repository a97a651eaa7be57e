# The host window: the scroll values a page's script answers for the scrolling handler (plain
# C++, built on its own: the fuzz build has no desktop libraries).
norv_fuzz_target(host_scroll_metrics_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/ScrollMetricsFuzz.cpp
            ${PROJECT_SOURCE_DIR}/host/ScrollMetricsText.cpp)
