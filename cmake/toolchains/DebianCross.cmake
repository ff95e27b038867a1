# Cross build for a Debian architecture with its crossbuild-essential package
# and the target's libraries from multiarch; included by the per-architecture
# files beside this one, which set CAMWATCH_CROSS_TRIPLET and
# CAMWATCH_CROSS_CPU. Programs built here run on a PC under qemu-user, which is
# how ctest and the end-to-end suite run them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CAMWATCH_CROSS_CPU})
set(CMAKE_LIBRARY_ARCHITECTURE ${CAMWATCH_CROSS_TRIPLET})
set(CMAKE_CXX_COMPILER ${CAMWATCH_CROSS_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CAMWATCH_CROSS_CPU}-static -L /)

# Only the target's libraries and headers; the build's programs are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# The camera library's .pc file is shared by every architecture and names
# libdir=/usr/lib; the multiarch folder first finds the target's own files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CAMWATCH_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
