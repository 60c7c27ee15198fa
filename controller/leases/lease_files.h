// The lease files a sweep reads (--leases), each read again only once it has
// changed (its time or size), so that a watch costs one read per change.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "controller/leases/lease_file.h"

namespace hostsweep::controller {

// A server's lease file for a large network stays far below this.
inline constexpr std::size_t kMostLeaseFileBytes = std::size_t{64} << 20U;

class LeaseFiles {
 public:
  // Reads every file: one that cannot be read at all (missing, not a regular
  // file, too large) throws UsageError, as other files the user names do; one
  // whose content is refused is said on `diagnostics`, by line, and the
  // sweep goes on without its leases.
  LeaseFiles(const std::vector<std::string>& paths, std::ostream& diagnostics);

  // Reads again each file that changed since it was last read; one that can
  // no longer be read, or is refused, is said and left out until it changes.
  void Refresh();

  // The lease of `address` current at `now` in any file, the one that ends
  // last where several are.
  [[nodiscard]] std::optional<Lease> CurrentLease(Address address, std::int64_t now) const;

 private:
  struct Stamp {
    std::filesystem::file_time_type written{};
    std::uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
  };
  struct File {
    std::string path;
    std::optional<Stamp> read{};  // as last read, whether its content was taken or refused
    std::unordered_map<Address, Lease> leases{};  // each address's last lease
  };

  // Reads `file` afresh; at the start, one that cannot be read throws.
  void Read(File& file, bool atStart);

  std::vector<File> files_;
  std::ostream& diagnostics_;
};

}  // namespace hostsweep::controller
