// Reverse name lookup of an IPv4 address through the system's resolver.
#pragma once

#include <string>

namespace hostsweep {

// Starts the socket library (version 1.1); true when it started.
bool StartSockets();
// Releases one start of the socket library.
void StopSockets();

// The host name the resolver gives for the address text, unchanged, or the
// empty text when there is none or a Failure is raised on the way. Anything
// else (running out of memory) reaches the caller.
std::string LookupHostName(const std::string& address);

}  // namespace hostsweep
