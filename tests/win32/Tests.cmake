# The Windows tests, cross-built with the library's toolchain and run by ctest under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR): GoogleTest from Debian's sources built with the same
# compiler, the unit and behaviour tests that need no simulated phone (the phone scripted
# behind the plugged link), the Windows-only tests in tests/win32, and a C host that loads
# Kivmod.dll as phone suites do.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine/run.sh)
endif()
set(KIVMOD_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian: googletest)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KIVMOD_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

file(GLOB KIVMOD_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*_test.cpp)
set(KIVMOD_PORTABLE_TESTS backup_file codec file_ops frame session tree xml)
list(TRANSFORM KIVMOD_PORTABLE_TESTS REPLACE "(.+)" "${CMAKE_CURRENT_SOURCE_DIR}/\\1_test.cpp")
add_executable(kivmod_tests ${KIVMOD_PORTABLE_TESTS} ${KIVMOD_WIN32_TEST_SOURCES})
target_include_directories(kivmod_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(kivmod_tests PRIVATE kivmod_core gtest gmock gtest_main)
gtest_discover_tests(kivmod_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 120)

# The DLL seen by a C host through LoadLibraryW and GetProcAddress, with a real window.
add_executable(kivmod_host_win32 ${CMAKE_CURRENT_SOURCE_DIR}/host_win32.c)
target_include_directories(kivmod_host_win32 PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(kivmod_host_win32 PRIVATE user32 shell32)
add_dependencies(kivmod_host_win32 kivmod)
add_test(NAME host_win32 COMMAND kivmod_host_win32 $<TARGET_FILE:kivmod>)

# The DLL exports exactly the names of the export list, undecorated, and imports nothing but
# Windows' own DLLs.
add_test(NAME exports COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/win32/check_dll.sh ${CMAKE_OBJDUMP}
  $<TARGET_FILE:kivmod> ${CMAKE_SOURCE_DIR}/src/boundary/exports.txt)

# Across systems: the DLL under Wine over a COM port to the Linux simulated phone, when a
# Linux build's kivmod-phonesim is given (KIVMOD_LINUX_PHONESIM).
set(KIVMOD_LINUX_PHONESIM "" CACHE FILEPATH "The Linux kivmod-phonesim for the end-to-end test")
if(KIVMOD_LINUX_PHONESIM)
  add_test(NAME end_to_end_com_port COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/win32/e2e.sh ${KIVMOD_LINUX_PHONESIM}
    $<TARGET_FILE:kivmod_host_win32> $<TARGET_FILE:kivmod>)
  set_tests_properties(end_to_end_com_port PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()

# The kivmod tool as kivmod.exe beside Kivmod.dll: its version and help, and with the Linux
# simulated phone a listing and a copy each way over TCP.
if(TARGET kivmod-cli)
  add_test(NAME cli_smoke COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/win32/cli_smoke.sh $<TARGET_FILE:kivmod-cli>
    ${KIVMOD_LINUX_PHONESIM})
  set_tests_properties(cli_smoke PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
endif()
