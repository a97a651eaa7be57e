# Window declarations: the parser with its serialiser, and the cheap text checks.
norv_fuzz_target(markup_declaration_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/markup/DeclarationFuzz.cpp
    LIBS markup)
norv_fuzz_target(markup_value_syntax_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/markup/ValueSyntaxFuzz.cpp
    LIBS markup platform_glib)
