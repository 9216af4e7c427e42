# Unit tests (GoogleTest) and the Wine session that the Windows tests run in.
#
# Every test of this tree is named "<prefix>.<kind>.<name>" so that the trees of
# several builds can run in one ctest call.

if(WIN32)
  # Debian ships GoogleTest as sources: build them with the cross compiler.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # mingw's win32 thread model has no std::mutex, which GoogleTest's Notification uses.
  target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest_win32_notification.h")
else()
  find_package(GTest REQUIRED)
endif()

# Each Windows test run has its own Wine prefix in the build tree, kept warm by a
# persistent wineserver for the whole run (a cold start costs seconds).
set(TOVEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(TOVEL_TEST_ENV "")
if(WIN32)
  set(TOVEL_TEST_ENV "WINEPREFIX=${TOVEL_WINEPREFIX};WINEARCH=win32;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
  add_test(NAME ${TOVEL_TEST_PREFIX}.wine.start
           COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-session.sh" start "${TOVEL_WINEPREFIX}")
  add_test(NAME ${TOVEL_TEST_PREFIX}.wine.stop
           COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-session.sh" stop "${TOVEL_WINEPREFIX}")
  set_tests_properties(${TOVEL_TEST_PREFIX}.wine.start PROPERTIES FIXTURES_SETUP wine_${TOVEL_TEST_PREFIX})
  set_tests_properties(${TOVEL_TEST_PREFIX}.wine.stop PROPERTIES FIXTURES_CLEANUP wine_${TOVEL_TEST_PREFIX})
endif()

# Applies what every test of this tree needs (the Wine session and its environment).
function(tovel_test_properties test)
  if(WIN32)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine_${TOVEL_TEST_PREFIX})
  endif()
  if(TOVEL_TEST_ENV)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "${TOVEL_TEST_ENV}")
  endif()
endfunction()

# tovel_unit_test(<name> SOURCES <files...> LIBS <targets...>)
function(tovel_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name}_test ${T_SOURCES})
  target_link_libraries(${name}_test PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${TOVEL_TEST_PREFIX}.unit.${name} COMMAND ${name}_test)
  tovel_test_properties(${TOVEL_TEST_PREFIX}.unit.${name})
endfunction()
