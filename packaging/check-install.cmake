# Installs the build into PREFIX and checks that every installed file a desktop or the program needs is there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
    bin/pictavo-studio
    bin/pictavo
    share/man/man1/pictavo.1.gz
    share/man/man1/pictavo-studio.1.gz
    share/doc/pictavo-studio/copyright
    share/doc/pictavo-studio/changelog.gz
    share/pictavo-studio/ThumbnailSample.jpg
    share/pictavo-studio/FrameEffectSlice.jpg
    share/pictavo-studio/VignetteEffect.jpg
    share/pictavo-studio/Help.html
    share/pictavo-studio/parking-services.txt
    share/pictavo-studio/contact-sheet.png
    share/pictavo-studio/autoconsent/autoconsent.standalone.js
    share/pictavo-studio/autoconsent/LICENSE
    share/applications/com.corvane.PictavoStudio.desktop
    share/metainfo/com.corvane.PictavoStudio.metainfo.xml
    share/icons/hicolor/48x48/apps/com.corvane.PictavoStudio.png
    share/icons/hicolor/256x256/apps/com.corvane.PictavoStudio.png
    share/icons/hicolor/scalable/apps/com.corvane.PictavoStudio.svg)
foreach(f IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
