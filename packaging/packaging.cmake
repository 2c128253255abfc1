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
# The manual page's header names it too: a new version means looking the
# page over.
set(BREVANE_MANPAGE ${CMAKE_SOURCE_DIR}/packaging/brevane.1)
file(STRINGS ${BREVANE_MANPAGE} header REGEX "^\\.TH ")
if(NOT header MATCHES "\"Brevane ${PROJECT_VERSION}\"")
  message(FATAL_ERROR "${BREVANE_MANPAGE}: the .TH line names no \"Brevane ${PROJECT_VERSION}\": "
                      "look the page over and update it when the project version changes.")
endif()
# What is read here is checked again when it changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${BREVANE_METAINFO} ${BREVANE_MANPAGE})

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
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

  # Debian wants the manual page compressed at the highest level, and
  # without the name and time stamp gzip would store (-n), so that the same
  # sources always make the same package.
  find_program(BREVANE_GZIP gzip REQUIRED)
  set(docs ${CMAKE_BINARY_DIR}/packaging)
  foreach(source ${BREVANE_MANPAGE})
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${docs}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${docs}/${name}
      COMMAND ${BREVANE_GZIP} -9nf ${docs}/${name}
      DEPENDS ${source} VERBATIM)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${docs}/brevane.1.gz)
  install(FILES ${docs}/brevane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME brevane)
set(CPACK_PACKAGE_VENDOR "The Brevane developers")
set(CPACK_PACKAGE_CONTACT "The Brevane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Hand one task to several command-line agent tools and watch them side by side")
set(CPACK_PACKAGE_DESCRIPTION
    "Brevane hands one task, typed once, to several command-line agent tools at the same time \
(claude, gemini and hermes) and shows what each prints, live, in a column of its own.")
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
  # every tool and Qt's platform plugins are loaded at run time, unseen by it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "zsh, qt6-qpa-plugins")
  # Qt's own German (and other) texts for the standard context menus.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
include(CPack)
