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

# Every test runs in namespaces of its own (scripts/isolated.sh): its own loopback,
# process list and /tmp, so tests of every tree run side by side. Under Wine each test
# gets a copy-on-write view of the tree's prefix, made once by the prefix fixture, and
# a wineserver of its own. A 64-bit tree runs under Debian's 64-bit loader, which works
# where the kernel runs no 32-bit programs.
set(TOVEL_ISOLATE bash "${CMAKE_SOURCE_DIR}/scripts/isolated.sh")
set(TOVEL_WINE "")
set(TOVEL_TEST_ENV "")
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TOVEL_WINE_ARCH win64)
    set(TOVEL_WINE /usr/lib/wine/wine64)
  else()
    set(TOVEL_WINE_ARCH win32)
    set(TOVEL_WINE wine)
  endif()
  set(TOVEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(TOVEL_TEST_ENV "WINEPREFIX=${TOVEL_WINEPREFIX};WINEARCH=${TOVEL_WINE_ARCH};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;TOVEL_WINE=${TOVEL_WINE}")
  add_test(NAME ${TOVEL_TEST_PREFIX}.wine.prefix
           COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-session.sh" prepare "${TOVEL_WINEPREFIX}" ${TOVEL_WINE_ARCH})
  set_tests_properties(${TOVEL_TEST_PREFIX}.wine.prefix PROPERTIES FIXTURES_SETUP wine_${TOVEL_TEST_PREFIX})
endif()

# Applies what every test of this tree needs (the Wine prefix and its environment).
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
  # GoogleTest's header is most of each test file's compile time, in every tree.
  target_precompile_headers(${name}_test PRIVATE <gtest/gtest.h>)
  add_test(NAME ${TOVEL_TEST_PREFIX}.unit.${name} COMMAND ${TOVEL_ISOLATE} ${TOVEL_WINE} $<TARGET_FILE:${name}_test>)
  tovel_test_properties(${TOVEL_TEST_PREFIX}.unit.${name})
endfunction()
