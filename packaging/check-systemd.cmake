# Installs the build into PREFIX and has `systemd-analyze --user verify` check the installed example
# units: their syntax, the timer's service, the service's /bin/sh. The user manager it simulates needs a
# runtime folder but no running systemd, so this works in a container; --man=no skips the check of the
# Documentation= pages, which may not be installed. Any line it prints is a fault, as systemd only warns
# about an unknown key. The shell line runs pictavo from its installed folder, which it must name.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(units ${PREFIX}/share/pictavo-studio/systemd)
file(MAKE_DIRECTORY ${PREFIX}/runtime)
execute_process(COMMAND ${CMAKE_COMMAND} -E env XDG_RUNTIME_DIR=${PREFIX}/runtime
        ${SYSTEMD_ANALYZE} --user verify --man=no ${units}/pictavo-nightly.service ${units}/pictavo-nightly.timer
    RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0 OR NOT log STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify (${result}):\n${log}")
endif()
file(STRINGS ${units}/pictavo-nightly.service environment REGEX "^Environment=")
string(REGEX MATCH "PICTAVO=([^ ]+)" pictavo "${environment}")
execute_process(COMMAND ${CMAKE_MATCH_1} --version RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0 OR NOT CMAKE_MATCH_1 STREQUAL "${PREFIX}/bin/pictavo")
    message(FATAL_ERROR "the service does not run the installed pictavo: ${environment}")
endif()
file(REMOVE_RECURSE ${PREFIX})
