# Puts the package's names, the base URL and the manifest key (MANIFEST_KEY_FILE, a PEM file read
# with the openssl program OPENSSL; none when empty) into the script, checks that the result is
# 7-bit ASCII with line feeds only, writes it out for tests and script authors, and as a C++ byte
# array for the installer.
set(key "")
if(MANIFEST_KEY_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/manifest_key.cmake)
  orvan_manifest_key_text("${MANIFEST_KEY_FILE}" "${OPENSSL}" key error)
  if(error)
    # No script of an earlier key may stay behind looking current.
    file(REMOVE "${SCRIPT}" "${HEADER}")
    message(FATAL_ERROR "ORVAN_MANIFEST_KEY: ${error}")
  endif()
endif()
# Each name of package/names.h stands in the script as a token of its own, kLauncherName as
# @ORVAN_LAUNCHER_NAME@. The names are read here, when the script is built, so that it follows
# names.h without a new configure run.
include(${CMAKE_CURRENT_LIST_DIR}/../../package/names.cmake)
orvan_package_names()
get_cmake_property(variables VARIABLES)
list(FILTER variables INCLUDE REGEX "^ORVAN_NAME_")
file(READ "${SOURCE}" script)
foreach(variable IN LISTS variables)
  string(REGEX REPLACE "^ORVAN_NAME_([A-Za-z0-9]+)$" "\\1" name "${variable}")
  string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" token "${name}")
  string(TOUPPER "ORVAN_${token}" token)
  # The script holds each name in single quotes.
  if("${${variable}}" MATCHES "'")
    file(REMOVE "${SCRIPT}" "${HEADER}")
    message(FATAL_ERROR "package/names.h: k${name} holds a single quote, which the script cannot take")
  endif()
  string(REPLACE "@${token}@" "${${variable}}" script "${script}")
endforeach()
# A token that nothing fills in would reach the installer as text.
string(REGEX MATCHALL "@ORVAN_[A-Z0-9_]+@" unknown "${script}")
list(FILTER unknown EXCLUDE REGEX "^@(ORVAN_BASE_URL|ORVAN_MANIFEST_KEY)@$")
if(unknown)
  list(GET unknown 0 first)
  file(REMOVE "${SCRIPT}" "${HEADER}")
  message(FATAL_ERROR "${SOURCE}: ${first} is no name of package/names.h, nor the base URL or the manifest key")
endif()
string(REPLACE "@ORVAN_BASE_URL@" "${BASE_URL}" script "${script}")
string(REPLACE "@ORVAN_MANIFEST_KEY@" "${key}" script "${script}")
file(WRITE "${SCRIPT}" "${script}")

file(READ "${SCRIPT}" hex HEX)
string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${hex}")
set(stray ${bytes})
list(FILTER stray INCLUDE REGEX "^([89a-f].|0d|00)$")
if(stray)
  # Name the first offending line so the author finds it.
  list(GET stray 0 first)
  list(FIND bytes ${first} offset)
  list(SUBLIST bytes 0 ${offset} before)
  list(FILTER before INCLUDE REGEX "^0a$")
  list(LENGTH before lineFeeds)
  math(EXPR line "${lineFeeds} + 1")
  file(REMOVE "${SCRIPT}")
  message(FATAL_ERROR "${SOURCE}:${line}: byte 0x${first}; the script must be 7-bit ASCII with line feeds only")
endif()

list(LENGTH bytes byteCount)
list(TRANSFORM bytes PREPEND "0x")
list(JOIN bytes "," initializer)
string(REGEX REPLACE "((0x..,){24})" "\\1\n" initializer "${initializer}")
file(WRITE "${HEADER}"
"#pragma once\n// Generated from engine/script/install.ps1.in; do not edit.\n#include <cstddef>\n\n"
"inline constexpr unsigned char kInstallScript[] = {\n${initializer}\n};\n"
"inline constexpr std::size_t kInstallScriptSize = ${byteCount};\n")
