// Reading the neighbour table's rtnetlink dump, apart from the socket so that
// it can be checked from canned bytes.
#pragma once

#include <span>
#include <vector>

#include "controller/link_layer.h"

namespace hostsweep::controller {

// Adds the usable IPv4 entries of one dump datagram (aligned as a netlink
// message) to `entries`; true once the datagram holds the dump's end. An
// error message from the kernel throws SystemError; malformed messages and
// attributes are passed over.
bool ReadNeighbourDatagram(std::span<const char> datagram, std::vector<NeighbourEntry>& entries);

}  // namespace hostsweep::controller
