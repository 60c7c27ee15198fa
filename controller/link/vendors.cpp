#include "controller/link/vendors.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

#include "common/text.h"
#include "controller/base/printable.h"
#include "controller/base/regular_file.h"

namespace hostsweep::controller {
namespace {

constexpr std::array<int, 3> kPrefixBits = {36, 28, 24};  // longest first
constexpr int kHexDigitBits = 4;
constexpr int kMacBits = 48;
// Five times the largest registry (MA-L, 3 MB in 2022): room to grow, yet
// quick to read.
constexpr std::size_t kMostRegistryBytes = std::size_t{16} << 20U;
constexpr std::array<const char*, 4> kRegistryFiles = {"oui.csv", "mam.csv", "oui36.csv",
                                                       "iab.csv"};

std::uint64_t Key(int bits, std::uint64_t prefix) {
  return prefix << 8 | static_cast<std::uint64_t>(bits);
}

std::uint64_t AsNumber(const MacAddress& mac) {
  std::uint64_t value = 0;
  for (const std::uint8_t octet : mac) {
    value = value << 8 | octet;
  }
  return value;
}

// One CSV field from `line` at `at`, unquoted; `at` moves past its comma.
std::string NextField(std::string_view line, std::size_t& at) {
  std::string field;
  if (at < line.size() && line[at] == '"') {
    for (++at; at < line.size(); ++at) {
      if (line[at] == '"' && at + 1 < line.size() && line[at + 1] == '"') {
        field += '"';
        ++at;
      } else if (line[at] == '"') {
        ++at;
        break;
      } else {
        field += line[at];
      }
    }
  }
  const auto comma = line.find(',', at);
  field += line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
  at = comma == std::string_view::npos ? line.size() : comma + 1;
  return field;
}

}  // namespace

void VendorRegistry::AddCsv(std::istream& csv) {
  std::string line;
  std::getline(csv, line);  // the header
  while (std::getline(csv, line)) {
    std::size_t at = 0;
    NextField(line, at);  // the registry's name
    const std::string assignment = NextField(line, at);
    const std::string maker = std::string(Trim(NextField(line, at), " \t\r"));
    const int bits = static_cast<int>(assignment.size()) * kHexDigitBits;
    std::uint64_t prefix = 0;
    const auto* end = assignment.data() + assignment.size();
    const auto [rest, error] = std::from_chars(assignment.data(), end, prefix, 16);
    if (std::find(kPrefixBits.begin(), kPrefixBits.end(), bits) == kPrefixBits.end() ||
        error != std::errc{} || rest != end || maker.empty()) {
      continue;
    }
    makers_.try_emplace(Key(bits, prefix), maker);
  }
}

std::string_view VendorRegistry::Lookup(const MacAddress& mac) const {
  const std::uint64_t value = AsNumber(mac);
  for (const int bits : kPrefixBits) {
    const auto found = makers_.find(Key(bits, value >> (kMacBits - bits)));
    if (found != makers_.end()) {
      return found->second;
    }
  }
  return {};
}

std::size_t LoadRegistries(const std::filesystem::path& folder, VendorRegistry& registry,
                           std::ostream& diagnostics) {
  std::size_t read = 0;
  for (const char* name : kRegistryFiles) {
    std::string bytes;
    std::string problem;
    const FileRead outcome = ReadRegularFile(folder / name, kMostRegistryBytes, bytes, problem);
    if (outcome == FileRead::kUnusable) {
      diagnostics << "hostsweep: warning: maker registry "
                  << Excerpt((folder / name).string(), kMostQuotedPath) << " left out: " << problem
                  << "\n";
    }
    if (outcome == FileRead::kRead) {
      std::istringstream csv(std::move(bytes));
      registry.AddCsv(csv);
      ++read;
    }
  }
  return read;
}

std::string LazyVendorRegistry::VendorOf(const MacAddress& mac) {
  if (IsLocallyAdministered(mac)) {
    return std::string(kLocallyAdministered);
  }
  if (!registry_) {
    registry_.emplace();
    if (LoadRegistries(folder_, *registry_, diagnostics_) == 0) {
      diagnostics_ << "hostsweep: warning: no maker registries in " << folder_.string()
                   << " (package ieee-data); the vendor column stays empty\n";
    }
  }
  return std::string(registry_->Lookup(mac));
}

}  // namespace hostsweep::controller
