# Release packages, made by `cmake --build --preset default --target package` (a .deb) and
# `cmake --build --preset windows --target package` (a zip for Windows).
set(CPACK_PACKAGE_NAME kelp)
set(CPACK_PACKAGE_VENDOR "the kelp developers")
set(CPACK_PACKAGE_CONTACT "kelp developers <kelp@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(package_files ${CMAKE_BINARY_DIR}/package-files)

if(WIN32)
  # kelp.exe with the README, the licence and the manual as text, all with Windows line ends.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelp-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  add_custom_command(OUTPUT ${package_files}/README.txt ${package_files}/LICENSE.txt
                            ${package_files}/kelp.txt
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR} -DOUT=${package_files}
            -P ${CMAKE_SOURCE_DIR}/cmake/windows-texts.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/docs/kelp.1
            ${CMAKE_SOURCE_DIR}/cmake/windows-texts.cmake)
  add_custom_target(package_texts ALL DEPENDS ${package_files}/README.txt)
  install(FILES ${package_files}/README.txt ${package_files}/LICENSE.txt ${package_files}/kelp.txt
          DESTINATION .)
else()
  # /usr/bin/kelp, its manual page, and the README, changelog and copyright in
  # /usr/share/doc/kelp; the libraries it needs are found by dpkg-shlibdeps.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION "kelp unpacks the .img packages and .dat LZSS archives of a
PlayStation 2 game, nested to any depth, into BMPs or indexed PNGs, lists
them, re-imports edited textures byte-exactly and composes overlays.")
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/kelp)
  file(MAKE_DIRECTORY ${package_files})
  string(TIMESTAMP release_date "%a, %d %b %Y 00:00:00 +0000" UTC)
  file(WRITE ${package_files}/changelog
    "kelp (${PROJECT_VERSION}) unstable; urgency=medium\n\n  * Release ${PROJECT_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${release_date}\n")
  file(WRITE ${package_files}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: kelp\n\nFiles: *\nCopyright: 2026 the kelp developers\nLicense: GPL-3+\n"
    " On Debian systems the full text of the GNU General Public License version 3\n"
    " is in /usr/share/common-licenses/GPL-3.\n")
  add_custom_command(OUTPUT ${package_files}/kelp.1.gz ${package_files}/changelog.gz
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/kelp.1 > ${package_files}/kelp.1.gz
    COMMAND gzip -9n -c ${package_files}/changelog > ${package_files}/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/kelp.1 ${package_files}/changelog)
  add_custom_target(package_texts ALL DEPENDS ${package_files}/kelp.1.gz)
  install(FILES ${package_files}/kelp.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${package_files}/copyright
                ${package_files}/changelog.gz DESTINATION ${doc})
endif()
include(CPack)
