// How hostsweep writes JSON, for every document it writes (--json lines, the
// watch's lines, the watch's state file, --history's lines, the events every
// sink passes on, MQTT's device states and discovery configs), and the keys
// its readers look for.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>

namespace hostsweep::controller {

// Keys keep the order they are set in.
using Json = nlohmann::ordered_json;

// One spelling for whoever writes a key and whoever reads it.
namespace json_key {
inline constexpr const char* kAddress = "address";
inline constexpr const char* kState = "state";
inline constexpr const char* kEcho = "echo";
inline constexpr const char* kRttMs = "rtt_ms";
inline constexpr const char* kTtl = "ttl";
inline constexpr const char* kName = "name";
inline constexpr const char* kMac = "mac";
inline constexpr const char* kVendor = "vendor";
inline constexpr const char* kMacSource = "mac_source";
inline constexpr const char* kNetbiosMac = "netbios_mac";
inline constexpr const char* kNameSource = "name_source";
inline constexpr const char* kWorkgroup = "workgroup";
inline constexpr const char* kEvidence = "evidence";
inline constexpr const char* kSeenBy = "seen_by";
inline constexpr const char* kMacSharedBy = "mac_shared_by";
inline constexpr const char* kIpv6 = "ipv6";
inline constexpr const char* kType = "type";
inline constexpr const char* kMake = "make";
inline constexpr const char* kModel = "model";
inline constexpr const char* kTypeFrom = "type_from";
inline constexpr const char* kServices = "services";
inline constexpr const char* kChange = "change";
inline constexpr const char* kPrevious = "previous";
inline constexpr const char* kAlias = "alias";
inline constexpr const char* kOwner = "owner";
inline constexpr const char* kKnown = "known";
inline constexpr const char* kTime = "time";
inline constexpr const char* kFirstSeen = "first_seen";
inline constexpr const char* kLastSeen = "last_seen";
inline constexpr const char* kPresent = "present";
inline constexpr const char* kKind = "kind";
inline constexpr const char* kFormat = "format";
inline constexpr const char* kHosts = "hosts";
inline constexpr const char* kValue = "value";
inline constexpr const char* kBegan = "began";
inline constexpr const char* kEnded = "ended";
inline constexpr const char* kSessions = "sessions";
inline constexpr const char* kAddresses = "addresses";
inline constexpr const char* kNames = "names";
inline constexpr const char* kMacs = "macs";
inline constexpr const char* kId = "id";
inline constexpr const char* kDevice = "device";
inline constexpr const char* kMissing = "missing";
inline constexpr const char* kSince = "since";
inline constexpr const char* kEvents = "events";
inline constexpr const char* kExpect = "expect";
inline constexpr const char* kNote = "note";
inline constexpr const char* kAwayAfter = "away_after";
inline constexpr const char* kConflict = "conflict";
}  // namespace json_key

// Null where nothing is known: an empty text, or an optional without a value.
// A key is there either way, so that every line has the same keys.
template <typename Value>
Json OrNull(const Value& value) {
  if constexpr (std::is_convertible_v<const Value&, std::string_view>) {
    const std::string_view text(value);
    return text.empty() ? Json(nullptr) : Json(std::string(text));
  } else {
    return value ? Json(*value) : Json(nullptr);
  }
}

// `value` on one line, or indented by `indent` spaces a level. Strings keep
// their text as UTF-8 but for two things: each control or direction
// character (as Printable() judges them) becomes its \uXXXX escape, so that
// it cannot act on the terminal or page that shows it; and bytes that are not
// UTF-8 (names arrive in the system's code page) become U+FFFD.
std::string JsonText(const Json& value, int indent = -1);

}  // namespace hostsweep::controller
