# 32-bit ARM with hardware floating point (Debian armhf): scripts/setup armhf
# installs what it needs.
set(CAMWATCH_CROSS_TRIPLET arm-linux-gnueabihf)
set(CAMWATCH_CROSS_CPU arm)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
