# Installs the program as a desktop tool (menu entry, icons, AppStream
# metadata, manual page) and packages it for Debian with CPack.
set(VANTREL_RES ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${VANTREL_RES}/com.kerbix.Vantrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VANTREL_RES}/com.kerbix.Vantrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The capture without a window as a systemd template unit, one instance per
# port, for the system and for users' own managers (each with the
# restrictions that work there, under the same name).
install(FILES ${VANTREL_RES}/vantrel-capture@.service DESTINATION lib/systemd/system)
install(FILES ${VANTREL_RES}/vantrel-capture-user@.service DESTINATION lib/systemd/user
        RENAME vantrel-capture@.service)
# Its variant that writes JSON Lines into the system log.
install(FILES ${VANTREL_RES}/vantrel-capture-journald@.service DESTINATION lib/systemd/system)

# The licence, where Debian keeps a package's copyright.
install(FILES ${VANTREL_RES}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantrel)

# The icon: scalable, and rendered at the usual sizes for desktops that want
# bitmaps (res/icons, made from vantrel.svg).
install(FILES ${VANTREL_RES}/vantrel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${VANTREL_RES}/icons/vantrel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vantrel.png)
endforeach()

# The manual page, compressed the way Debian keeps them (no name or time
# stamp in the gzip header, so the package is reproducible).
find_program(VANTREL_GZIP gzip REQUIRED)
set(VANTREL_MANPAGE ${CMAKE_BINARY_DIR}/vantrel.1.gz)
add_custom_command(OUTPUT ${VANTREL_MANPAGE}
  COMMAND ${VANTREL_GZIP} -9 -n -c ${VANTREL_RES}/vantrel.1 > ${VANTREL_MANPAGE}
  DEPENDS ${VANTREL_RES}/vantrel.1
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(vantrel_manpage ALL DEPENDS ${VANTREL_MANPAGE})
install(FILES ${VANTREL_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package: cpack -G DEB (or the "package" target).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Kerbix)
set(CPACK_RESOURCE_FILE_LICENSE ${VANTREL_RES}/../LICENSE)
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <vantrel@kerbix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-port data logger")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vantrel records what arrives on a serial port: built-in UARTs, USB
adapters, USB CDC devices, Bluetooth serial and pseudo-terminals. Each
received chunk is shown as text or as hexadecimal bytes, and a capture is
saved as a text log or as one line per chunk with its time and bytes.

Started with --demo it offers a built-in virtual instrument, so it can be
tried without hardware. Started with --capture it records without a window,
for servers and test rigs, and a systemd unit runs one capture per port.")
# The libraries it links give the dependencies; the SVG plugin is loaded at
# run time for the icons, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
include(CPack)
