#include "controller/sweep/batches.h"

#include <algorithm>
#include <charconv>

#include "common/request_line.h"

namespace hostsweep::controller {
namespace {

constexpr char kLabelPrefix = 'h';

}  // namespace

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

std::string LabelOf(std::size_t position) { return kLabelPrefix + std::to_string(position); }

std::optional<std::size_t> PositionOfLabel(std::string_view label) {
  if (label.size() < 2 || label.front() != kLabelPrefix) {
    return std::nullopt;
  }
  std::size_t position = 0;
  const auto* end = label.data() + label.size();
  const auto [rest, error] = std::from_chars(label.data() + 1, end, position);
  if (error != std::errc{} || rest != end || LabelOf(position) != label) {
    return std::nullopt;
  }
  return position;
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
