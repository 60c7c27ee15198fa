// Makers of network adapters, from the IEEE registries of assigned address
// blocks (MA-L: 24-bit prefixes, MA-M: 28-bit, MA-S and IAB: 36-bit), as
// Debian's ieee-data package ships them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>

#include "controller/base/mac_address.h"

namespace hostsweep::controller {

class VendorRegistry {
 public:
  // Adds the assignments of one registry in its CSV form ("Registry,Assignment,
  // Organization Name,Organization Address", a header line first). Lines that
  // do not hold a 6, 7 or 9 digit hex assignment and a name are skipped.
  void AddCsv(std::istream& csv);
  // The maker of the longest assigned prefix of `mac`; empty when none is.
  [[nodiscard]] std::string_view Lookup(const MacAddress& mac) const;
  [[nodiscard]] std::size_t Size() const { return makers_.size(); }

 private:
  // Keyed by prefix length in bits and the prefix itself.
  std::unordered_map<std::uint64_t, std::string> makers_;
};

// What the vendor column shows for `mac`: the maker, "(locally administered)"
// for such an address, or empty when the registries do not know it.
inline constexpr std::string_view kLocallyAdministered = "(locally administered)";

// The registries in a folder, read the first time a maker is asked for, so
// that a sweep that finds no adapter address never pays for them.
class LazyVendorRegistry {
 public:
  LazyVendorRegistry(std::filesystem::path folder, std::ostream& diagnostics)
      : folder_(std::move(folder)), diagnostics_(diagnostics) {}
  std::string VendorOf(const MacAddress& mac);

 private:
  std::filesystem::path folder_;
  std::ostream& diagnostics_;
  std::optional<VendorRegistry> registry_;
};

// The registry files of ieee-data, read from `folder`; the count of files read.
// A missing file is skipped; one that is there but unusable (not a regular
// file, too large, unreadable) gets one warning on `diagnostics`.
std::size_t LoadRegistries(const std::filesystem::path& folder, VendorRegistry& registry,
                           std::ostream& diagnostics);

}  // namespace hostsweep::controller
