# PICTAVO_VERSION: the version the program, its manual and its Debian package show. It is
# project(VERSION), with "+g" and the commit's short hash appended when the sources are a git checkout
# of their own ("1.0.0+gd308cea", a valid Debian version that still sorts after "1.0.0"). A tarball
# without .git, or a build without git, gets project(VERSION) alone.
set(PICTAVO_VERSION ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND)
    # Asked of the source folder itself, so that a tarball unpacked inside some other repository does
    # not take that repository's commit.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --short=7 HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        RESULT_VARIABLE git_result OUTPUT_VARIABLE git_output ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(git_result EQUAL 0)
        string(REPLACE "\n" ";" git_output "${git_output}")
        list(GET git_output 0 git_toplevel)
        list(GET git_output 1 git_commit)
        file(REAL_PATH ${CMAKE_SOURCE_DIR} source_dir)
        file(REAL_PATH ${git_toplevel} git_toplevel)
        if(git_toplevel STREQUAL source_dir)
            set(PICTAVO_VERSION ${PROJECT_VERSION}+g${git_commit})
            # A new commit or another branch configures again, so the version never names an older
            # commit than the one built. HEAD names the branch, its log grows with every commit and
            # checkout; the branch's own file (or packed-refs, once git has packed it) names the commit.
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --symbolic-full-name HEAD
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE git_ref OUTPUT_STRIP_TRAILING_WHITESPACE)
            set(git_paths HEAD logs/HEAD packed-refs)
            if(git_ref MATCHES "^refs/")
                list(APPEND git_paths ${git_ref})
            endif()
            foreach(path IN LISTS git_paths)
                execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${path}
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE git_file OUTPUT_STRIP_TRAILING_WHITESPACE)
                if(EXISTS "${git_file}")
                    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_file})
                endif()
            endforeach()
        endif()
    endif()
endif()
message(STATUS "Pictavo Studio version: ${PICTAVO_VERSION}")
