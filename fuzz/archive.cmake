# Random input at a random level through the Deflater; zlib must inflate it back exactly.
find_package(ZLIB REQUIRED)
norv_fuzz_target(deflater_fuzzer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/archive/DeflaterFuzzer.cpp
    LIBS archive ZLIB::ZLIB)
