# Run by CPack on the staged tree before packing the .deb (CPACK_PRE_BUILD_SCRIPTS).
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT EXISTS "${root}/usr/share")
    # CPack stages under <tmp>/<package name> for some generators.
    file(GLOB root LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
endif()
set(share "${root}/usr/share")
if(NOT EXISTS "${share}")
    message(FATAL_ERROR "package-deb: no usr/share under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()

# Manual pages compressed, as man-db and Debian's policy expect them.
file(GLOB_RECURSE pages "${share}/man/*.[1-9]")
foreach(page ${pages})
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(doc "${share}/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(WRITE "${doc}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: 2026 ${CPACK_PACKAGE_VENDOR}
License: proprietary
 All rights reserved by the authors.
")
# The date is the build's (or SOURCE_DATE_EPOCH's, for a build that repeats byte for byte).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog.Debian"
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) unstable; urgency=medium

  * Built from the project's own tree.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
execute_process(COMMAND gzip -9nf "${doc}/changelog.Debian" COMMAND_ERROR_IS_FATAL ANY)
