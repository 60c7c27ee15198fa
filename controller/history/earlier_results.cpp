#include "controller/history/earlier_results.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "controller/base/errors.h"
#include "controller/base/regular_file.h"
#include "controller/history/sweep_xml.h"
#include "controller/model/json_fields.h"
#include "controller/output/row_fields.h"

namespace hostsweep::controller {
namespace {

// A /16 sweep's JSON lines take about 20 MB; a line, well under a kilobyte.
constexpr std::size_t kMostFileBytes = std::size_t{64} << 20U;
constexpr std::size_t kMostLineBytes = std::size_t{64} * 1024;
constexpr std::string_view kStateKind = "hostsweep-watch-state";
// 1970 to the end of 9999: what a watch's clock can have said.
constexpr std::int64_t kLastSecond = 253'402'300'799;

std::string Text(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) {
    throw EarlierResultsError(std::string("\"") + key + "\" is missing or not a string");
  }
  return found->get<std::string>();
}

// Null (or absent) where nothing was known.
std::string TextOrNothing(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found == object.end() || found->is_null() ? std::string{} : Text(object, key);
}

// Every field a row of ours reads back; older files, and rows of devices that
// said nothing, lack some.
SeenHost HostOf(const Json& object) {
  SeenHost host;
  for (const RowField& field : RowFields()) {
    if (field.readBack != nullptr) {
      const auto found = object.find(field.key);
      field.readBack(found == object.end() ? Json(nullptr) : *found, host);
    }
  }
  return host;
}

Json ParseObject(std::string_view text, const Json::parser_callback_t& callback = nullptr) {
  Json parsed = Json::parse(text, callback, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    throw EarlierResultsError("not a whole JSON object: cut short or corrupt");
  }
  return parsed;
}

std::int64_t Seconds(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_integer()) {
    throw EarlierResultsError(std::string("\"") + key + "\" is missing or not a whole number");
  }
  const std::int64_t seconds = found->get<std::int64_t>();
  if (seconds < 0 || seconds > kLastSecond) {
    throw EarlierResultsError(std::string("\"") + key + "\" is no time from 1970 to 9999");
  }
  return seconds;
}

KnownHost KnownHostOf(const Json& object) {
  const auto present = object.find(json_key::kPresent);
  if (present == object.end() || !present->is_boolean()) {
    throw EarlierResultsError(std::string("\"") + json_key::kPresent +
                              "\" is missing or not true or false");
  }
  return {.host = HostOf(object),
          .present = present->get<bool>(),
          .firstSeen = Seconds(object, json_key::kFirstSeen),
          .lastSeen = Seconds(object, json_key::kLastSeen)};
}

std::string ReadBounded(const std::filesystem::path& path, bool& missing) {
  std::string bytes;
  std::string problem;
  const FileRead read = ReadRegularFile(path, kMostFileBytes, bytes, problem);
  missing = read == FileRead::kMissing;
  if (read == FileRead::kUnusable) {
    throw EarlierResultsError(path.string() + ": " + problem);
  }
  return bytes;
}

// A file that names a host again says nothing new, but each copy kept would
// be one more host to call gone. Each is kept once, by its address and
// identity (the MAC that names a device, else its name), as it is read: what
// is kept grows with the distinct hosts alone.
class DistinctHosts {
 public:
  bool IsNew(const SeenHost& host) {
    const auto mac = DeviceMac(host);
    return keys_.emplace(AddressText(host), mac, mac ? std::string{} : host.name).second;
  }

 private:
  std::set<std::tuple<std::string, std::optional<MacAddress>, std::string>> keys_;
};

// An earlier sweep as its file is read. Only IPv4 addresses are swept: a
// device heard over IPv6 alone has a row only when found. A sweep has one
// row per address; a file with more (sweeps joined, or not ours) is taken at
// each address's first row, as a target named twice is swept where it first
// appears: every other would be one more host to call gone.
class SweepReading {
 public:
  void Add(const SeenHost& host, bool found) {
    const bool first = host.ipv6.empty() ? addresses_.insert(host.address).second
                                         : ipv6Addresses_.insert(host.ipv6).second;
    if (first && host.ipv6.empty()) {
      sweep_.swept.push_back(host.address);
    }
    if (first && found) {
      sweep_.found.push_back(host);
    }
  }
  [[nodiscard]] bool Empty() const { return sweep_.swept.empty() && sweep_.found.empty(); }
  EarlierSweep Done() {
    std::vector<SeenHost*> found;
    for (SeenHost& host : sweep_.found) {
      found.push_back(&host);
    }
    CountSharedMacs(found);
    return std::move(sweep_);
  }

 private:
  EarlierSweep sweep_;
  std::unordered_set<Address> addresses_;
  std::unordered_set<std::string> ipv6Addresses_;
};

}  // namespace

EarlierSweep ParseSweepLines(std::string_view bytes) {
  SweepReading sweep;
  std::size_t number = 0;
  while (!bytes.empty()) {
    const std::size_t end = std::min(bytes.find('\n'), bytes.size());
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(std::min(end + 1, bytes.size()));
    ++number;
    // Blank lines, as where two files were joined, hold no result.
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
      continue;
    }
    try {
      if (line.size() > kMostLineBytes) {
        throw EarlierResultsError("longer than any result line");
      }
      const Json object = ParseObject(line);
      const std::string state = Text(object, json_key::kState);
      sweep.Add(HostOf(object), state == "alive" || state == "silent" || state == "named");
    } catch (const EarlierResultsError& error) {
      throw EarlierResultsError("line " + std::to_string(number) + ": " + error.what() +
                                " (hostsweep --json output expected)");
    }
  }
  if (sweep.Empty()) {
    throw EarlierResultsError("empty: no results of hostsweep --json in it");
  }
  return sweep.Done();
}

