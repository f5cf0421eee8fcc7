# cpack -G DEB: a Debian package of the installed layout; its dependencies come from the
# libraries the programs actually link (dpkg-shlibdeps), plus what is only loaded at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A Debian revision: the package is not native, its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "Borvik Tandrel")
set(CPACK_PACKAGE_CONTACT "Borvik Tandrel developers <dev@tandrel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join audio files into one WAV, MP3 or WMA file")
set(CPACK_PACKAGE_DESCRIPTION
    "Borvik Tandrel joins an ordered list of audio files (WAV, MP3, WMA, FLAC,\n\
Ogg Vorbis, Opus, M4A, AIFF and whatever else FFmpeg decodes) into one WAV,\n\
MP3 or WMA file, in a small window (tandrel) or from the command line\n\
(tandrel-join).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tandrel.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Our own maintainer scripts, which keep CPack from calling ldconfig for the private encoder
# libraries in /usr/lib/tandrel/ (never on the library path).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/data/debian/postinst
    ${CMAKE_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
# FFmpeg's libraries are opened on first use (audio/Ffmpeg.h), never linked by the programs.
set(_ffmpeg_packages)
foreach(_lib avformat avcodec swresample avutil)
    string(REGEX MATCH "^[0-9]+" _major "${FFMPEG_lib${_lib}_VERSION}")
    list(APPEND _ffmpeg_packages "lib${_lib}${_major}")
endforeach()
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS ${_ffmpeg_packages})
if(TANDREL_GUI)
    # Loaded by Qt at run time, never linked: SVG pictures and icons.
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
        "qt6-translations-l10n, fonts-dejavu-core, bash-completion")
endif()
include(CPack)
