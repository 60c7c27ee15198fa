// A file rewritten whole for readers that may open it at any moment (the
// metrics for node_exporter's textfile collector): one platform half each.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// What failed, for a message; `step` alone says what kind of failure it is.
struct ReplaceFailure {
  std::string step{};  // "create", "write", "replace"
  std::string why{};   // the system's word, with the path it concerns
};

// Writes `bytes` under a temporary name in `path`'s folder, readable by
// everyone (0644), then renames it over `path`: a reader finds the old file or
// the new one, never half of one. The temporary file is gone either way.
// Returns the failure, or an empty step when the file was replaced.
ReplaceFailure ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace hostsweep::controller
