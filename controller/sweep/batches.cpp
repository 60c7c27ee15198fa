#include "controller/sweep/batches.h"

#include <algorithm>

#include "common/request_line.h"
#include "controller/base/report_label.h"

namespace hostsweep::controller {
std::size_t ChooseBatchSize(std::size_t addressCount, std::size_t jobs) {
  const std::size_t workers = std::max<std::size_t>(jobs, 1);
  return std::clamp<std::size_t>((addressCount + workers - 1) / workers, 1, kMostSlots);
}

std::vector<Batch> SplitIntoBatches(std::size_t addressCount, std::size_t batchSize,
                                    const std::function<bool(std::size_t)>& skip) {
  const auto skipped = [&skip](std::size_t position) { return skip && skip(position); };
  std::vector<Batch> batches;
  for (std::size_t position = 0; position < addressCount;) {
    if (skipped(position)) {
      ++position;
      continue;
    }
    Batch batch{position, 0};
    while (position < addressCount && batch.count < batchSize && !skipped(position)) {
      ++batch.count;
      ++position;
    }
    batches.push_back(batch);
  }
  return batches;
}

std::string ProbeRequestLine(std::int32_t handle, const std::vector<Address>& addresses,
                             const Batch& batch, const std::string& pause) {
  std::vector<SlotRequest> slots;
  for (std::size_t position = batch.first; position < batch.first + batch.count; ++position) {
    slots.push_back({FormatAddress(addresses[position]), LabelOf(position)});
  }
  return FormatRequestLine(std::to_string(handle), slots, pause);
}

std::string NameRequestLine(std::int32_t handle, Address address) {
  return FormatNameRequest(std::to_string(handle), FormatAddress(address));
}

}  // namespace hostsweep::controller
