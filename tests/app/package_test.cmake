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
  usr/lib/systemd/user/vantrel-capture-journald@.service
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
        "WantedBy=multi-user.target")
  expect_contains("${unit}" "${needle}" "vantrel-capture@.service")
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
