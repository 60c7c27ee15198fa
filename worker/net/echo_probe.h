// The echo probe: is the host at an address alive, and how far away is it?
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/os.h"

namespace hostsweep {

// ProbeHost's answer when no echo reply came back.
inline constexpr const char* kNoReply = "---";
// SendEcho's status when the address is rejected or the request fails.
inline constexpr std::int32_t kEchoFailed = -1;
inline constexpr std::int32_t kEchoTimeoutMs = 1000;
// The reply buffer passed to IcmpSendEcho: the 28-byte reply header in its
// 32-bit layout and a 32000-byte data area behind it for the echoed payload
// and any options. The size is part of every call the worker makes and what
// the platform code may fill; it is fixed, not tuned.
inline constexpr std::size_t kEchoReplySize = 32028;
// 32 bytes of 0x41.
inline constexpr const char* kEchoPayload = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

// The reply buffer handed to IcmpSendEcho: a reply header, then room for the
// echoed data and options. Every request starts from what the last one left.
struct EchoReply {
  alignas(os::ICMP_ECHO_REPLY) std::array<unsigned char, kEchoReplySize> bytes;
  [[nodiscard]] os::ICMP_ECHO_REPLY Header() const;
};

// One echo request to the address (spaces around it removed). Returns the
// round-trip time in milliseconds as text and sets `ttl`, or returns kNoReply
// and leaves `ttl` as it was.
std::string ProbeHost(std::string address, std::int16_t& ttl);

// One echo request through the ICMP functions. Returns the reply's status: 0
// for an echo reply, non-zero when none came back, kEchoFailed when the address
// text is rejected or the request could not be made, a Failure included.
// Anything else (running out of memory) reaches the caller.
std::int32_t SendEcho(const std::string& address, const std::string& payload, EchoReply& reply,
                      std::int32_t timeoutMs);

}  // namespace hostsweep
