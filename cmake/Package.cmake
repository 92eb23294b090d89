# `make package`: a Debian package of the program, built by CPack from the install rules (cmake/Install.cmake).
# Its library dependencies are found by dpkg-shlibdeps from the programs themselves; only what the programs
# load without linking it (Qt's plugins, Qt's French translations) is named here.
include(GNUInstallDirs)

# The package's own documents: its copyright and its changelog, where Debian keeps them.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/resources/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog)
add_custom_target(sonalto_package_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonalto)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonalto)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "L'équipe Sonalto <equipe@sonalto.fr>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://sonalto.fr/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The first line is the summary; CPack indents the others as the control file wants them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "classroom sound editor: record, cut and edit sounds
Sonalto records from the line input, shows the waveform, and lets a teacher
or a pupil mark a stretch with the mouse, listen to it and add it to a
montage of up to a hundred extracts with titles, fades and crossfades. The
montage is saved as a small project file and exported as one WAV or MP3
file; sonalto-export exports projects from a script.

Éditeur de sons pour la classe, en français : on enregistre depuis l'entrée
ligne, on marque un passage à la souris, on l'écoute et on l'ajoute à un
montage de cent extraits au plus, avec titres et fondus, que l'on exporte en
WAV ou en MP3.")
include(CPack)
