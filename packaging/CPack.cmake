# `cpack -G DEB` in a build tree makes the camwatch Debian package: the program
# and its man page (the test tools have no install rules).
set(CPACK_PACKAGE_NAME camwatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "report the frames and device events of an OpenNI2 depth camera")
set(CPACK_PACKAGE_DESCRIPTION
    "camwatch opens the first camera the OpenNI2 library lists and prints one line\n\
per depth and color frame (timestamp and middle pixel) and per device event,\n\
until a key is pressed.")
set(CPACK_PACKAGE_CONTACT "camwatch team <camwatch@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the library's runtime package, libopenni2-0, with the
# version we linked against, and the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
