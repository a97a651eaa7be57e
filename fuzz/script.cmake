# The objects behind window.tavi: the filter text a page gives its file dialogs.
norv_fuzz_target(script_file_filter_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/script/FileDialogFilterFuzz.cpp
    LIBS script)
