# Compiler settings, the Boost headers and the platform split shared by every target.

add_compile_options(-Wall -Wextra)
# TOVEL_SANITIZE: ON for AddressSanitizer + UndefinedBehaviorSanitizer, "thread" for
# ThreadSanitizer. TOVEL_FUZZ instruments every library for libFuzzer (clang); only the
# fuzz targets link libFuzzer's main.
if(TOVEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TOVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TOVEL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Unicode entry points and wide Win32 calls; a static program that needs no DLL beside it.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  add_link_options(-static)
  # -I/usr/include would pull the Linux C headers into the cross build, so the
  # Boost headers come in through a folder that holds only them.
  set(TOVEL_BOOST_INCLUDE "${CMAKE_BINARY_DIR}/boost-include")
  if(NOT EXISTS "${TOVEL_BOOST_INCLUDE}/boost")
    file(MAKE_DIRECTORY "${TOVEL_BOOST_INCLUDE}")
    file(CREATE_LINK /usr/include/boost "${TOVEL_BOOST_INCLUDE}/boost" SYMBOLIC)
  endif()
  add_library(tovel_boost INTERFACE)
  target_include_directories(tovel_boost SYSTEM INTERFACE "${TOVEL_BOOST_INCLUDE}")
  target_link_libraries(tovel_boost INTERFACE ws2_32 mswsock)
  set(TOVEL_THREADS "")
else()
  find_package(Boost 1.74 REQUIRED)
  find_package(Threads REQUIRED)
  add_library(tovel_boost INTERFACE)
  target_link_libraries(tovel_boost INTERFACE Boost::headers Threads::Threads)
  set(TOVEL_THREADS Threads::Threads)
endif()
target_compile_definitions(tovel_boost INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_ERROR_CODE_HEADER_ONLY)

# tovel_platform_sources(<target> <stem>...): adds <stem>_win32.cpp or <stem>_posix.cpp.
function(tovel_platform_sources target)
  foreach(stem IN LISTS ARGN)
    target_sources(${target} PRIVATE ${stem}_${TOVEL_PLATFORM}.cpp)
  endforeach()
endfunction()
