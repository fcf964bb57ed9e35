# Writes OUTPUT from TEMPLATE with the setting names and the report options PICTAVO lists, so that the
# completion offers exactly what --set and report take. A sanitized build's leak report at exit must not
# fail the build step.
function(pictavo_list option variable)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${PICTAVO} ${option}
        RESULT_VARIABLE result OUTPUT_VARIABLE names ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR names STREQUAL "")
        message(FATAL_ERROR "${PICTAVO} ${option} failed (${result}): ${errors}")
    endif()
    string(STRIP "${names}" names)
    string(REPLACE "\n" " " names "${names}")
    set(${variable} "${names}" PARENT_SCOPE)
endfunction()
pictavo_list(--list-settings PICTAVO_SETTING_NAMES)
pictavo_list(--list-report-options PICTAVO_REPORT_OPTIONS)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
