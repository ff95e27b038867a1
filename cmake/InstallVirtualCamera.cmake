# Installs the virtual camera for users without a camera: the driver in a
# loading folder of its own, never the system's driver folder, so that other
# OpenNI2 programs keep seeing only real cameras; the demo scenario; and
# camwatch-vcam, which runs a program with that folder first in its library
# path. The Debian package camwatch-vcam ships these, apart from camwatch, so
# its data folder is named after it.
include(GNUInstallDirs)

set(CAMWATCH_VCAM_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/camwatch/vcam)
set(CAMWATCH_DEMO_SCENARIO ${CMAKE_INSTALL_FULL_DATADIR}/camwatch-vcam/demo.vcam)

install(TARGETS vcam LIBRARY DESTINATION ${CAMWATCH_VCAM_DIR}/OpenNI2/Drivers)

# The library looks for drivers beside the file it was loaded from, so the
# folder holds a link to the system library under its soname, not to the
# versioned file a library upgrade would remove.
get_filename_component(openni2_library_dir ${OPENNI2_LIBRARY_FILE} DIRECTORY)
set(openni2_soname_link ${CMAKE_CURRENT_BINARY_DIR}/vcam-install/libOpenNI2.so.0)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/vcam-install)
file(CREATE_LINK ${openni2_library_dir}/libOpenNI2.so.0 ${openni2_soname_link} SYMBOLIC)
install(FILES ${openni2_soname_link} DESTINATION ${CAMWATCH_VCAM_DIR})

install(FILES ${PROJECT_SOURCE_DIR}/tools/vcam/scenarios/demo.vcam
        DESTINATION ${CMAKE_INSTALL_DATADIR}/camwatch-vcam)

# Executable in the build tree too, where the tests run it.
configure_file(${PROJECT_SOURCE_DIR}/packaging/camwatch-vcam.in
               ${CMAKE_CURRENT_BINARY_DIR}/camwatch-vcam @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/camwatch-vcam DESTINATION ${CMAKE_INSTALL_BINDIR})
