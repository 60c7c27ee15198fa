// Files the controller reads on its own (the makers' registries), opened so
// that whatever sits at the path (a FIFO, a device, a directory, a huge file)
// neither blocks the sweep nor costs more than a bounded read; and the files
// it writes, opened so that another user's symlink cannot choose them.
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

enum class FileWrite { kOpened, kFailed, kPlantedLink };

// Opens `path` for writing, created or emptied, into `fd` (not inherited by
// workers); otherwise sets `problem` to why not. A symlink in a sticky folder
// anyone may write to (/tmp) is followed only when it is ours or the folder
// owner's, as the system does with fs.protected_symlinks set, which it may
// not be: another user's (kPlantedLink) would have root write where that
// user chose.
FileWrite OpenForWriting(const std::filesystem::path& path, int& fd, std::string& problem);

}  // namespace hostsweep::controller
