# The installed tree and the Debian package: every file in its standard
# place, the installed program answering, the package's file list and
# control fields. Run by CTest with BUILD_DIR, WORK_DIR and VERSION set.
cmake_minimum_required(VERSION 3.25)

function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

function(run out_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    fail("${command} failed (${result}):\n${output}\n${errors}")
  endif()
  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()

function(expect_contains text needle what)
  string(FIND "${text}" "${needle}" at)
  if(at EQUAL -1)
    fail("${what} lacks \"${needle}\":\n${text}")
  endif()
endfunction()

set(icon_sizes 16 22 24 32 48 64 128 256)
set(expected_files
  usr/bin/vantrel
  usr/share/applications/com.kerbix.Vantrel.desktop
  usr/share/metainfo/com.kerbix.Vantrel.metainfo.xml
  usr/lib/systemd/system/vantrel-capture@.service
  usr/lib/systemd/user/vantrel-capture@.service
  usr/lib/systemd/system/vantrel-capture-journald@.service
  usr/share/doc/vantrel/copyright
  usr/share/man/man1/vantrel.1.gz
  usr/share/icons/hicolor/scalable/apps/vantrel.svg)
foreach(size ${icon_sizes})
  list(APPEND expected_files usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png)
endforeach()

# --- cmake --install into a scratch root ---
set(root ${WORK_DIR}/root)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${root})
run(ignored ${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr)
foreach(path ${expected_files})
  if(NOT EXISTS ${root}/${path})
    fail("cmake --install did not install ${path}")
  endif()
endforeach()

run(version ${root}/usr/bin/vantrel --version)
if(NOT version STREQUAL "vantrel ${VERSION}\n")
  fail("the installed program answers --version with \"${version}\"")
endif()

# The installed program lists ports with no display, here in an empty tree.
file(MAKE_DIRECTORY ${WORK_DIR}/devroot)
run(listed ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
    VANTREL_DEVICE_ROOT=${WORK_DIR}/devroot VANTREL_REGISTRY=${WORK_DIR}/registry.reg ${root}/usr/bin/vantrel --list)
if(NOT listed STREQUAL "")
  fail("the installed program lists ports in an empty device tree: ${listed}")
endif()

foreach(size ${icon_sizes})
  run(kind file -b ${root}/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png)
  expect_contains("${kind}" "PNG image data, ${size} x ${size}" "the ${size}x${size} icon")
endforeach()

file(READ ${root}/usr/share/applications/com.kerbix.Vantrel.desktop desktop)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=vantrel\n" "Icon=vantrel\n" "Categories=Utility;Development;\n")
  expect_contains("${desktop}" "${line}" "com.kerbix.Vantrel.desktop")
endforeach()

file(READ ${root}/usr/share/metainfo/com.kerbix.Vantrel.metainfo.xml metainfo)
foreach(needle "<id>com.kerbix.Vantrel</id>" "<project_license>GPL-3.0-or-later</project_license>"
        "<launchable type=\"desktop-id\">com.kerbix.Vantrel.desktop</launchable>")
  expect_contains("${metainfo}" "${needle}" "the AppStream metadata")
endforeach()
# The metadata and the desktop file, as software centres read them.
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  run(ignored ${APPSTREAMCLI} validate --no-net ${root}/usr/share/metainfo/com.kerbix.Vantrel.metainfo.xml)
  run(ignored ${APPSTREAMCLI} validate-tree --no-net ${root}/usr)
else()
  message(STATUS "appstreamcli is not installed: the AppStream metadata is not validated")
endif()

# The licence: GPL-3.0 or later, in full at the root, and the Debian
# copyright file naming it.
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
file(READ ${source_dir}/LICENSE licence LIMIT 200)
expect_contains("${licence}" "GNU GENERAL PUBLIC LICENSE" "LICENSE")
expect_contains("${licence}" "Version 3, 29 June 2007" "LICENSE")
file(READ ${root}/usr/share/doc/vantrel/copyright copyright)
foreach(needle "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "License: GPL-3.0+"
        "/usr/share/common-licenses/GPL-3")
  expect_contains("${copyright}" "${needle}" "the copyright file")
endforeach()

# The unit runs one capture per port, its files in the state folder.
file(READ ${root}/usr/lib/systemd/system/vantrel-capture@.service unit)
foreach(needle "ExecStart=/usr/bin/vantrel --capture --port %i" "StateDirectory=vantrel/%i" "%S/vantrel/%i/"
        "WantedBy=multi-user.target" "DevicePolicy=closed" "SupplementaryGroups=dialout" "UMask=0027")
  expect_contains("${unit}" "${needle}" "vantrel-capture@.service")
endforeach()

# The system unit runs with the least it needs: systemd's own analysis of an
# instance rates it 2.0 or better. Its verdict on each setting is read back:
# the serial devices stay reachable under a device list (no private /dev, so
# reconnect can watch /dev and /dev/serial/by-id), and there is no network.
file(READ ${root}/usr/lib/systemd/user/vantrel-capture@.service user_unit)
foreach(needle "ExecStart=/usr/bin/vantrel --capture --port %i" "StateDirectory=vantrel/%i" "WantedBy=default.target"
        "NoNewPrivileges=yes" "SystemCallFilter=@system-service" "UMask=0027")
  expect_contains("${user_unit}" "${needle}" "the user's vantrel-capture@.service")
endforeach()
foreach(needle "User=" "DynamicUser=" "SupplementaryGroups=" "PrivateNetwork=")
  string(FIND "${user_unit}" "\n${needle}" at)
  if(NOT at EQUAL -1)
    fail("the user's unit sets ${needle}, which a user's manager cannot apply")
  endif()
endforeach()
find_program(SYSTEMD_ANALYZE systemd-analyze)
if(SYSTEMD_ANALYZE)
  execute_process(COMMAND ${SYSTEMD_ANALYZE} security --offline=yes --root=${root} --threshold=20
                          vantrel-capture@COM33.service
                  RESULT_VARIABLE result OUTPUT_VARIABLE analysis ERROR_VARIABLE errors)
  string(REGEX MATCH "Overall exposure level for vantrel-capture@COM33.service: ([0-9.]+)" overall "${analysis}")
  if(NOT result EQUAL 0 OR NOT overall OR CMAKE_MATCH_1 GREATER 2.0)
    fail("the system unit is rated above 2.0 (${result}):\n${analysis}\n${errors}")
  endif()
  # The variant that writes into the system log is held to the same bound.
  execute_process(COMMAND ${SYSTEMD_ANALYZE} security --offline=yes --root=${root} --threshold=20
                          vantrel-capture-journald@COM33.service
                  RESULT_VARIABLE journald_result OUTPUT_VARIABLE journald_analysis ERROR_VARIABLE journald_errors)
  string(REGEX MATCH "Overall exposure level for vantrel-capture-journald@COM33.service: ([0-9.]+)" overall
         "${journald_analysis}")
  if(NOT journald_result EQUAL 0 OR NOT overall OR CMAKE_MATCH_1 GREATER 2.0)
    fail("the system log's unit is rated above 2.0 (${journald_result}):\n${journald_analysis}\n${journald_errors}")
  endif()
  foreach(verdict "✗ PrivateDevices=" "✓ PrivateNetwork=" "✓ ProtectSystem=" "✓ NoNewPrivileges=" "✓ User=/DynamicUser="
          "✓ SystemCallFilter=~@privileged" "✓ RestrictAddressFamilies=~AF_(INET|INET6)")
    expect_contains("${analysis}" "${verdict}" "systemd's analysis of the system unit")
  endforeach()
  string(REGEX MATCH "DeviceAllow=[^\n]*" devices "${analysis}")
  foreach(class char-ttyS:rw char-ttyUSB:rw char-ttyACM:rw char-ttyAMA:rw char-rfcomm:rw)
    expect_contains("${devices}" "${class}" "the system unit's device list")
  endforeach()
else()
  message(STATUS "systemd-analyze is not installed: the system unit's exposure is not rated")
endif()
file(STRINGS ${root}/usr/lib/systemd/system/vantrel-capture@.service settings REGEX "^[A-Za-z]+=")
foreach(setting ${settings})
  if(setting MATCHES "^(PrivateDevices=yes|InaccessiblePaths=.*/dev|TemporaryFileSystem=.*/dev)")
    fail("the system unit hides the devices reconnect watches: ${setting}")
  endif()
endforeach()

# Its variant streams JSON Lines into the system log, unthrottled.
file(READ ${root}/usr/lib/systemd/system/vantrel-capture-journald@.service unit)
foreach(needle "ExecStart=/usr/bin/vantrel --capture --port %i --quiet --jsonl -" "StandardOutput=journal"
        "LogRateLimitIntervalSec=" "LogRateLimitBurst=" "Conflicts=vantrel-capture@%i.service")
  expect_contains("${unit}" "${needle}" "vantrel-capture-journald@.service")
endforeach()

run(manual gzip -dc ${root}/usr/share/man/man1/vantrel.1.gz)
foreach(needle ".TH VANTREL 1" "\\-\\-demo" "\\-\\-version" "$VANTREL_REGISTRY" "$XDG_CONFIG_HOME/vantrel/registry.reg"
        "COM129\\-COM160\t/dev/rfcomm0" "Kerbix\\eVantrel\\ePorts]" "/dev/serial/by-id/" "dialout"
        "\\-\\-capture" "\\-\\-list" "\\-\\-jsonl" "\\-\\-timed\\-log" "\\-\\-send\\-data" "\\-\\-split" "\\-\\-exit\\-on\\-loss"
        "vantrel\\-capture@" "GPL")
  expect_contains("${manual}" "${needle}" "the manual page")
endforeach()

# --- the Debian package ---
run(ignored cpack --config ${BUILD_DIR}/CPackConfig.cmake -G DEB -B ${WORK_DIR}/deb)
file(GLOB packages ${WORK_DIR}/deb/vantrel_*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  fail("expected one vantrel_*.deb, found: ${packages}")
endif()

run(contents dpkg-deb -c ${packages})
foreach(path ${expected_files})
  expect_contains("${contents}" " ./${path}\n" "the package's file list")
endforeach()

run(arch dpkg --print-architecture)
string(STRIP "${arch}" arch)
foreach(field Package Version Architecture Depends Maintainer Description)
  run(value_${field} dpkg-deb -f ${packages} ${field})
  string(STRIP "${value_${field}}" value_${field})
endforeach()
if(NOT value_Package STREQUAL "vantrel" OR NOT value_Version STREQUAL "${VERSION}-1" OR NOT value_Architecture STREQUAL "${arch}")
  fail("control fields: ${value_Package} ${value_Version} ${value_Architecture}")
endif()
# Taken from the linked libraries, plus the SVG plugin named by hand.
foreach(dependency libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6)
  if(NOT value_Depends MATCHES "(^|, )${dependency}( |,|$)")
    fail("Depends lacks ${dependency}: ${value_Depends}")
  endif()
endforeach()
expect_contains("${value_Description}" "virtual instrument" "the package description")
message(STATUS "installed tree and ${packages} are complete")
