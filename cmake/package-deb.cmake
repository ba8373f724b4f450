# A .deb for Debian and Ubuntu users, from the install rules (the window program, the
# terminal end and its manual page, the menu entry, the icons and the AppStream data):
#   cmake -DCMAKE_INSTALL_PREFIX=/usr ... && cmake --build ... && cpack -G DEB
# scripts/package-deb.sh does those steps. The package's dependencies come from the
# programs' own libraries (dpkg-shlibdeps), so they fit the system it was built on.
if(WIN32)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirka)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ミルカ開発チーム <mirka@example.org>")
set(CPACK_PACKAGE_VENDOR "ミルカ開発チーム")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/mirka/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-to-one chat and file transfer")
set(CPACK_PACKAGE_DESCRIPTION
    "Mirka links two computers over one TCP connection: one side waits on a
port, the other connects. Both sides then exchange chat lines, short status
texts and files and folders, several at a time, with pause, resume and
cancel, plain or over a private link that a shared passphrase opens.
.
This package holds the window program (mirka) and the terminal end (mirka-cli),
which sends and receives from scripts and over ssh.")
set(CPACK_STRIP_FILES ON)

include(GNUInstallDirs)
# The window program's manual page (the terminal end installs its own).
install(FILES ${PROJECT_SOURCE_DIR}/docs/mirka.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What Debian expects of any package beyond the install rules (its copyright notice and
# changelog, manual pages compressed) is added to the staged tree just before it is packed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-deb-stage.cmake)

include(CPack)
