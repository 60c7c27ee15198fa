#include "controller/inventory/inventory.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

#include "common/text.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/base/regular_file.h"
#include "controller/base/time_text.h"
#include "controller/inventory/inventory_csv.h"

namespace hostsweep::controller {
namespace {

// An inventory is typed by hand or kept in a spreadsheet: a megabyte is tens
// of thousands of devices, and no alias or note needs more than a line of
// text. Anything larger is not one, and is not read.
constexpr std::size_t kMostFileBytes = std::size_t{1024} * 1024;
// A day: longer is a device that is away, not one that dozes.
constexpr std::chrono::seconds kLongestAwayAfter{24 * 3600};

// The row's MAC where it is the row's key: any real one. A phone keeps its
// randomised MAC for a network, and the user who wrote it down means it.
std::optional<MacAddress> RowMac(const KnownDevice& device) {
  return device.mac && !IsPlaceholderMac(*device.mac) ? device.mac : std::nullopt;
}

Expect ExpectOf(std::string_view text) {
  for (const auto& [expect, name] : kExpectTexts) {
    if (text == name) {
      return expect;
    }
  }
  if (!text.empty()) {
    throw UsageError("bad expect \"" + Excerpt(text) + "\" (empty, always or ignore)");
  }
  return Expect::kAny;
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

std::int64_t AwayAfterOf(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const auto duration = ParseDuration(text, kLongestAwayAfter);
  if (!duration) {
    throw UsageError("bad away_after \"" + Excerpt(text) + "\" (90s, 20m, 1h: at most a day)");
  }
  return duration->count();
}

// `awayAfter`: the column of away_after, if the header has one.
KnownDevice DeviceOf(const std::vector<std::string>& fields, std::size_t columns,
                     std::optional<std::size_t> awayAfter) {
  if (fields.size() != columns) {
    throw UsageError(std::to_string(fields.size()) + " fields, not " + std::to_string(columns));
  }
  KnownDevice device;
  const std::string_view mac = Trim(fields[kKnownMac], " \t");
  if (!mac.empty()) {
    device.mac = ParseMac(mac);
    if (!device.mac) {
      throw UsageError("bad MAC \"" + Excerpt(mac) + "\"");
    }
  }
  // An IPv6 address as rows write it: lower-case hex.
  device.address = Lowered(Trim(fields[kKnownAddress], " \t"));
  if (!device.address.empty() && !ParseAddress(device.address) && !IsIpv6Text(device.address)) {
    throw UsageError("bad address \"" + Excerpt(fields[kKnownAddress]) + "\"");
  }
  if (!device.mac && device.address.empty()) {
    throw UsageError("neither a MAC nor an address");
  }
  if (device.mac && !RowMac(device) && device.address.empty()) {
    throw UsageError("MAC " + FormatMac(*device.mac) + " names no device: give its address");
  }
  device.facts = {.known = true,
                  .alias = fields[kKnownAlias],
                  .owner = fields[kKnownOwner],
                  .expect = ExpectOf(Trim(fields[kKnownExpect], " \t")),
                  .awayAfter = awayAfter ? AwayAfterOf(Trim(fields[*awayAfter], " \t")) : 0};
  device.note = fields[kKnownNote];
  return device;
}

// The line a device's key was first given on, so that a second row for the
// same device is refused rather than one of them silently lost.
void CheckUnique(const KnownDevice& device, std::size_t line,
                 std::map<std::string, std::size_t>& keys) {
  const auto mac = RowMac(device);
  const std::string key = mac ? FormatMac(*mac) : device.address;
  const auto [first, added] = keys.emplace(key, line);
  if (!added) {
    throw UsageError(std::string(mac ? "MAC " : "address ") + key + " is on line " +
                     std::to_string(first->second) + " too");
  }
}

}  // namespace

Inventory::Inventory(std::vector<KnownDevice> devices) : devices_(std::move(devices)) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (RowMac(devices_[i])) {
      byMac_.emplace(*devices_[i].mac, i);
    } else {
      byAddress_.emplace(devices_[i].address, i);
    }
  }
}

const KnownDevice* Inventory::Find(const SeenHost& host) const {
  const HostKeys keys = KeysOf(host);
  const auto mac = OwnMac(host);
  if (const auto byMac = mac ? byMac_.find(*mac) : byMac_.end(); byMac != byMac_.end()) {
    return &devices_[byMac->second];
  }
  for (const std::string& address : keys.addresses) {
    if (const auto byAddress = byAddress_.find(address); byAddress != byAddress_.end()) {
      return &devices_[byAddress->second];
    }
  }
  return nullptr;
}

KnownFacts Inventory::FactsOf(const HostView& view) const {
  const KnownDevice* device = Find(SeenHostOf(view));
  return device != nullptr ? device->facts : KnownFacts{};
}

Inventory ParseInventory(std::string_view text) {
  if (text.starts_with(kKnownByteOrderMark)) {
    text.remove_prefix(kKnownByteOrderMark.size());
  }
  std::vector<KnownDevice> devices;
  std::map<std::string, std::size_t> keys;
  std::size_t number = 0;
  std::size_t columns = kKnownHeader.size();
  std::optional<std::size_t> awayAfter;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t first = number + 1;  // the row's first line, which faults name
    const std::string row = KnownRow(text, at, number);
    try {
      const auto fields = KnownFields(row);
      if (number == 1) {
        // Columns after the six are the reader's own (--history --csv writes
        // what it knows of each device there): kept apart, never read.
        if (fields.size() < kKnownHeader.size() ||
            !std::equal(kKnownHeader.begin(), kKnownHeader.end(), fields.begin())) {
          throw UsageError("the first line must be the header mac,address,alias,owner,expect,note");
        }
        columns = fields.size();
        const auto named = std::find(fields.begin(), fields.end(), kAwayAfterColumn);
        if (named != fields.end()) {
          awayAfter = static_cast<std::size_t>(named - fields.begin());
        }
      } else if (!row.empty()) {
        devices.push_back(DeviceOf(fields, columns, awayAfter));
        CheckUnique(devices.back(), first, keys);
      }
    } catch (const UsageError& fault) {
      throw UsageError(std::to_string(first) + ": " + fault.what());
    }
  }
  if (number == 0) {
    throw UsageError("1: the first line must be the header mac,address,alias,owner,expect,note");
  }
  return Inventory(std::move(devices));
}

std::string ReadKnownText(const std::string& path) {
  std::string bytes;
  std::string problem;
  if (ReadRegularFile(path, kMostFileBytes, bytes, problem) != FileRead::kRead) {
    throw UsageError("--known " + Excerpt(path, kMostQuotedPath) + ": " + problem);
  }
  return bytes;
}

Inventory ReadInventory(const std::string& path) {
  const std::string bytes = ReadKnownText(path);
  try {
    return ParseInventory(bytes);
  } catch (const UsageError& fault) {
    throw UsageError("--known " + Excerpt(path, kMostQuotedPath) + ":" + fault.what());
  }
}

}  // namespace hostsweep::controller
