# Windows DLL for 64-bit hosts, with mingw-w64.
set(KIVMOD_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
