# Windows DLL for 32-bit hosts, with mingw-w64.
set(KIVMOD_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
