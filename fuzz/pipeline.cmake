# Format blocks and sample windows of any shape through the spectrum analyser.
norv_fuzz_target(spectrum_fuzzer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline/SpectrumFuzz.cpp
    LIBS media_pipeline)
# Recording file names from script: file URIs, separators, relative names.
norv_fuzz_target(recording_file_fuzzer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline/RecordingFileFuzz.cpp
    LIBS media_pipeline)
