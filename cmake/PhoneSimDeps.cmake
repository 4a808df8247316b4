# The simulated phone checks Java archives with libzip (Debian: libzip-dev) and writes
# received e-mail as MIME files with GMime (Debian: libgmime-3.0-dev). Include after the
# library targets are defined.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(GMIME REQUIRED IMPORTED_TARGET gmime-3.0)

target_link_libraries(kivmod_objects PRIVATE PkgConfig::LIBZIP PkgConfig::GMIME)
target_link_libraries(kivmod_core PUBLIC PkgConfig::LIBZIP PkgConfig::GMIME)
target_link_libraries(kivmod PRIVATE PkgConfig::LIBZIP PkgConfig::GMIME)
