# `make package`: a Debian package, pidsift_<version>_<arch>.deb, of everything `cmake --install`
# installs, under /usr. dpkg-shlibdeps gives its dependencies. What Debian's policy adds to a plain
# install (man pages and the changelog compressed, the copyright file, a stripped static library)
# is done on CPack's staging folder by cmake/debian/prepare.cmake, so that `cmake --install` stays
# as it is.
set(PIDSIFT_PACKAGE_MAINTAINER "Seed 0fb0bbb2 maintainers <maintainers@users.noreply.c-seed-0fb0bbb2.example>"
  CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pidsift)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PIDSIFT_PACKAGE_MAINTAINER}")
# The install rules see /usr as their prefix and the staging folder as DESTDIR: pidsift.pc then
# names /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # pidsift_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PIDSIFT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list, extract, dump, split and check MPEG-2 transport streams")
# The extended description, lines of at most 80 columns: CPack puts the summary before it, a
# space before each line and a "." on each empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pidsift works on MPEG-2 transport stream recordings of digital television
(ISO/IEC 13818-1 packets, as recorded from ISDB and DVB broadcasts).

 * pidsift lists the programs of a recording and copies one program's packets,
   byte for byte, into a new file;
 * pidsift-dump prints the packets, tables and clock references of a recording
   as text or JSON Lines;
 * pidsift-split cuts a recording into one file per program, or at the changes
   of its PMT;
 * pidsift-check reports how whole a recording is, as text, JSON or SVG.

The package also holds their man pages and bash completion, and the static
library the tools are built on, with its headers, a CMake package and a
pkg-config file.")

configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
set(PIDSIFT_PACKAGE_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
set(PIDSIFT_PACKAGE_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/prepare.cmake)
# CPack hands the variables named CPACK_* to the script.
set(CPACK_PIDSIFT_COPYRIGHT ${PIDSIFT_PACKAGE_COPYRIGHT})
set(CPACK_PIDSIFT_CHANGELOG ${PIDSIFT_PACKAGE_CHANGELOG})
set(CPACK_PIDSIFT_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_PIDSIFT_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_PIDSIFT_LIBDIR ${CMAKE_INSTALL_LIBDIR})

include(CPack)
