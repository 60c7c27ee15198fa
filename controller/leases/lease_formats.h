// Each lease format's reader, handed the file's lines once they have passed
// the checks every format shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/leases/lease_file.h"

namespace hostsweep::controller::lease_formats {

// The file's lines: index i is line i + 1, as an editor numbers them.
using Lines = std::vector<std::string_view>;

std::vector<Lease> ReadDnsmasq(const Lines& lines);
std::vector<Lease> ReadIsc(const Lines& lines);
std::vector<Lease> ReadKea(const Lines& lines);

// `text` split at runs of spaces and tabs.
std::vector<std::string_view> Words(std::string_view text);

// `name` where it is a host name (letters, digits, '-', '_' and dots, as
// long as DNS allows), without a trailing dot; empty otherwise.
std::string HostNameOf(std::string_view name);

// A count or time in seconds: decimal digits alone; nothing otherwise.
std::optional<std::int64_t> WholeNumber(std::string_view text);
// The same, refused by line as "bad `what`".
std::int64_t LeaseNumber(std::string_view text, std::string_view what, std::size_t index);

// A MAC in a lease, refused by line as every other fault is.
MacAddress LeaseMac(std::string_view text, std::size_t index);
Address LeaseAddress(std::string_view text, std::size_t index);

}  // namespace hostsweep::controller::lease_formats
