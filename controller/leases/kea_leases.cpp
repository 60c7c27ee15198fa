// Kea's memfile lease file (lease4 CSV): a header line naming the columns,
// then one row per change of a lease, so that an address's last row holds.
// A lease is current while its state is 0 ("default") and its expiry time
// (seconds since the epoch) has not passed; a row with no lifetime is a
// deleted lease.
#include <algorithm>
#include <optional>

#include "controller/leases/lease_formats.h"

namespace hostsweep::controller::lease_formats {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos) {
      return fields;
    }
    start = comma + 1;
  }
}

struct Columns {
  std::size_t count = 0;
  std::size_t address = 0;
  std::size_t hwaddr = 0;
  std::size_t validLifetime = 0;
  std::size_t expire = 0;
  std::size_t hostname = 0;
  std::optional<std::size_t> state{};  // older versions have none
};

Columns ColumnsOf(std::string_view header, std::size_t index) {
  const auto names = Fields(header);
  const auto column = [&](std::string_view name) -> std::optional<std::size_t> {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? std::nullopt : std::optional<std::size_t>(found - names.begin());
  };
  const auto needed = [&](std::string_view name) {
    const auto found = column(name);
    if (!found) {
      throw LeaseFileError(index + 1, "Kea's header has no " + std::string(name) + " column");
    }
    return *found;
  };
  return {.count = names.size(),
          .address = needed("address"),
          .hwaddr = needed("hwaddr"),
          .validLifetime = needed("valid_lifetime"),
          .expire = needed("expire"),
          .hostname = needed("hostname"),
          .state = column("state")};
}

}  // namespace

std::vector<Lease> ReadKea(const Lines& lines) {
  std::vector<Lease> leases;
  std::optional<Columns> columns;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (lines[index].empty()) {
      continue;
    }
    if (!columns) {
      columns = ColumnsOf(lines[index], index);
      continue;
    }
    const auto fields = Fields(lines[index]);
    if (fields.size() != columns->count) {
      throw LeaseFileError(index + 1, std::to_string(fields.size()) + " fields, not " +
                                          std::to_string(columns->count));
    }
    if (IsIpv6Text(fields[columns->address])) {
      continue;
    }
    const std::string_view hwaddr = fields[columns->hwaddr];
    const bool deleted = LeaseNumber(fields[columns->validLifetime], "lifetime", index) == 0;
    const bool reclaimed = columns->state && fields[*columns->state] != "0";
    leases.push_back(
        {.address = LeaseAddress(fields[columns->address], index),
         .mac = hwaddr.empty() ? std::nullopt : std::optional<MacAddress>(LeaseMac(hwaddr, index)),
         .hostName = HostNameOf(fields[columns->hostname]),
         .ends = LeaseNumber(fields[columns->expire], "expiry time", index),
         .bound = !deleted && !reclaimed});
  }
  return leases;
}

}  // namespace hostsweep::controller::lease_formats
