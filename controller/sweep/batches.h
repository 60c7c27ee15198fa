// How a sweep's addresses are split into worker batches, and the request line
// that hands a batch to a worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/request_line.h"
#include "controller/base/address.h"

namespace hostsweep::controller {

// A worker takes at most three addresses.
inline constexpr std::size_t kMostSlots = kRequestSlots;

struct Batch {
  // Positions in the sweep's address list; a slot's label names its position.
  std::size_t first;
  std::size_t count;
};

// One slot per batch while every batch can run at once (a small sweep then
// takes about two echo time-outs); more, up to three, as the sweep outgrows
// `jobs`, so that a large sweep starts fewer processes.
std::size_t ChooseBatchSize(std::size_t addressCount, std::size_t jobs);

// Consecutive positions, `batchSize` at most per batch; no batch holds a
// position `skip` names (those that need no worker).
std::vector<Batch> SplitIntoBatches(std::size_t addressCount, std::size_t batchSize,
                                    const std::function<bool(std::size_t)>& skip = {});

// "handle,address,label,...,pause" with the unused slots left empty.
std::string ProbeRequestLine(std::int32_t handle, const std::vector<Address>& addresses,
                             const Batch& batch, const std::string& pause);
// The name-only request for one address: "handle,0,address".
std::string NameRequestLine(std::int32_t handle, Address address);

}  // namespace hostsweep::controller
