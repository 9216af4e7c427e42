# The four target strings are fixed when the program is configured, from the build
# environment. Unset: this build's values. Set but empty: empty (the program then
# refuses to run and says which strings to define).

function(tovel_target_string var default)
  if(DEFINED ENV{${var}})
    set(value "$ENV{${var}}")
  else()
    set(value "${default}")
  endif()
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${var}_LITERAL "\"${value}\"" PARENT_SCOPE)
endfunction()

tovel_target_string(TARGET_PIPE_NAME "marble_gantry")
tovel_target_string(TARGET_EXECUTABLE_NAME "tovel3.exe")
tovel_target_string(TARGET_GAME_ID "MARBLE-GAME")
tovel_target_string(TARGET_GAME_NAME "TOVEL3")

# The game's executable name, for placing the demo game under it.
if(DEFINED ENV{TARGET_EXECUTABLE_NAME} AND NOT "$ENV{TARGET_EXECUTABLE_NAME}" STREQUAL "")
  set(TOVEL_GAME_EXECUTABLE "$ENV{TARGET_EXECUTABLE_NAME}")
else()
  set(TOVEL_GAME_EXECUTABLE "tovel3.exe")
endif()

set(TOVEL_TARGETS_DIR "${CMAKE_BINARY_DIR}/generated/targets")
configure_file("${CMAKE_CURRENT_LIST_DIR}/game_target_values.h.in" "${TOVEL_TARGETS_DIR}/game_target_values.h" @ONLY)

# A second set with an empty game name, for the test build of the helper that must refuse to run.
set(TARGET_GAME_NAME_LITERAL "\"\"")
set(TOVEL_UNTARGETED_DIR "${CMAKE_BINARY_DIR}/generated/untargeted")
configure_file("${CMAKE_CURRENT_LIST_DIR}/game_target_values.h.in" "${TOVEL_UNTARGETED_DIR}/game_target_values.h" @ONLY)
