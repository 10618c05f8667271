# A Debian package through CPack: configure with -DCMAKE_INSTALL_PREFIX=/usr
# and run cpack in the build folder (scripts/package.sh does both).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorland)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Vorland developers <vorland@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for BIG archives")
# CPack puts the summary first and indents each line of this text itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vorland opens BIG archives, unpacking them when the whole file is
Refp-compressed, browses their folders in a table and previews the entries:
INI and CSV files as text, XML with coloured markup, TrueType fonts as a
sample sheet, and PNG, TGA and TPI images as pictures.
.
vorland-cli lists, extracts, changes, renders, converts, packs and
compresses from scripts. A Qt image plug-in lets every Qt program open TPI
pictures, and a thumbnailer draws TPI pictures and BIG archives in file
managers.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/vorland")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# fusermount3, for vorland-cli mount by users other than root.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fuse3)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
