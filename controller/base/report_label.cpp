#include "controller/base/report_label.h"

#include <charconv>

namespace hostsweep::controller {
namespace {

constexpr char kLabelPrefix = 'h';

}  // namespace

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

}  // namespace hostsweep::controller
