# The Debian package (`cpack -G DEB` in the build folder, or scripts/package.sh): what
# `cmake --install` puts under /usr, the copyright file and changelog Debian asks for, and the
# libraries' packages as dependencies, found by dpkg-shlibdeps.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kavrel)
set(kavrel_changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${kavrel_changelog}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${kavrel_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(kavrel_changelog ALL DEPENDS ${kavrel_changelog})
install(FILES ${kavrel_changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kavrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR MorvaneData)
set(CPACK_PACKAGE_CONTACT "MorvaneData <kavrel@morvanedata.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sound file player with an adjustable resonant filter")
# The long description, in lines as the control file shows them; CPack puts the summary first.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kavrel opens a sound file (wave, FLAC, Ogg Vorbis, Opus, MP3, AIFF, CAF,"
    "W64 or RF64), shows each channel's waveform between mouse-zoomable axes and"
    "plays it in a loop through the desktop's sound server (PulseAudio or"
    "PipeWire). A second-order filter with one pole pair and one zero pair can be"
    "switched in and out while the sound plays and tuned live with six sliders,"
    "with its frequency response drawn beside them."
    "."
    "It reads the file's levels and saves the filtered sound normalised to full"
    "scale as a 16-bit wave or FLAC file. Its commands (info, convert, analyze,"
    "export, play) run without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt loads its window-system plugins at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, pipewire-pulse | pulseaudio")
include(CPack)
