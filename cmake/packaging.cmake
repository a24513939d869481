# Installing the manual page next to the binary, and packing both into a
# Debian package. `cmake --install` and CPack share these rules, so what
# `make install` puts under a prefix is exactly what the package ships.

install(FILES ${PROJECT_SOURCE_DIR}/man/tallywire.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(TALLYWIRE_MAINTAINER
    "tallywire maintainers <maintainers@users.noreply.c-seed-e3dc7e0f.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallywire)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TALLYWIRE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "command-line traffic profiler for live interfaces and capture files")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# A package installs into /usr whatever prefix `make install` was given.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TALLYWIRE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above is the first line of the description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tallywire reads link-layer frames from a live interface (through libpcap),
a pcap or pcapng file, standard input or a snoop file, and counts packets
and bytes per link encapsulation, IP protocol, TCP and UDP port, IPv4 host
and IPv4 network. It prints a report sorted by bytes, optionally split into
source and destination.")
# dpkg-shlibdeps finds the runtime packages of every linked library
# (libpcap0.8 among them), so the dependency list follows the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian ships manual pages compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_manual.cmake)

include(CPack)
