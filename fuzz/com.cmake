# Variant conversions from text: any byte string, read as UTF-8 and as raw UTF-16.
norv_fuzz_target(variant_change_type_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/com/VariantChangeTypeFuzz.cpp
    LIBS platform_com)
