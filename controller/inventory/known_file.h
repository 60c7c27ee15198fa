// The --known file as a long run sees it: read again whenever it changed,
// by the dashboard's edits or by the user's hand, so that a watch takes
// either at its next sweep.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "controller/inventory/inventory.h"

namespace hostsweep::controller {

class KnownFile {
 public:
  explicit KnownFile(std::string path) : path_(std::move(path)) {}

  // The inventory, read afresh, when the file's time or size is not what it
  // was at the last read (the first call always reads); none otherwise.
  // Throws UsageError for a file it cannot read, once for each change.
  std::optional<Inventory> Changed();
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  struct Stamp {
    std::filesystem::file_time_type time{};
    std::uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
  };

  std::string path_;
  std::optional<Stamp> read_;
};

}  // namespace hostsweep::controller
