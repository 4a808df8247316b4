# TagLib (Debian: libtag1-dev): the simulated phone reads the tags of the audio files it
# serves for its sound list. Include after the library targets are defined.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)
target_link_libraries(kivmod_objects PUBLIC PkgConfig::TAGLIB)
target_link_libraries(kivmod_core PUBLIC PkgConfig::TAGLIB)
target_link_libraries(kivmod PRIVATE PkgConfig::TAGLIB)
