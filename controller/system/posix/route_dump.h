// One rtnetlink dump (neighbours, links, addresses), message by message.
#pragma once

#include <linux/netlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "controller/base/address.h"

namespace hostsweep::controller {

// Asks the kernel for every object of `type` (RTM_GETNEIGH, RTM_GETLINK,
// RTM_GETADDR) of `family` and hands each answer to `take`. Throws
// SystemError "cannot read <what>: ..." when the kernel refuses or fails.
void DumpRoute(std::uint16_t type, const std::string& what,
               const std::function<void(const nlmsghdr&)>& take, unsigned char family = AF_INET);

// Each attribute (type, payload) of a message whose fixed header is `fixed`
// bytes long.
void ForEachAttribute(
    const nlmsghdr& header, std::size_t fixed,
    const std::function<void(unsigned short, const unsigned char*, std::size_t)>& take);

// An IPv4 address attribute's payload, if it is one.
std::optional<Address> Ipv4Of(const unsigned char* data, std::size_t size);

}  // namespace hostsweep::controller
