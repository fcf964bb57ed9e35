# Sanitizer and fuzzing builds. Both go on pictavo_options, so every target of the build (the libraries,
# the program, the tests, the tools) is instrumented alike: a fault in the core is caught whichever
# executable reaches it.

if(PICTAVO_SANITIZE)
    # -fno-sanitize-recover makes undefined behaviour end the process, so a test that reaches it fails
    # instead of printing a line nobody reads.
    set(PICTAVO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
    target_compile_options(pictavo_options INTERFACE ${PICTAVO_SANITIZER_FLAGS} -fno-omit-frame-pointer)
    target_link_options(pictavo_options INTERFACE ${PICTAVO_SANITIZER_FLAGS})
endif()

if(PICTAVO_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "PICTAVO_BUILD_FUZZERS needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage for the fuzzers' feedback in every object; only the fuzz executables link libFuzzer's main.
    target_compile_options(pictavo_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
