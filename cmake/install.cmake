# Installation and desktop integration.
#
# Layout under the prefix (GNUInstallDirs):
#   bin/kiv, bin/kiv-watch         launchers: per-user directory, then the program
#   bin/kiv-verify                 plays a replay again and prints its score
#   bin/kiv_verify                 its old name, a link, for this release
#   libexec/kiv/kiv                the game itself, run by the launcher
#   libexec/kiv/kiv-watch          shows a replay in a window
#   share/kiv/{images,sounds}      the game's data
#   share/applications/<id>.desktop, share/metainfo/<id>.metainfo.xml
#   share/icons/hicolor/NxN/apps/<id>.png, share/man/man6/kiv.6,
#   share/man/man1/{kiv-watch,kiv-verify,kiv_verify}.1
#
# The game reads images/, sounds/ and kiv.prf from its working directory, so
# the launcher gives each player a directory of their own under
# $XDG_DATA_HOME/kiv with links to the installed data, and starts the game
# there. It finds the installed files relative to its own location, so a
# DESTDIR staging tree or a moved prefix runs as it is.

include(GNUInstallDirs)

set(KIV_APP_ID "io.github.kiv.Kiv")
set(KIV_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(KIV_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(KIV_GAME_DIR ${CMAKE_INSTALL_LIBEXECDIR}/kiv)
set(KIV_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kiv)
set(KIV_ICON_SIZES 32 48 64 128 256)
# Date of the release named by the project version, for the AppStream data.
set(KIV_RELEASE_DATE 2026-12-06)

# Paths from bindir to the game and its data, fixed at configure time. Any
# prefix gives the same answer as long as the directories are relative; the
# leading "/" stands in for the prefix.
foreach(dir BINDIR LIBEXECDIR DATADIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(_kiv_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(_kiv_${dir} "/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
file(RELATIVE_PATH KIV_BIN_TO_GAME_DIR "${_kiv_BINDIR}" "${_kiv_LIBEXECDIR}/kiv")
file(RELATIVE_PATH KIV_BIN_TO_DATA "${_kiv_BINDIR}" "${_kiv_DATADIR}/kiv")

foreach(KIV_PROGRAM kiv kiv-watch)
  configure_file(${KIV_PACKAGING_DIR}/kiv.sh.in ${KIV_PACKAGING_OUT}/${KIV_PROGRAM} @ONLY)
endforeach()
configure_file(${KIV_PACKAGING_DIR}/kiv.metainfo.xml.in
  ${KIV_PACKAGING_OUT}/${KIV_APP_ID}.metainfo.xml @ONLY)
# The verifier's old name, kept as a link for a release.
file(CREATE_LINK kiv-verify ${KIV_PACKAGING_OUT}/kiv_verify SYMBOLIC)
file(CREATE_LINK kiv-verify.1 ${KIV_PACKAGING_OUT}/kiv_verify.1 SYMBOLIC)

install(TARGETS kiv kiv-watch RUNTIME DESTINATION ${KIV_GAME_DIR})
install(TARGETS kiv_verify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${KIV_PACKAGING_OUT}/kiv ${KIV_PACKAGING_OUT}/kiv-watch DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KIV_PACKAGING_OUT}/kiv_verify DESTINATION ${CMAKE_INSTALL_BINDIR})

# Only the files the game loads; whatever else lies next to them stays behind.
# OPTIONAL, so that data added after configuring is still installed.
foreach(kind images sounds)
  if(NOT IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${kind})
    message(WARNING "${kind}/ is missing: the installed game will not start")
  endif()
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${kind} DESTINATION ${KIV_DATA_DIR} OPTIONAL
    FILES_MATCHING PATTERN "*.png" PATTERN "*.wav" PATTERN "*.ogg")
endforeach()

install(FILES ${KIV_PACKAGING_DIR}/${KIV_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KIV_PACKAGING_OUT}/${KIV_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KIV_PACKAGING_DIR}/kiv.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${KIV_PACKAGING_DIR}/kiv-watch.1 ${KIV_PACKAGING_DIR}/kiv-verify.1 ${KIV_PACKAGING_OUT}/kiv_verify.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Application icons, drawn by the picture generator from the game's own art.
if(TARGET make_images)
  set(_kiv_icons "")
  foreach(size ${KIV_ICON_SIZES})
    list(APPEND _kiv_icons ${KIV_PACKAGING_OUT}/icons/kiv-${size}.png)
  endforeach()
  add_custom_command(OUTPUT ${_kiv_icons}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KIV_PACKAGING_OUT}/icons
    COMMAND make_images --icons ${KIV_PACKAGING_OUT}/icons
    DEPENDS make_images
    COMMENT "Drawing the application icons"
    VERBATIM)
  add_custom_target(kiv_icons ALL DEPENDS ${_kiv_icons})
  foreach(size ${KIV_ICON_SIZES})
    install(FILES ${KIV_PACKAGING_OUT}/icons/kiv-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${KIV_APP_ID}.png)
  endforeach()
else()
  message(WARNING "make_images is not built: no application icons will be installed")
endif()

# Debian package: cpack -G DEB in the build directory.
set(CPACK_PACKAGE_NAME kiv)
set(CPACK_PACKAGE_VENDOR "Kiv developers")
set(KIV_PACKAGE_MAINTAINER "Kiv developers <kiv@localhost>" CACHE STRING
  "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${KIV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "arcade game: catch falling balls in a pan")
# One paragraph, lines of at most 80 columns as Debian wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Balls of three colours and sizes keep falling into the playfield. Move the"
  "pan with the mouse, catch them and throw them out over the right edge for"
  "points; quick catches raise a combo multiplier. A ball lost at the bottom"
  "ends the game. The best score is kept for each player.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime libraries (SDL2, SDL2_mixer, libpng and what they pull in)
# come from dpkg-shlibdeps run on the installed binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
