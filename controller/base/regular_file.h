// Files the controller reads on its own (the makers' registries), opened so
// that whatever sits at the path (a FIFO, a device, a directory, a huge file)
// neither blocks the sweep nor costs more than a bounded read.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace hostsweep::controller {

enum class FileRead { kRead, kMissing, kUnusable };

// Reads the whole of the regular file at `path` into `bytes` if it holds at
// most `most` bytes; kUnusable sets `problem` to why not.
FileRead ReadRegularFile(const std::filesystem::path& path, std::size_t most, std::string& bytes,
                         std::string& problem);

}  // namespace hostsweep::controller
