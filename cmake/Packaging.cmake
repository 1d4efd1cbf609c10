# The Debian package made by cpack (scripts/package.sh): the files of the install rules under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tunesift)
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane Tunesift maintainers <tunesift@quorvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find duplicate MP3 files")
set(CPACK_PACKAGE_DESCRIPTION
    "Tunesift lists the MP3 files in the folders you choose that share a name, a size, a\n"
    "similar name, an ID3v1 title or a similar title, in one colour-shaded list, and sends the\n"
    "copies you tick to the trash. tunesift-cli runs the same search on the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; Qt's platform plugins and Chromaprint
# (on the first acoustic print) are loaded at run time, so no linked library names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libchromaprint1")
include(CPack)
