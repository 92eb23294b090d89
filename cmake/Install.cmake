# What `cmake --install` (and `make install`) puts under the prefix: the program, its help pages, a
# desktop entry and an icon, so that the program appears in the desktop's menu.
include(GNUInstallDirs)

install(TARGETS sonalto sonalto-export RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/aide DESTINATION ${CMAKE_INSTALL_DATADIR}/sonalto)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/sonalto.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The same icon rendered at the fixed sizes (resources/CMakeLists.txt), the software centre's description,
# the type of the project files, the manual pages.
install(DIRECTORY ${PROJECT_BINARY_DIR}/resources/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_SOURCE_DIR}/resources/fr.sonalto.Sonalto.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/sonalto-project.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME sonalto.xml)
install(FILES ${PROJECT_BINARY_DIR}/resources/man/sonalto.1.gz ${PROJECT_BINARY_DIR}/resources/man/sonalto-export.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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
    # The program's own name gives way to its full path; what follows it (the file argument) stays.
    string(REGEX REPLACE "\nExec=sonalto" "\nExec=${sonalto_exec}" sonalto_entry "${sonalto_entry}")
    file(WRITE "${sonalto_desktop_work}" "${sonalto_entry}")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${sonalto_applications}" TYPE FILE
         FILES "${sonalto_desktop_work}")
]])
