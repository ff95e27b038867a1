# 64-bit ARM (Debian arm64): scripts/setup arm64 installs what it needs.
set(CAMWATCH_CROSS_TRIPLET aarch64-linux-gnu)
set(CAMWATCH_CROSS_CPU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
