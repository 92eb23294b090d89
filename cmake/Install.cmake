# What `cmake --install` (and `make install`) puts under the prefix: the program, its help pages, a
# desktop entry and an icon, so that the program appears in the desktop's menu.
include(GNUInstallDirs)

install(TARGETS sonalto sonalto-export RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/aide DESTINATION ${CMAKE_INSTALL_DATADIR}/sonalto)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/sonalto.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The desktop entry names the program by its full path under the prefix of this install (which
# `--prefix` may change after configuring), so that it starts even when that bin folder is not on the PATH.
install(CODE "
    set(sonalto_desktop_source \"${PROJECT_SOURCE_DIR}/resources/sonalto.desktop\")
    set(sonalto_desktop_work \"${PROJECT_BINARY_DIR}/sonalto.desktop\")
    set(sonalto_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(sonalto_applications \"${CMAKE_INSTALL_DATADIR}/applications\")
")
install(CODE [[
    set(sonalto_exec "${CMAKE_INSTALL_PREFIX}/${sonalto_bindir}/sonalto")
    if(sonalto_exec MATCHES " ")
        set(sonalto_exec "\"${sonalto_exec}\"")
    endif()
    file(READ "${sonalto_desktop_source}" sonalto_entry)
    string(REGEX REPLACE "\nExec=[^\n]*" "\nExec=${sonalto_exec}" sonalto_entry "${sonalto_entry}")
    file(WRITE "${sonalto_desktop_work}" "${sonalto_entry}")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${sonalto_applications}" TYPE FILE
         FILES "${sonalto_desktop_work}")
]])
