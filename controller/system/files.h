// Files the controller keeps or reads where the system keeps them: one
// platform half each.
#pragma once

#include <filesystem>
#include <string>

namespace hostsweep::controller {

// Where the IEEE registries of adapter makers are (as ieee-data ships them).
std::filesystem::path VendorRegistryFolder();
// The device rules (device-rules.tsv): beside the program when they are
// there (a build tree, a Windows folder), else where the program's data is
// installed; the bare file name when the program cannot find itself.
std::filesystem::path DeviceRulesFile();

// The first line of a file holding a secret (a URL with a password or a
// token), which command lines would show every user. Throws UsageError unless
// it is a regular file of ours that no one else may read or write, at most a
// few KiB: a secret others could read is no longer one.
std::string ReadSecretFile(const std::filesystem::path& path);

}  // namespace hostsweep::controller
