// The hosts a watch holds present, looked up as a frame heard between sweeps
// needs them: who holds an address, and whether a MAC is there already.
#pragma once

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

#include "controller/history/earlier_results.h"

namespace hostsweep::controller {

class PresentHosts {
 public:
  PresentHosts() = default;
  explicit PresentHosts(const std::vector<KnownHost>& known);
  // The MAC the present host at `address` answered with.
  [[nodiscard]] std::optional<MacAddress> HolderOf(Address address) const;
  // The index in `known` of the present host with `mac`.
  [[nodiscard]] std::optional<std::size_t> RecordOf(const MacAddress& mac) const;

 private:
  struct MacHash {
    std::size_t operator()(const MacAddress& mac) const;
  };
  std::unordered_map<Address, MacAddress> holders_;
  std::unordered_map<MacAddress, std::size_t, MacHash> records_;
};

}  // namespace hostsweep::controller
