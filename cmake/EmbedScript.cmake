# A page's script, embedded in the program with the hash its content-security
# policy allows it by ('sha256-<base64>'): both are made from the one file at
# configure time, so that the page never carries a script its policy refuses.

function(hostsweep_base64_of_hex hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" length)
  set(text "")
  set(at 0)
  while(at LESS length)
    # Three bytes at a time become four characters; a short last group is
    # padded with '='.
    string(SUBSTRING "${hex}" ${at} 6 group)
    string(LENGTH "${group}" digits)
    math(EXPR characters "${digits} / 2 + 1")
    while(digits LESS 6)
      string(APPEND group "0")
      math(EXPR digits "${digits} + 1")
    endwhile()
    math(EXPR value "0x${group}")
    foreach(shift 18 12 6 0)
      if(characters GREATER 0)
        math(EXPR index "(${value} >> ${shift}) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 character)
        string(APPEND text "${character}")
        math(EXPR characters "${characters} - 1")
      else()
        string(APPEND text "=")
      endif()
    endforeach()
    math(EXPR at "${at} + 6")
  endwhile()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes HEADER from TEMPLATE with @SCRIPT@ and @SCRIPT_HASH@ taken from SCRIPT.
function(hostsweep_embed_script script template header)
  file(READ "${script}" SCRIPT)
  string(SHA256 digest "${SCRIPT}")
  hostsweep_base64_of_hex("${digest}" SCRIPT_HASH)
  configure_file("${template}" "${header}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${script}")
endfunction()

# A known answer (FIPS 180-2's "abc"), so that a fault in the conversion stops
# the build instead of making a page whose script never runs.
string(SHA256 known_digest "abc")
hostsweep_base64_of_hex("${known_digest}" known_base64)
if(NOT known_base64 STREQUAL "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=")
  message(FATAL_ERROR "EmbedScript: base64 of SHA-256(\"abc\") came out as ${known_base64}")
endif()