EarlierSweep ParseSweepXml(std::string_view bytes) {
  SweepReading sweep;
  try {
    ReadSweepXml(bytes, [&sweep](SweepXmlHost row) {
      // The document does not say where a MAC came from: a link's neighbour
      // entry, or the unit ID a host gave over NetBIOS, which may be another
      // of its adapters. Read as the weaker of the two, it still matches an
      // equal MAC but never calls a host mac-changed on the host's own word.
      using namespace json_key;
      row.fields[kAddress] = row.address;
      row.fields[kName] = OrNull(row.name);
      row.fields[kMac] = OrNull(row.mac);
      SeenHost host = HostOf(row.fields);
      host.macSource = host.mac ? MacSource::kNetbios : MacSource::kNone;
      sweep.Add(host, row.found);
    });
  } catch (const EarlierResultsError& error) {
    throw EarlierResultsError(std::string("XML: ") + error.what() +
                              " (hostsweep --xml output expected)");
  }
  if (sweep.Empty()) {
    throw EarlierResultsError("XML: no hosts of hostsweep --xml in it");
  }
  return sweep.Done();
}

EarlierSweep ParseEarlierSweep(std::string_view bytes) {
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  const bool markup = first != std::string_view::npos && bytes[first] == '<';
  return markup ? ParseSweepXml(bytes) : ParseSweepLines(bytes);
}

EarlierSweep ReadEarlierSweep(const std::filesystem::path& path) {
  bool missing = false;
  const std::string bytes = ReadBounded(path, missing);
  if (missing) {
    throw EarlierResultsError(path.string() + ": no such file");
  }
  try {
    return ParseEarlierSweep(bytes);
  } catch (const EarlierResultsError& error) {
    throw EarlierResultsError(path.string() + ": " + error.what());
  }
}

std::vector<KnownHost> ParseState(std::string_view bytes) {
  // Each host is taken as soon as it is parsed and left out of the document,
  // so that the document never holds them all; a fault in one is told once
  // the document is known to be a state file.
  std::vector<KnownHost> known;
  DistinctHosts distinct;
  std::size_t number = 0;
  std::string fault;
  bool inHosts = false;
  const Json document = ParseObject(bytes, [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 1 && event == Json::parse_event_t::key) {
      inHosts = parsed == json_key::kHosts;
    }
    if (depth != 2 || event != Json::parse_event_t::object_end || !inHosts) {
      return true;
    }
    try {
      ++number;
      KnownHost host = KnownHostOf(parsed);
      if (distinct.IsNew(host.host)) {
        known.push_back(std::move(host));
      }
    } catch (const EarlierResultsError& error) {
      if (fault.empty()) {
        fault = "host " + std::to_string(number) + ": " + error.what();
      }
    }
    return false;
  });
  if (TextOrNothing(document, json_key::kKind) != kStateKind) {
    throw EarlierResultsError("not a hostsweep watch state file");
  }
  const auto format = document.find(json_key::kFormat);
  if (format == document.end() || !format->is_number_unsigned() ||
      format->get<std::uint64_t>() < 1) {
    throw EarlierResultsError("no format number");
  }
  if (format->get<std::uint64_t>() > kStateFormat) {
    throw EarlierResultsError("written by a newer hostsweep (state format " +
                              std::to_string(format->get<std::uint64_t>()) + "; this one reads " +
                              std::to_string(kStateFormat) + ")");
  }
  const auto hosts = document.find(json_key::kHosts);
  if (hosts == document.end() || !hosts->is_array()) {
    throw EarlierResultsError(std::string("\"") + json_key::kHosts + "\" is missing or not a list");
  }
  if (!hosts->empty()) {
    throw EarlierResultsError("a host that is not a JSON object");
  }
  if (!fault.empty()) {
    throw EarlierResultsError(fault);
  }
  return known;
}

std::string StateDocument(const std::vector<KnownHost>& hosts) {
  using namespace json_key;
  // Keys in alphabetical order: the layout every state file has.
  Json list = Json::array();
  for (const auto& known : hosts) {
    list.push_back({{kAddress, AddressText(known.host)},
                    {kFirstSeen, known.firstSeen},
                    {kLastSeen, known.lastSeen},
                    {kMac, OrNull(known.host.mac ? FormatMac(*known.host.mac) : "")},
                    {kMacSource, OrNull(MacSourceText(known.host.macSource))},
                    {kModel, OrNull(known.host.model)},
                    {kName, OrNull(known.host.name)},
                    {kPresent, known.present},
                    {kType, OrNull(known.host.type)}});
  }
  const Json document{{kFormat, kStateFormat}, {kHosts, std::move(list)}, {kKind, kStateKind}};
  return JsonText(document, 1) + "\n";
}

std::optional<std::vector<KnownHost>> ReadState(const std::filesystem::path& path) {
  bool missing = false;
  const std::string bytes = ReadBounded(path, missing);
  if (missing) {
    return std::nullopt;
  }
  try {
    return ParseState(bytes);
  } catch (const EarlierResultsError& error) {
    throw EarlierResultsError(path.string() + ": " + error.what());
  }
}

}  // namespace hostsweep::controller
