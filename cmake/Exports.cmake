# The one export list (src/boundary/exports.txt) made into what each linker reads: a GNU
# version script (KIVMOD_VERSION_SCRIPT) and a Windows module definition file (KIVMOD_DEF_FILE).
# Both are rewritten at configure time, and only when their content changes.
set(KIVMOD_EXPORT_LIST ${CMAKE_SOURCE_DIR}/src/boundary/exports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KIVMOD_EXPORT_LIST})

file(STRINGS ${KIVMOD_EXPORT_LIST} _kivmod_export_lines)
set(_kivmod_script_names "")
set(_kivmod_def_names "")
foreach(_line IN LISTS _kivmod_export_lines)
  string(REGEX REPLACE "#.*" "" _line "${_line}")
  string(STRIP "${_line}" _line)
  if(_line STREQUAL "")
    continue()
  endif()
  if(NOT _line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(FATAL_ERROR "${KIVMOD_EXPORT_LIST}: not a name: '${_line}'")
  endif()
  string(APPEND _kivmod_script_names "    ${_line};\n")
  string(APPEND _kivmod_def_names "  ${_line}\n")
endforeach()

set(KIVMOD_VERSION_SCRIPT ${CMAKE_BINARY_DIR}/kivmod.version)
set(KIVMOD_DEF_FILE ${CMAKE_BINARY_DIR}/Kivmod.def)
file(CONFIGURE OUTPUT ${KIVMOD_VERSION_SCRIPT} @ONLY
  CONTENT "{\n  global:\n${_kivmod_script_names}  local:\n    *;\n};\n")
file(CONFIGURE OUTPUT ${KIVMOD_DEF_FILE} @ONLY
  CONTENT "LIBRARY Kivmod\nEXPORTS\n${_kivmod_def_names}")
