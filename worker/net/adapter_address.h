// The adapter hardware address of a remote host, asked for over NetBIOS.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "platform/os.h"

namespace hostsweep {

// Size of the status buffer and of the record it is copied into: the adapter
// status header and room behind it for the node's name table. The length every
// status request has always passed in ncb_length. A host whose table does not
// fit answers "incomplete" and gets no address, so another size would change
// which hosts show one: fixed, not tuned.
inline constexpr std::size_t kAdapterStatusSize = 680;

// The adapter status record: the status header, then room for the name table.
struct AdapterStatus {
  os::ADAPTER_STATUS adapter;
  std::array<unsigned char, kAdapterStatusSize - sizeof(os::ADAPTER_STATUS)> nameTable;
};
static_assert(sizeof(AdapterStatus) == kAdapterStatusSize);

// The call name: the text and one zero byte, space-padded to 16 bytes or cut
// to its first 16.
std::array<os::UCHAR, os::NCBNAMSZ> CallName(const std::string& text);

// Six bytes as "XX-XX-XX-XX-XX-XX".
std::string FormatAdapterAddress(const os::UCHAR (&bytes)[6]);

// The host's adapter address text, or the empty text on any failure, a
// Failure raised on the way included. Anything else (running out of memory)
// reaches the caller.
std::string QueryAdapterAddress(const std::string& address);

}  // namespace hostsweep
