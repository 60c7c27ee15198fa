#include "controller/leases/lease_files.h"

#include <system_error>

#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/base/regular_file.h"

namespace hostsweep::controller {
namespace {

std::optional<std::filesystem::file_time_type> WrittenAt(const std::string& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  return error ? std::nullopt : std::optional(written);
}

std::string Named(const std::string& path) { return "--leases " + Excerpt(path, kMostQuotedPath); }

}  // namespace

LeaseFiles::LeaseFiles(const std::vector<std::string>& paths, std::ostream& diagnostics)
    : diagnostics_(diagnostics) {
  for (const std::string& path : paths) {
    Read(files_.emplace_back(File{.path = path}), /*atStart=*/true);
  }
}

void LeaseFiles::Refresh() {
  for (File& file : files_) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file.path, error);
    const auto written = WrittenAt(file.path);
    if (error || !written || file.read != Stamp{.written = *written, .size = size}) {
      Read(file, /*atStart=*/false);
    }
  }
}

void LeaseFiles::Read(File& file, bool atStart) {
  file.leases.clear();
  // Taken before the read: a change while it is read is read next time.
  const auto written = WrittenAt(file.path);
  std::string bytes;
  std::string problem;
  const FileRead read = ReadRegularFile(file.path, kMostLeaseFileBytes, bytes, problem);
  if (read != FileRead::kRead || !written) {
    problem = problem.empty() ? "cannot be read" : problem;
    if (atStart) {
      throw UsageError(Named(file.path) + ": " + problem);
    }
    // Said once, not at every sweep of a watch while it stays so.
    if (file.read) {
      diagnostics_ << "hostsweep: " << Named(file.path) << ": " << problem
                   << "; its leases are left out\n";
    }
    file.read.reset();
    return;
  }
  file.read = Stamp{.written = *written, .size = bytes.size()};
  try {
    for (Lease& lease : ParseLeaseFile(bytes)) {
      file.leases.insert_or_assign(lease.address, lease);
    }
  } catch (const LeaseFileError& fault) {
    file.leases.clear();
    diagnostics_ << "hostsweep: " << Named(file.path) << ":" << fault.what()
                 << "; its leases are left out\n";
  }
}

std::optional<Lease> LeaseFiles::CurrentLease(Address address, std::int64_t now) const {
  std::optional<Lease> latest;
  for (const File& file : files_) {
    const auto found = file.leases.find(address);
    if (found == file.leases.end() || !IsCurrent(found->second, now)) {
      continue;
    }
    const auto& lease = found->second;
    if (!latest || !lease.ends || (latest->ends && *lease.ends > *latest->ends)) {
      latest = lease;
    }
  }
  return latest;
}

}  // namespace hostsweep::controller
