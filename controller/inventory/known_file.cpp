#include "controller/inventory/known_file.h"

namespace hostsweep::controller {

std::optional<Inventory> KnownFile::Changed() {
  // Stamped before it is read: a change while it is read is read again.
  std::error_code error;
  const Stamp now{.time = std::filesystem::last_write_time(path_, error),
                  .size = error ? 0 : std::filesystem::file_size(path_, error)};
  if (read_ && *read_ == now) {
    return std::nullopt;
  }
  read_ = now;
  return ReadInventory(path_);
}

}  // namespace hostsweep::controller
