// The system's own wording for an error code, for failure descriptions.
#pragma once

#include <windows.h>

#include <string>

namespace hostsweep {

// "<system text> (error <code>)", or just "error <code>" when the system has no
// text for it.
std::string SystemMessage(DWORD error);

}  // namespace hostsweep
