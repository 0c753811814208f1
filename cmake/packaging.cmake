# Installation of the desktop integration files and the Debian package.
#
# The programs install themselves (ui/ and tools/ carry their own install rules); this file
# adds the menu entry and the icons, and describes the .deb that `cpack -G DEB` builds from
# everything `cmake --install` would put under /usr (the DEB generator's own prefix).

include(GNUInstallDirs)

# Menu entry and icons for freedesktop.org desktops (Linux and the BSDs). Windows gets the
# icon into the .exe from ui/lorvane.rc instead.
if(UNIX AND NOT APPLE)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lorvane.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon theme looks an icon up by its base name, so every size is called lorvane.*.
  install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/lorvane-32.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME lorvane.png)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/lorvane-256.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME lorvane.png)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/lorvane.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The Wireshark dissector for line captures, where Wireshark users are told to find it
# (the README): loaded with -X lua_script, or copied into their Lua plugins folder.
if(UNIX AND NOT APPLE)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/lorvane.lua
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lorvane/wireshark)
endif()

# Manual pages, the changelog and the copyright file, where Debian keeps them. The compressed
# files are made at build time (gzip -n: no name or time stamp, so builds are reproducible).
if(UNIX AND NOT APPLE)
  find_program(LORVANE_GZIP gzip REQUIRED)
  set(lorvane_compressed)
  foreach(source man/lorvane.1 man/lorvane-cli.1 man/lorvane-sim.1 debian/changelog)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
      COMMAND ${LORVANE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/${source} > ${output}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source} VERBATIM)
    list(APPEND lorvane_compressed ${output})
  endforeach()
  add_custom_target(lorvane_package_docs ALL DEPENDS ${lorvane_compressed})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/lorvane.1.gz ${CMAKE_BINARY_DIR}/packaging/lorvane-cli.1.gz
    ${CMAKE_BINARY_DIR}/packaging/lorvane-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The .deb is built for the machine that builds it: dpkg-shlibdeps reads the dependencies
# off the installed libraries of this system, which says nothing about a cross target.
if(PROJECT_IS_TOP_LEVEL AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME lorvane)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "Lorvane developers")
  set(CPACK_PACKAGE_CONTACT "Lorvane developers <dev@lorvane.invalid>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for a 16-key panel module")
  # Debian shows the long description as it is wrapped here, so keep the lines short.
  string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Lorvane reads and writes the settings of a 16-key panel module over a serial"
    "line: the module address, the address, line and operation of each of the 16"
    "keys, and the refresh period. It shows one window with the port, the key rows"
    "and the write and read buttons."
    "The package also contains lorvane-cli, which reads, writes, verifies and"
    "finds modules from the command line with configuration files, and"
    "lorvane-sim, a simulated module on a pseudo-terminal for trying both"
    "without hardware.")
  # Release builds carry debug information; the package ships the programs without it.
  set(CPACK_STRIP_FILES ON)

  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lorvane developers <dev@lorvane.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # lorvane_<version>_<arch>.deb, the name dpkg and apt expect.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Depends is computed from the linked libraries by dpkg-shlibdeps (needs dpkg-dev and file).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt's own dialogs and buttons speak Chinese with the system's qtbase_zh_CN.qm; the window's
  # English catalogue is built into the program.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
  # Every caption is Chinese; without a CJK font Qt draws empty boxes instead of the text.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")

  # A source package must not pick up build folders or the repository itself.
  set(CPACK_SOURCE_GENERATOR TGZ)
  string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" lorvane_source_re "${PROJECT_SOURCE_DIR}")
  set(CPACK_SOURCE_IGNORE_FILES "^${lorvane_source_re}/\\.git/" "^${lorvane_source_re}/build/"
    "^${lorvane_source_re}/build-[^/]*/")
  # Write the values above into CPackConfig.cmake as they are, backslashes included.
  set(CPACK_VERBATIM_VARIABLES ON)

  include(CPack)
endif()
