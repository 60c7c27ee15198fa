#include "controller/history/earlier_results.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "controller/base/errors.h"
#include "controller/base/regular_file.h"
#include "controller/history/sweep_xml.h"

namespace hostsweep::controller {
namespace {

using Json = nlohmann::json;

// A /16 sweep's JSON lines take about 20 MB; a line, well under a kilobyte.
constexpr std::size_t kMostFileBytes = std::size_t{64} << 20U;
constexpr std::size_t kMostLineBytes = std::size_t{64} * 1024;
constexpr std::string_view kStateKind = "hostsweep-watch-state";

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

MacSource MacSourceOf(const std::string& text) {
  for (const MacSource source : {MacSource::kNeighbour, MacSource::kArp, MacSource::kNetbios}) {
    if (text == MacSourceText(source)) {
      return source;
    }
  }
  return MacSource::kNone;
}

SeenHost HostOf(const std::string& address, std::string name, const std::string& mac,
                MacSource source) {
  SeenHost host{.address = 0, .name = std::move(name), .mac = std::nullopt, .macSource = source};
  // A device heard over IPv6 alone has its IPv6 address as its row's.
  if (const auto ipv4 = ParseAddress(address)) {
    host.address = *ipv4;
  } else if (IsIpv6Text(address)) {
    host.ipv6 = address;
  } else {
    throw EarlierResultsError("not an IP address: \"" + address + "\"");
  }
  if (!mac.empty()) {
    host.mac = ParseMac(mac);
    if (!host.mac) {
      throw EarlierResultsError("not a MAC address: \"" + mac + "\"");
    }
  }
  return host;
}

SeenHost HostOf(const Json& object) {
  return HostOf(Text(object, "address"), TextOrNothing(object, "name"),
                TextOrNothing(object, "mac"), MacSourceOf(TextOrNothing(object, "mac_source")));
}

Json ParseObject(std::string_view text) {
  Json parsed = Json::parse(text, nullptr, false);
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
  return found->get<std::int64_t>();
}

KnownHost KnownHostOf(const Json& object) {
  const auto present = object.find("present");
  if (present == object.end() || !present->is_boolean()) {
    throw EarlierResultsError("\"present\" is missing or not true or false");
  }
  return {.host = HostOf(object),
          .present = present->get<bool>(),
          .firstSeen = Seconds(object, "first_seen"),
          .lastSeen = Seconds(object, "last_seen")};
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

// Only IPv4 addresses are swept: a device heard over IPv6 alone has a row
// only when found.
void Take(const SeenHost& host, bool found, EarlierSweep& sweep) {
  if (host.ipv6.empty()) {
    sweep.swept.push_back(host.address);
  }
  if (found) {
    sweep.found.push_back(host);
  }
}

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

}  // namespace

EarlierSweep ParseSweepLines(std::string_view bytes) {
  EarlierSweep sweep;
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
      const std::string state = Text(object, "state");
      const SeenHost host = HostOf(object);
      Take(host, state == "alive" || state == "silent" || state == "named", sweep);
    } catch (const EarlierResultsError& error) {
      throw EarlierResultsError("line " + std::to_string(number) + ": " + error.what() +
                                " (hostsweep --json output expected)");
    }
  }
  if (sweep.swept.empty() && sweep.found.empty()) {
    throw EarlierResultsError("empty: no results of hostsweep --json in it");
  }
  return sweep;
}

EarlierSweep ParseSweepXml(std::string_view bytes) {
  EarlierSweep sweep;
  try {
    for (const SweepXmlHost& row : ReadSweepXml(bytes)) {
      // The document does not say where a MAC came from: a link's neighbour
      // entry, or the unit ID a host gave over NetBIOS, which may be another
      // of its adapters. Read as the weaker of the two, it still matches an
      // equal MAC but never calls a host mac-changed on the host's own word.
      const SeenHost host = HostOf(row.address, row.name, row.mac,
                                   row.mac.empty() ? MacSource::kNone : MacSource::kNetbios);
      Take(host, row.found, sweep);
    }
  } catch (const EarlierResultsError& error) {
    throw EarlierResultsError(std::string("XML: ") + error.what() +
                              " (hostsweep --xml output expected)");
  }
  if (sweep.swept.empty() && sweep.found.empty()) {
    throw EarlierResultsError("XML: no hosts of hostsweep --xml in it");
  }
  return sweep;
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
  const Json document = ParseObject(bytes);
  if (TextOrNothing(document, "kind") != kStateKind) {
    throw EarlierResultsError("not a hostsweep watch state file");
  }
  const auto format = document.find("format");
  if (format == document.end() || !format->is_number_unsigned() ||
      format->get<std::uint64_t>() < 1) {
    throw EarlierResultsError("no format number");
  }
  if (format->get<std::uint64_t>() > kStateFormat) {
    throw EarlierResultsError("written by a newer hostsweep (state format " +
                              std::to_string(format->get<std::uint64_t>()) + "; this one reads " +
                              std::to_string(kStateFormat) + ")");
  }
  const auto hosts = document.find("hosts");
  if (hosts == document.end() || !hosts->is_array()) {
    throw EarlierResultsError("\"hosts\" is missing or not a list");
  }
  std::vector<KnownHost> known;
  for (const Json& host : *hosts) {
    if (!host.is_object()) {
      throw EarlierResultsError("a host that is not a JSON object");
    }
    known.push_back(KnownHostOf(host));
  }
  return known;
}

std::string StateDocument(const std::vector<KnownHost>& hosts) {
  Json list = Json::array();
  for (const auto& known : hosts) {
    list.push_back({{"address", AddressText(known.host)},
                    {"name", OrNull(known.host.name)},
                    {"mac", OrNull(known.host.mac ? FormatMac(*known.host.mac) : "")},
                    {"mac_source", OrNull(std::string(MacSourceText(known.host.macSource)))},
                    {"present", known.present},
                    {"first_seen", known.firstSeen},
                    {"last_seen", known.lastSeen}});
  }
  const Json document{{"kind", kStateKind}, {"format", kStateFormat}, {"hosts", list}};
  return document.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
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
