# CLI11 and nlohmann-json for a cross build. Both are header-only and Debian
# installs them for the build machine only; the cross toolchain finds neither.
# Their two folders are linked into a folder of the build tree, so that the
# target's include path gains exactly these headers and none of the build
# machine's other headers.
set(HOSTSWEEP_HOST_INCLUDE /usr/include CACHE PATH "Where the build machine keeps CLI/ and nlohmann/")
set(host_header_folder ${CMAKE_BINARY_DIR}/host-headers)

function(hostsweep_host_header_library target folder)
  if(NOT EXISTS ${HOSTSWEEP_HOST_INCLUDE}/${folder})
    message(FATAL_ERROR "${HOSTSWEEP_HOST_INCLUDE}/${folder} is missing: scripts/install-deps installs it")
  endif()
  file(MAKE_DIRECTORY ${host_header_folder})
  file(CREATE_LINK ${HOSTSWEEP_HOST_INCLUDE}/${folder} ${host_header_folder}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${host_header_folder})
endfunction()

hostsweep_host_header_library(CLI11::CLI11 CLI)
hostsweep_host_header_library(nlohmann_json::nlohmann_json nlohmann)
