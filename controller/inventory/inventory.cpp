#include "controller/inventory/inventory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <map>

#include "common/text.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/base/regular_file.h"
#include "controller/base/time_text.h"

namespace hostsweep::controller {
namespace {

// An inventory is typed by hand or kept in a spreadsheet: a megabyte is tens
// of thousands of devices, and no alias or note needs more than a line of
// text. Anything larger is not one, and is not read.
constexpr std::size_t kMostFileBytes = std::size_t{1024} * 1024;
constexpr std::size_t kMostFieldBytes = 256;

constexpr std::array<std::string_view, 6> kHeader{"mac",   "address", "alias",
                                                  "owner", "expect",  "note"};
// Where each field is on a row.
constexpr std::size_t kMac = 0;
constexpr std::size_t kAddress = 1;
constexpr std::size_t kAlias = 2;
constexpr std::size_t kOwner = 3;
constexpr std::size_t kExpect = 4;
constexpr std::size_t kNote = 5;
// The optional column of the reader's own that the watch reads: how long the
// device may go unseen before it is gone (a phone that dozes).
constexpr std::string_view kAwayAfterColumn = "away_after";
// A day: longer is a device that is away, not one that dozes.
constexpr std::chrono::seconds kLongestAwayAfter{24 * 3600};
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The row's MAC where it is the row's key: any real one. A phone keeps its
// randomised MAC for a network, and the user who wrote it down means it.
std::optional<MacAddress> RowMac(const KnownDevice& device) {
  return device.mac && !IsPlaceholderMac(*device.mac) ? device.mac : std::nullopt;
}

// The fields of one row, as RFC 4180 quotes them: a field in double quotes
// may hold commas, doubled quotes and line breaks. The six columns read are
// bounded; the user's own after them are not (--history --csv lists every
// name a device had there), the file's size bounds them.
std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    std::string& field = fields.back();
    if (line[i] == ',') {
      fields.emplace_back();
    } else if (line[i] != '"') {
      field += line[i];
    } else if (!field.empty()) {
      throw UsageError("a quote inside an unquoted field");
    } else {
      for (++i;; ++i) {
        if (i == line.size()) {
          throw UsageError("a quoted field that does not end");
        }
        if (line[i] == '"' && (i + 1 == line.size() || line[i + 1] != '"')) {
          break;
        }
        i += line[i] == '"' ? 1 : 0;  // a doubled quote is one
        field += line[i];
      }
      if (i + 1 < line.size() && line[i + 1] != ',') {
        throw UsageError("text after a quoted field");
      }
    }
    if (fields.size() <= kHeader.size() && fields.back().size() > kMostFieldBytes) {
      throw UsageError("a field longer than " + std::to_string(kMostFieldBytes) + " bytes");
    }
  }
  return fields;
}

// The lines from `at` that make one row: the next line, joined by a line
// break with those after it while a quoted field is open (an odd number of
// quotes so far). `at` moves past them, `number` counts them.
std::string Row(std::string_view text, std::size_t& at, std::size_t& number) {
  std::string row;
  bool open = false;
  do {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = TrimEnd(text.substr(at, end - at), "\r");
    row += (open ? "\n" : "") + std::string(line);
    open = (std::count(line.begin(), line.end(), '"') % 2 == 1) != open;
    at = end + 1;
    ++number;
  } while (open && at < text.size());
  return row;
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
  const std::string_view mac = Trim(fields[kMac], " \t");
  if (!mac.empty()) {
    device.mac = ParseMac(mac);
    if (!device.mac) {
      throw UsageError("bad MAC \"" + Excerpt(mac) + "\"");
    }
  }
  // An IPv6 address as rows write it: lower-case hex.
  device.address = Lowered(Trim(fields[kAddress], " \t"));
  if (!device.address.empty() && !ParseAddress(device.address) && !IsIpv6Text(device.address)) {
    throw UsageError("bad address \"" + Excerpt(fields[kAddress]) + "\"");
  }
  if (!device.mac && device.address.empty()) {
    throw UsageError("neither a MAC nor an address");
  }
  if (device.mac && !RowMac(device) && device.address.empty()) {
    throw UsageError("MAC " + FormatMac(*device.mac) + " names no device: give its address");
  }
  device.facts = {.known = true,
                  .alias = fields[kAlias],
                  .owner = fields[kOwner],
                  .expect = ExpectOf(Trim(fields[kExpect], " \t")),
                  .awayAfter = awayAfter ? AwayAfterOf(Trim(fields[*awayAfter], " \t")) : 0};
  device.note = fields[kNote];
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
  if (text.starts_with(kByteOrderMark)) {
    text.remove_prefix(kByteOrderMark.size());
  }
  std::vector<KnownDevice> devices;
  std::map<std::string, std::size_t> keys;
  std::size_t number = 0;
  std::size_t columns = kHeader.size();
  std::optional<std::size_t> awayAfter;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t first = number + 1;  // the row's first line, which faults name
    const std::string row = Row(text, at, number);
    try {
      const auto fields = Fields(row);
      if (number == 1) {
        // Columns after the six are the reader's own (--history --csv writes
        // what it knows of each device there): kept apart, never read.
        if (fields.size() < kHeader.size() ||
            !std::equal(kHeader.begin(), kHeader.end(), fields.begin())) {
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

Inventory ReadInventory(const std::string& path) {
  const std::string named = "--known " + Excerpt(path, kMostQuotedPath);
  std::string bytes;
  std::string problem;
  if (ReadRegularFile(path, kMostFileBytes, bytes, problem) != FileRead::kRead) {
    throw UsageError(named + ": " + problem);
  }
  try {
    return ParseInventory(bytes);
  } catch (const UsageError& fault) {
    throw UsageError(named + ":" + fault.what());
  }
}

}  // namespace hostsweep::controller
