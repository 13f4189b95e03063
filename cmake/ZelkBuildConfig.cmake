# Checks and escaping for the values the build configuration pastes into
# string literals (platform/buildconfig.h.in).
#
# Run as a script, it checks one server and stops with the same message:
#   cmake -DZELK_CHECK_SERVER=VALUE -P cmake/ZelkBuildConfig.cmake

# A server is a host name, an IPv4 address or a bracketed IPv6 address, with
# an optional port: anything else would end up inside the update URL.
function(zelk_check_server name value)
  if(value STREQUAL "")
    return()
  endif()
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  set(server_re "^(${label}(\\.${label})*|\\[[0-9A-Fa-f:.]+\\])(:[0-9]+)?$")
  if(NOT value MATCHES "${server_re}")
    message(FATAL_ERROR "${name} is \"${value}\": an update server must be host[:port], "
      "for example example.org or 127.0.0.1:8080, without a scheme or a path")
  endif()
  if(value MATCHES ":([0-9]+)$")
    if(CMAKE_MATCH_1 GREATER 65535 OR CMAKE_MATCH_1 EQUAL 0)
      message(FATAL_ERROR "${name} is \"${value}\": the port must be 1 to 65535")
    endif()
  endif()
endfunction()

# `value` as the inside of a C string literal: what would end it early escaped.
function(zelk_c_literal out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ZELK_CHECK_SERVER)
  zelk_check_server(ZELK_CHECK_SERVER "${ZELK_CHECK_SERVER}")
endif()
