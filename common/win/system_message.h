// The system's own wording for an error code, for failure descriptions.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace hostsweep {

// "<system text> (error <code>)", or just "error <code>" when the system has no
// text for it.
std::string SystemMessage(DWORD error);

}  // namespace hostsweep
