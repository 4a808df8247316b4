# zlib: the kivmod tool checks the sums of backup data files that it reads offline.
# On Windows it is linked in (Debian: libz-mingw-w64-dev), so that kivmod.exe needs no zlib1.dll.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
