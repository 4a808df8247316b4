# Installation: the shared library, the public header, the tool and the simulated phone,
# a pkg-config file and a CMake package (imported target kivmod::kivmod).
include(CMakePackageConfigHelpers)

install(TARGETS kivmod EXPORT kivmodTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/kivmod/kivmod.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kivmod)
foreach(tool kivmod-cli kivmod-phonesim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The installed tool finds the library beside its own folder, wherever the prefix lies.
if(TARGET kivmod-cli)
  file(RELATIVE_PATH KIVMOD_BIN_TO_LIB "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(kivmod-cli PROPERTIES INSTALL_RPATH "$ORIGIN/${KIVMOD_BIN_TO_LIB}")
endif()

install(EXPORT kivmodTargets NAMESPACE kivmod:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kivmod)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/kivmodConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kivmodConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kivmod)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kivmodConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kivmodConfig.cmake ${CMAKE_BINARY_DIR}/kivmodConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kivmod)

# The pkg-config file finds the prefix from its own place, so that the installed tree may move.
file(RELATIVE_PATH KIVMOD_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(${CMAKE_SOURCE_DIR}/cmake/kivmod.pc.in ${CMAKE_BINARY_DIR}/kivmod.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kivmod.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A Debian package of the library, the header, the tool and the simulated phone:
# cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivmod)
set(CPACK_PACKAGE_VENDOR "Kivmod")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "work with a mobile phone attached by cable or Bluetooth")
set(CPACK_PACKAGE_CONTACT "Kivmod developers <kivmod@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
