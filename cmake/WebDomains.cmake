# The service's two web domains whose pages may call the helper, fixed when the
# program is configured: TOVEL_WEB_DOMAIN_SUFFIX_1 and _2 from the build environment.
# Each is a suffix that begins with a dot, so only names below the domain match.
# Defines TOVEL_WEB_DOMAINS_DIR, the folder of the generated web_domains.h.

function(tovel_web_domain_suffix var default)
  if(DEFINED ENV{${var}})
    set(value "$ENV{${var}}")
  else()
    set(value "${default}")
  endif()
  if(NOT value MATCHES "^\\.")
    message(FATAL_ERROR "${var} must begin with a dot (for example \".example.com\"); it is \"${value}\"")
  endif()
  if(NOT value MATCHES "^(\\.[A-Za-z0-9-]+)+$")
    message(FATAL_ERROR "${var} must be a dot followed by a domain name (letters, digits, '-' and '.'); it is \"${value}\"")
  endif()
  set(${var}_LITERAL "\"${value}\"" PARENT_SCOPE)
endfunction()

tovel_web_domain_suffix(TOVEL_WEB_DOMAIN_SUFFIX_1 ".tovelgames.example")
tovel_web_domain_suffix(TOVEL_WEB_DOMAIN_SUFFIX_2 ".marbleplay.example")

set(TOVEL_WEB_DOMAINS_DIR "${CMAKE_BINARY_DIR}/generated/web")
file(CONFIGURE OUTPUT "${TOVEL_WEB_DOMAINS_DIR}/web_domains.h" CONTENT
"// Generated at configure time from the build environment; do not edit.
#pragma once
#define TOVEL_WEB_DOMAIN_SUFFIX_1 @TOVEL_WEB_DOMAIN_SUFFIX_1_LITERAL@
#define TOVEL_WEB_DOMAIN_SUFFIX_2 @TOVEL_WEB_DOMAIN_SUFFIX_2_LITERAL@
" @ONLY)
