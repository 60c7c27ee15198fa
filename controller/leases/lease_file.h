// DHCP servers' lease files (--leases): dnsmasq's, ISC dhcpd's dhcpd.leases
// and Kea's CSV memfile, each told from its content. What a client asked for
// and was given is the client's word, so the files are read strictly: a line
// that is too long, holds binary bytes, or does not read as its format says
// refuses the whole file, by its line number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

// Longer lines are no server's (dhcpd's longest, an escaped option string,
// stays well under).
inline constexpr std::size_t kMostLeaseLineBytes = 4096;

struct Lease {
  Address address = 0;
  std::optional<MacAddress> mac{};
  // The name the client asked for, where it is a host name; empty otherwise.
  std::string hostName{};
  std::optional<std::int64_t> ends{};  // seconds since the epoch; none: never
  // Held for the client: not freed, released, declined or reclaimed.
  bool bound = true;
  bool operator==(const Lease&) const = default;
};

// Current at `now`: bound and not yet ended.
bool IsCurrent(const Lease& lease, std::int64_t now);

class LeaseFileError : public std::runtime_error {
 public:
  LeaseFileError(std::size_t line, const std::string& what)
      : std::runtime_error(std::to_string(line) + ": " + what), line_(line) {}
  [[nodiscard]] std::size_t Line() const { return line_; }

 private:
  std::size_t line_;
};

// Every IPv4 lease `text` holds, in the order written (a later one of an
// address supersedes an earlier); IPv6 leases are passed over. Throws
// LeaseFileError.
std::vector<Lease> ParseLeaseFile(std::string_view text);

}  // namespace hostsweep::controller
