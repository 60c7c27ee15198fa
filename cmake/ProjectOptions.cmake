# Warnings and sanitizers for the project's own targets.
function(hostsweep_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(HOSTSWEEP_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # <windows.h> without the rarely used headers, and without the min and max
  # macros that would break std::min and std::max.
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
  # GCC 12 at -O3 (Release) takes `"text" + std::string(...)` for an
  # overlapping copy (GCC bug 105651, fixed in 13): a false -Wrestrict on
  # ordinary code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-Wno-restrict>)
  endif()
  # A unity build includes each source file into one: GCC then takes a
  # file's own struct whose member's type sits in its unnamed namespace for
  # a header's, which it is not (each file is still compiled once).
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()

if(HOSTSWEEP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz preset instruments every library for libFuzzer's coverage; only the
# fuzz targets link its driver.
if(HOSTSWEEP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "libFuzzer needs clang; the fuzz preset sets clang++")
  endif()
  add_compile_options(-g -O1 -fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
