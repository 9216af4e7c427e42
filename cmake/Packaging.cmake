# What a release holds: the install target and, for the Windows build, the static
# program with its version resource and manifest, packed into one zip with a short
# text on its switches (cpack --config build/win32/CPackConfig.cmake).

if(WIN32 AND TARGET tovelwebhelper)
  set(TOVEL_MANIFEST "${CMAKE_SOURCE_DIR}/packaging/TovelWebHelper.exe.manifest")
  configure_file("${CMAKE_SOURCE_DIR}/packaging/TovelWebHelper.rc.in" "${CMAKE_BINARY_DIR}/generated/TovelWebHelper.rc" @ONLY)
  target_sources(tovelwebhelper PRIVATE "${CMAKE_BINARY_DIR}/generated/TovelWebHelper.rc")
endif()

if(TARGET tovelwebhelper)
  install(TARGETS tovelwebhelper RUNTIME DESTINATION .)
  install(FILES "${CMAKE_SOURCE_DIR}/packaging/SWITCHES.txt" DESTINATION .)
endif()

set(CPACK_PACKAGE_NAME "TovelWebHelper")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tovel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Connects the game's web page to the running game")
if(WIN32)
  set(CPACK_SYSTEM_NAME "win32")
else()
  set(CPACK_SYSTEM_NAME "linux-${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CPACK_GENERATOR "ZIP")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)
