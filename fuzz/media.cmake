# Any bytes through the skin engine's package reader and definition parser.
norv_fuzz_target(skin_package_fuzzer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/media/SkinPackageFuzz.cpp
    LIBS platform_media
    DICT ${CMAKE_CURRENT_LIST_DIR}/media/SkinDefinition.dict)
# Seeds: the program's package and its skin text.
file(COPY ${CMAKE_CURRENT_LIST_DIR}/media/seeds/
     DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/corpus-skin_package_fuzzer)
