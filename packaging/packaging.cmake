# What `cmake --install` puts where, and the packages CPack makes of it:
# a Debian package and a tarball on Linux, a drag-and-drop disk image of the
# app bundle on macOS. scripts/package builds them.
include(GNUInstallDirs)

set(BREVANE_METAINFO ${CMAKE_SOURCE_DIR}/packaging/${BREVANE_APP_ID}.metainfo.xml)
# Software centres show the newest release as the version; it must be ours.
file(READ ${BREVANE_METAINFO} metainfo)
if(NOT metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "${BREVANE_METAINFO} lists no release ${PROJECT_VERSION}: "
                      "add one to <releases> when the project version changes.")
endif()
# The manual page's header and the changelog's latest entry name it too: a
# new version means looking them over.
set(BREVANE_MANPAGE ${CMAKE_SOURCE_DIR}/packaging/brevane.1)
file(STRINGS ${BREVANE_MANPAGE} header REGEX "^\\.TH ")
if(NOT header MATCHES "\"Brevane ${PROJECT_VERSION}\"")
  message(FATAL_ERROR "${BREVANE_MANPAGE}: the .TH line names no \"Brevane ${PROJECT_VERSION}\": "
                      "look the page over and update it when the project version changes.")
endif()
set(BREVANE_CHANGELOG ${CMAKE_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${BREVANE_CHANGELOG} latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^brevane \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "${BREVANE_CHANGELOG} starts with no entry for ${PROJECT_VERSION}: "
                      "add one when the project version changes.")
endif()

# What is read here is checked again when it changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${BREVANE_METAINFO} ${BREVANE_MANPAGE} ${BREVANE_CHANGELOG} ${CMAKE_SOURCE_DIR}/LICENSE)

install(TARGETS brevane BUNDLE DESTINATION . RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(APPLE)
  # Copies Qt's frameworks and plugins into the installed bundle (macdeployqt),
  # so that the disk image runs without a Qt installation.
  qt_generate_deploy_app_script(TARGET brevane OUTPUT_SCRIPT deploy_script
                                NO_UNSUPPORTED_PLATFORM_ERROR)
  install(SCRIPT ${deploy_script})
endif()
if(UNIX AND NOT APPLE)
  install(FILES packaging/${BREVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${BREVANE_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY packaging/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

  # CPack's strip (CPACK_STRIP_FILES) keeps the compilers' .comment notes,
  # which Debian's own packaging strips too.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/brevane\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")

  # Debian wants the manual page and the changelog compressed at the highest
  # level, and without the name and time stamp gzip would store (-n), so that
  # the same sources always make the same package.
  find_program(BREVANE_GZIP gzip REQUIRED)
  set(docs ${CMAKE_BINARY_DIR}/packaging)
  foreach(source ${BREVANE_MANPAGE} ${BREVANE_CHANGELOG})
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${docs}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${docs}/${name}
      COMMAND ${BREVANE_GZIP} -9nf ${docs}/${name}
      DEPENDS ${source} VERBATIM)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${docs}/brevane.1.gz ${docs}/changelog.gz)
  install(FILES ${docs}/brevane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The licence in Debian's machine-readable copyright format: the holder
  # and the terms from LICENSE, the terms indented by one space and each
  # blank line written as " .".
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) …\" line followed by the terms")
  endif()
  set(holder ${CMAKE_MATCH_1})
  string(STRIP "${CMAKE_MATCH_2}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms " ${terms}")
  file(CONFIGURE OUTPUT ${docs}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Brevane

Files: *
Copyright: @holder@
License: Expat
@terms@
")
  install(FILES ${docs}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME brevane)
set(CPACK_PACKAGE_VENDOR "The Brevane developers")
# The Debian package's maintainer; also named in packaging/changelog.
set(CPACK_PACKAGE_CONTACT "The Brevane developers <developers@brevane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Hand one task to several command-line agent tools and watch them side by side")
# Lines of at most 80 characters: the Debian package shows them as they are.
set(CPACK_PACKAGE_DESCRIPTION
    "Brevane hands one task, typed once, to several command-line agent tools at
the same time (claude, gemini and hermes) and shows what each prints, live,
in a column of its own beside the others.

It finds the tools in the usual folders and through the login shell, runs
each one in the folder the window works in, stops every running tool at
once, and lets any transcript be searched, copied or saved.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Brevane)
set(CPACK_STRIP_FILES ON)

if(APPLE)
  set(CPACK_GENERATOR DragNDrop)
  set(CPACK_PACKAGE_FILE_NAME Brevane-${PROJECT_VERSION})
  set(CPACK_DMG_VOLUME_NAME Brevane)
  set(CPACK_DMG_FORMAT UDZO)
  # CPack puts a link to /Applications beside the bundle to drag it onto.
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # Qt's libraries are found by dpkg-shlibdeps; the login shell that runs
  # every tool, Qt's platform plugins and the SQLite driver of Qt SQL (which
  # keeps the history) are loaded at run time, unseen by it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "zsh, qt6-qpa-plugins, libqt6sql6-sqlite")
  # Qt's own German (and other) texts for the standard context menus.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
include(CPack)
