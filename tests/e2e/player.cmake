# The media player in the page end to end: the real program (the build on ./start.htm of
# app.cmake) with player elements playing media the tests make, served over HTTP.
norv_e2e_test(player_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlayerElementTest.cpp
              LIBS norv_test_x11)
add_dependencies(player_e2e_test norv-view-relative)
target_compile_definitions(player_e2e_test PRIVATE
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>"
    NORV_E2E_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")

# The player's recorder and equaliser from page script, the recordings read back by ffmpeg's
# tools and the skin package by Python's zipfile.
norv_e2e_test(player_services_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlayerServicesTest.cpp
              LIBS recorder_test_stream norv_test_x11)
add_dependencies(player_services_e2e_test norv-view-relative)
target_compile_definitions(player_services_e2e_test PRIVATE
    NORV_VIEW_RELATIVE="$<TARGET_FILE:norv-view-relative>")
