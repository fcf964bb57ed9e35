# pictavo_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABEL unit|integration|gui] [TIMEOUT s]
#                  [LAUNCHER <command...>] [ROWS <function:row...>])
# One executable per test file, run offscreen, with a label and a time-out; LAUNCHER runs it (for
# example dbus-run-session --, for a private session bus). ROWS runs each named data row in a process of
# its own, as the test <name>:<function:row>, for rows that leave state behind in a library.
function(pictavo_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;LAUNCHER;ROWS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(NOT T_LIBS)
        set(T_LIBS pictavo_core)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} pictavo_test_support Qt6::Test)
    set(names ${T_NAME})
    if(T_ROWS)
        set(names)
        foreach(row ${T_ROWS})
            add_test(NAME ${T_NAME}:${row} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${T_NAME}> ${row})
            list(APPEND names ${T_NAME}:${row})
        endforeach()
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${T_NAME}>)
    endif()
    set_tests_properties(${names} PROPERTIES
        LABELS ${T_LABEL}
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PICTAVO_RESOURCES_DIR=${PICTAVO_RUNTIME_DIR}")
endfunction()
