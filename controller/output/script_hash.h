// A content-security policy's source for one inline script: its SHA-256
// hash, so that the page allows that script and no other.
#pragma once

#include <string>
#include <string_view>

namespace hostsweep::controller {

// "'sha256-<base64 of the SHA-256 of script>'".
std::string ScriptHashSource(std::string_view script);

}  // namespace hostsweep::controller
