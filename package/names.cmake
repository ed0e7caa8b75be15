# Reads the names of package/names.h into variables ORVAN_NAME_<name without k>, e.g.
# ORVAN_NAME_LauncherName, so that what is built from CMake (the script) uses the same names.
function(orvan_package_names)
  file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/names.h lines
       REGEX "^inline constexpr std::string_view k[A-Za-z]+ = \"[^\"]*\";$")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^inline constexpr std::string_view k([A-Za-z]+) = \"([^\"]*)\";$" "\\1;\\2" pair "${line}")
    list(GET pair 0 name)
    list(GET pair 1 value)
    set(ORVAN_NAME_${name} "${value}" PARENT_SCOPE)
  endforeach()
endfunction()
