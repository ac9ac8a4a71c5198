# The Debian package: `cpack -G DEB` in a build folder configured with
# CMAKE_INSTALL_PREFIX=/usr (./build.sh package does both).
#
# No program links the media libraries (they are loaded at run time), so dpkg-shlibdeps cannot
# see them: they are named here by hand, with the sonames the programs open. What the programs
# do link (Qt, the C++ library) comes from dpkg-shlibdeps. Qt finds no window system without
# its platform plugins, which no program links either.
set(DZ_RUNTIME_LOADED_DEPENDS
    "libavcodec59 | libavcodec-extra59, libavformat59, libavutil57, libswscale6, libswresample4, libavfilter8, qt6-qpa-plugins")

# The package's own documents: Debian's copyright file and changelog.
configure_file(debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog > ${changelog}
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog)
add_custom_target(dz_package_documents ALL DEPENDS ${changelog})
install(FILES debian/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/daziziz)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME daziziz)
set(CPACK_PACKAGE_VENDOR Vavuror)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Built from its own tree rather than packaged by Debian: the first packaging of each version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert video and audio files for players, phones and the web")
set(CPACK_PACKAGE_DESCRIPTION
    "Daziziz Izaza Zivudadov turns video and audio files into other formats:
a phone video into an MP4 file for a media player, a film into a DVD VOB
file, the sound of a video into an MP3 file. Files are collected in a
list, an output profile is chosen and adjusted (codec, frame size, bit
rates, sample rate, channels, aspect, volume), and every checked file is
converted in turn; the original files are never changed.
.
The package holds the desktop program, daziziz, and its command-line
front end, daziziz-cli, for scripts and remote shells. Both drive the
FFmpeg libraries, loaded at run time.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DZ_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps' findings are added to these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS ${DZ_RUNTIME_LOADED_DEPENDS})
# The encoders some profiles name (AMR-NB for 3GP, for one) are only in the -extra build; Qt's
# own translations give the standard buttons and dialogs the window's language.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libavcodec-extra59")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The components' install rules as one package; the tests' own modules have none.
set(CPACK_MONOLITHIC_INSTALL ON)
include(CPack)
