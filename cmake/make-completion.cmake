# Writes OUTPUT from TEMPLATE with the setting names PICTAVO lists, so that the completion offers exactly
# the names --set takes. A sanitized build's leak report at exit must not fail the build step.
execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${PICTAVO} --list-settings
    RESULT_VARIABLE result OUTPUT_VARIABLE names ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR names STREQUAL "")
    message(FATAL_ERROR "${PICTAVO} --list-settings failed (${result}): ${errors}")
endif()
string(STRIP "${names}" names)
string(REPLACE "\n" " " PICTAVO_SETTING_NAMES "${names}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
