# The installed layout (`cmake --install`) and the Debian package made from it with CPack.
#
# Each program finds its files beside its executable (the directory of /proc/self/exe), so the
# executables live in a directory of their own under /usr/lib, and every file they read or write
# there is a symbolic link to where such a file belongs on a Debian system: the catalogues an
# administrator replaces in /etc, the files the programs write in /var/lib. /usr stays read-only.
include(GNUInstallDirs)

# The package installs under /usr; a plain `cmake --install` does the same unless told otherwise.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/usr" CACHE PATH "Install prefix" FORCE)
endif()

# What the package holds is built by one target, suite_installed (scripts/package builds it in
# parallel). The install step builds nothing of its own: otherwise CPack's preinstall step builds
# every target of the project, tests and benchmarks included, and with the Makefile generator one
# file at a time. So `cmake --install` installs what was built: build suite_installed (or all) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(suite_installed)
add_dependencies(suite_installed ravelin ravelin-cli country modemsim suite_icons)

set(SUITE_RAVELIN_LIBDIR "lib/ravelin")
set(SUITE_MERIDIA_LIBDIR "lib/meridia")
set(SUITE_RAVELIN_ETC "/etc/ravelin")
set(SUITE_MERIDIA_ETC "/etc/meridia")
set(SUITE_RAVELIN_VAR "/var/lib/ravelin")
set(SUITE_MERIDIA_VAR "/var/lib/meridia")
set(SUITE_PACKAGE_NAME "ravelin-suite")
set(SUITE_DOC_DIR "share/doc/${SUITE_PACKAGE_NAME}")

install(TARGETS ravelin ravelin-cli RUNTIME DESTINATION ${SUITE_RAVELIN_LIBDIR})
install(TARGETS country RUNTIME DESTINATION ${SUITE_MERIDIA_LIBDIR})
install(TARGETS modemsim RUNTIME DESTINATION bin)

# Catalogues: the samples of data/, configuration files an administrator replaces.
install(FILES data/ravelin/Models.ini data/ravelin/Locks.ini DESTINATION ${SUITE_RAVELIN_ETC})
install(FILES data/country/Country.ini data/country/Models.ini DESTINATION ${SUITE_MERIDIA_ETC})
# The loader images the download protocols send first, and the help text "-?" opens: read-only data.
install(FILES data/ravelin/NewFlashLdr.hex data/ravelin/OcmFldr.hex DESTINATION share/ravelin/loaders)
install(FILES data/country/Help.txt DESTINATION share/meridia)
# The files the programs write, in directories the postinst gives to the group that owns serial ports.
install(DIRECTORY DESTINATION ${SUITE_RAVELIN_VAR})
install(DIRECTORY DESTINATION ${SUITE_MERIDIA_VAR})

# The simulated device bank's sample banks, for training and trying the programs without modems.
install(DIRECTORY data/sim/ DESTINATION share/ravelin/sim)

# Symbolic links, made under DESTDIR so that a staged install (and the package) carries them. A link
# path names the install prefix as @PREFIX@, read when installing: CPack installs with its own.
function(suite_install_link link target)
  string(REPLACE "@PREFIX@" "\${CMAKE_INSTALL_PREFIX}" link "${link}")
  install(CODE "
    set(link \"\$ENV{DESTDIR}${link}\")
    get_filename_component(dir \"\${link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${dir}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Link: \${link} -> ${target}\")")
endfunction()

set(prefix "@PREFIX@")
foreach(name Models.ini Locks.ini)
  suite_install_link("${prefix}/${SUITE_RAVELIN_LIBDIR}/${name}" "${SUITE_RAVELIN_ETC}/${name}")
endforeach()
foreach(name Country.ini Models.ini)
  suite_install_link("${prefix}/${SUITE_MERIDIA_LIBDIR}/${name}" "${SUITE_MERIDIA_ETC}/${name}")
endforeach()
# The update history: SQLite puts its -wal and -shm files beside the file the link leads to, in the
# group-writable directory, with the database file's own permissions (the postinst makes it 0664).
foreach(name log.txt Flash.ini history.db)
  suite_install_link("${prefix}/${SUITE_RAVELIN_LIBDIR}/${name}" "${SUITE_RAVELIN_VAR}/${name}")
endforeach()
suite_install_link("${prefix}/${SUITE_MERIDIA_LIBDIR}/modem.ini" "${SUITE_MERIDIA_VAR}/modem.ini")
foreach(name NewFlashLdr.hex OcmFldr.hex)
  suite_install_link("${prefix}/${SUITE_RAVELIN_LIBDIR}/${name}" "../../share/ravelin/loaders/${name}")
endforeach()
suite_install_link("${prefix}/${SUITE_MERIDIA_LIBDIR}/Help.txt" "../../share/meridia/Help.txt")
# The commands on the path; the programs resolve /proc/self/exe, so they still find their directory.
suite_install_link("${prefix}/bin/ravelin" "../${SUITE_RAVELIN_LIBDIR}/ravelin")
suite_install_link("${prefix}/bin/ravelin-cli" "../${SUITE_RAVELIN_LIBDIR}/ravelin-cli")
suite_install_link("${prefix}/bin/country" "../${SUITE_MERIDIA_LIBDIR}/country")

# The desktop menu: one entry and one icon per wizard.
install(FILES packaging/ravelin.desktop packaging/meridia.desktop DESTINATION share/applications)
foreach(size ${SUITE_ICON_SIZES})
  install(FILES ${SUITE_ICON_DIR}/${size}/ravelin.png ${SUITE_ICON_DIR}/${size}/meridia.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# A manual page per executable, and the documents a technician looks for.
install(FILES packaging/man/ravelin.1 packaging/man/ravelin-cli.1 packaging/man/country.1
              packaging/man/modemsim.1
        DESTINATION share/man/man1)
install(FILES README.md packaging/doc/exit-codes.txt packaging/doc/copyright DESTINATION ${SUITE_DOC_DIR})
install(FILES tools/modemsim/README.md DESTINATION ${SUITE_DOC_DIR} RENAME modemsim.md)

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${SUITE_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Ravelin suite developers <ravelin-suite@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater and country configuration for serial modems")
# The long description; CPack puts the summary line above it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "ravelin updates the firmware of the modems on up to 36 serial ports at once;\n"
  "ravelin-cli is its headless front end. country (Meridia) sets the country or\n"
  "region of a modem. modemsim, the simulated device bank, lets both be tried\n"
  "without modems.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Runtime libraries only; nothing needed for building.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libpcre2-8-0 (>= 10.34), libudev1, libsqlite3-0 (>= 3.37), libsystemd0, libc6, libstdc++6")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/conffiles;${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_BINARY_DIR}")
include(CPack)
