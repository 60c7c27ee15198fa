// Host names given as targets, looked up through the system's resolver (the
// hosts file, DNS, whatever the machine is set to ask): one platform half each.
#pragma once

#include <optional>
#include <string>

#include "controller/base/address.h"

namespace hostsweep::controller {

// A name's IPv4 address, or why it has none, in words a message can quote.
struct HostLookup {
  std::optional<Address> address;
  std::string failure;
};

// The first IPv4 address the resolver gives for `name`, as ping and nmap
// take it.
HostLookup LookUpHostName(const std::string& name);

}  // namespace hostsweep::controller
