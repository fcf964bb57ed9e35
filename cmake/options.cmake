# One INTERFACE target carries the language level, warnings and Qt defines for every target.
add_library(pictavo_options INTERFACE)
target_compile_features(pictavo_options INTERFACE cxx_std_20)
target_compile_options(pictavo_options INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual)
if(PICTAVO_WARNINGS_AS_ERRORS)
    target_compile_options(pictavo_options INTERFACE -Werror)
endif()
target_compile_definitions(pictavo_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_NO_KEYWORDS
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
