// The adapter status block (ADAPTER_STATUS and NAME_BUFFER entries) that the
// Linux stand-in of Netbios writes from a node status answer, and the address
// a call name holds.
#pragma once

#include <cstdint>
#include <optional>

#include "common/node_status.h"
#include "platform/posix/os_types.h"

namespace hostsweep::node_status {

// The IPv4 address a call name holds: its text up to the first zero byte,
// trailing spaces removed, in dotted-decimal form. Network byte order.
std::optional<std::uint32_t> CallNameAddress(const os::UCHAR (&callName)[os::NCBNAMSZ]);

struct Written {
  os::UCHAR code;   // NRC_GOODRET, or NRC_INCOMP when not every name fitted
  os::WORD length;  // bytes written
};

// True when `length` bytes at `buffer` hold at least the ADAPTER_STATUS.
bool HoldsAdapterStatus(const os::UCHAR* buffer, os::WORD length);

// Writes `status` as ADAPTER_STATUS and NAME_BUFFER entries into the
// `length` bytes at `buffer`, as many entries as fit; NRC_BUFLEN and nothing
// written when not even the ADAPTER_STATUS fits.
Written WriteAdapterStatus(const NodeStatus& status, os::UCHAR* buffer, os::WORD length);

}  // namespace hostsweep::node_status
