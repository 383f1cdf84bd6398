# Install rules and the Debian package. `cmake --install <build>` puts the three programs,
# the desktop entry, the icon, the manual pages and the package documents under the prefix;
# `cpack -G DEB` in a release build makes klremote_<version>_<arch>.deb.
include(GNUInstallDirs)

set(KLR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

foreach(program klremote klremote-sim klremote-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT klremote
            BUNDLE DESTINATION . COMPONENT klremote)
  endif()
endforeach()

if(UNIX AND NOT APPLE)
  install(FILES ${KLR_PACKAGING_DIR}/klremote.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT klremote)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${KLR_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/klremote.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT klremote)
  endforeach()

  # Named after the package, not the project.
  set(klr_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/klremote)

  # Debian wants manual pages and the changelog compressed with gzip -9n (no name, no time).
  find_program(KLR_GZIP gzip)
  set(klr_docs_dir ${CMAKE_BINARY_DIR}/packaging)
  file(MAKE_DIRECTORY ${klr_docs_dir})
  set(klr_gz_outputs)
  foreach(page klremote.1 klremote-sim.1 klremote-cli.1)
    list(APPEND klr_gz_sources ${KLR_PACKAGING_DIR}/man/${page})
    list(APPEND klr_gz_outputs ${klr_docs_dir}/${page}.gz)
  endforeach()
  list(APPEND klr_gz_sources ${KLR_PACKAGING_DIR}/changelog)
  list(APPEND klr_gz_outputs ${klr_docs_dir}/changelog.gz)
  if(KLR_GZIP)
    foreach(src out IN ZIP_LISTS klr_gz_sources klr_gz_outputs)
      add_custom_command(OUTPUT ${out}
                         COMMAND ${KLR_GZIP} -9nc ${src} > ${out}
                         DEPENDS ${src} VERBATIM)
    endforeach()
    add_custom_target(klr_package_docs ALL DEPENDS ${klr_gz_outputs})
    foreach(page klremote.1 klremote-sim.1 klremote-cli.1)
      install(FILES ${klr_docs_dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
              COMPONENT klremote)
    endforeach()
    install(FILES ${klr_docs_dir}/changelog.gz DESTINATION ${klr_doc_dir} COMPONENT klremote)
  endif()
  install(FILES ${KLR_PACKAGING_DIR}/copyright DESTINATION ${klr_doc_dir} COMPONENT klremote)
  install(FILES ${KLR_PACKAGING_DIR}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME klremote
          COMPONENT klremote)
endif()

# --- CPack -----------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME klremote)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote front panel for handheld RF test instruments")
set(CPACK_PACKAGE_INSTALL_DIRECTORY KLRemote)
set(CPACK_PACKAGE_CONTACT "KLRemote Developers <klremote-dev@quorvex.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME klremote)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvex.example/klremote")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The JPEG reader and the X11 platform plug-ins ship in libqt6gui6, which dpkg-shlibdeps
# finds through the Qt libraries the programs link.
# The synopsis is the summary above; CPack indents these lines and marks the empty one.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KLRemote shows the front panel of a handheld spectrum analyser or\n"
    "cable-and-antenna analyser on the PC: the instrument's live screen is\n"
    "fetched about twice a second over TCP/IP (IPv4 or IPv6) or USB, and every\n"
    "key, knob step or screen click is sent back to the instrument.\n"
    "\n"
    "The package also holds klremote-cli, a command-line client for scripted\n"
    "screenshots and key sequences, and klremote-sim, a simulated instrument\n"
    "for trying the program without hardware.")

include(CPack)
