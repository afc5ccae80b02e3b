# 32-bit Windows: the release build (see README, "Registry view").
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TRENLIST_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
