# zlib: the kivmod tool checks the sums of backup data files that it reads offline.
find_package(ZLIB REQUIRED)
