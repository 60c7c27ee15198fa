// The neighbour table from iphlpapi: GetIpNetTable2's IPv4 rows.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include "controller/system/neighbour_table.h"

#include <cstring>
#include <memory>

#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {

std::chrono::milliseconds NeighbourAgeGrain() { return std::chrono::milliseconds{0}; }

// Windows sets its table no limit a sweep has to mind (NeighbourTableSize).
NeighbourTableLoad ReadNeighbourTableLoad() { return {}; }
std::optional<std::uint64_t> ReadNeighbourTableOverflows() { return std::nullopt; }

std::vector<NeighbourEntry> ReadNeighbourTable() {
  MIB_IPNET_TABLE2* table = nullptr;
  const DWORD status = ::GetIpNetTable2(AF_INET, &table);
  if (status != NO_ERROR) {
    throw SystemError("cannot read the neighbour table: " + SystemMessage(status));
  }
  const std::unique_ptr<MIB_IPNET_TABLE2, decltype(&::FreeMibTable)> owner(table, ::FreeMibTable);
  std::vector<NeighbourEntry> entries;
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IPNET_ROW2& row = table->Table[i];
    // Resolved entries only; incomplete and unreachable ones have no address.
    const bool usable = row.State == NlnsReachable || row.State == NlnsStale ||
                        row.State == NlnsDelay || row.State == NlnsProbe ||
                        row.State == NlnsPermanent;
    NeighbourEntry entry;
    if (!usable || row.PhysicalAddressLength != entry.mac.size()) {
      continue;
    }
    entry.address = ntohl(row.Address.Ipv4.sin_addr.s_addr);
    std::memcpy(entry.mac.data(), row.PhysicalAddress, entry.mac.size());
    entry.reachable = row.State == NlnsReachable;
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace hostsweep::controller
