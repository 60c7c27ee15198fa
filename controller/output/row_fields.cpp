#include "controller/output/row_fields.h"

#include <algorithm>
#include <array>

#include "controller/base/errors.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {
namespace {

using namespace json_key;

std::string Quoted(const char* key) { return std::string("\"") + key + "\""; }

// Null where nothing was known, as older files (and rows of devices that
// said nothing) have it.
std::string TextOrNothing(const Json& value, const char* key) {
  if (value.is_null()) {
    return {};
  }
  if (!value.is_string()) {
    throw EarlierResultsError(Quoted(key) + " is missing or not a string");
  }
  return value.get<std::string>();
}

void ReadAddress(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    throw EarlierResultsError(Quoted(kAddress) + " is missing or not a string");
  }
  const std::string address = TextOrNothing(value, kAddress);
  if (!SetRowAddress(host, address)) {
    throw EarlierResultsError("not an IP address: \"" + address + "\"");
  }
}

void ReadMac(const Json& value, SeenHost& host) {
  const std::string mac = TextOrNothing(value, kMac);
  if (!mac.empty()) {
    host.mac = ParseMac(mac);
    if (!host.mac) {
      throw EarlierResultsError("not a MAC address: \"" + mac + "\"");
    }
  }
}

void ReadMacSharedBy(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    return;
  }
  if (!value.is_number_unsigned()) {
    throw EarlierResultsError(Quoted(kMacSharedBy) + " is not a whole number");
  }
  host.macSharedBy = value.get<std::size_t>();
}

void ReadIpv6(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    return;
  }
  const bool texts = value.is_array() && std::all_of(value.begin(), value.end(),
                                                     [](const Json& a) { return a.is_string(); });
  if (!texts) {
    throw EarlierResultsError(Quoted(kIpv6) + " is not a list of texts");
  }
  for (const Json& address : value) {
    host.deviceIpv6.push_back(address.get<std::string>());
  }
}

// "moved 10.0.0.23": the change and what it was before.
std::string ChangeColumn(const HostView& view) {
  if (!view.change) {
    return {};
  }
  std::string text(ChangeText(view.change->change));
  return view.change->previous.empty() ? text : text + " " + view.change->previous;
}

Json ChangeValue(const HostView& view, auto part) {
  return view.change ? OrNull(part(*view.change)) : Json(nullptr);
}

Json KnownValue(const HostView& view, auto part) {
  return view.known ? Json(part(*view.known)) : Json(nullptr);
}

const std::array<RowField, 25> kRowFields{{
    {kAddress, "ADDRESS", Shows::kAlways, true,
     [](const HostView& v) { return Json(AddressText(v)); }, nullptr, ReadAddress},
    {kState, "STATE", Shows::kAlways, true,
     [](const HostView& v) { return Json(StateText(v.state)); }},
    {kEcho, "", Shows::kAlways, false, [](const HostView& v) { return OrNull(v.echo); }},
    {kRttMs, "RTT(ms)", Shows::kAlways, true,
     [](const HostView& v) { return OrNull(v.roundTripMs); }},
    {kTtl, "TTL", Shows::kAlways, true, [](const HostView& v) { return OrNull(v.ttl); }},
    {kName, "NAME", Shows::kAlways, true, [](const HostView& v) { return OrNull(v.name); }, nullptr,
     [](const Json& value, SeenHost& host) { host.name = TextOrNothing(value, kName); }},
    {kMac, "MAC", Shows::kAlways, true,
     [](const HostView& v) { return OrNull(v.mac ? FormatMac(*v.mac) : ""); }, nullptr, ReadMac},
    {kVendor, "VENDOR", Shows::kAlways, true, [](const HostView& v) { return OrNull(v.vendor); }},
    {kMacSource, "", Shows::kAlways, false,
     [](const HostView& v) { return OrNull(MacSourceText(v.macSource)); }, nullptr,
     [](const Json& value, SeenHost& host) {
       host.macSource =
           ValueOf(kMacSourceTexts, TextOrNothing(value, kMacSource)).value_or(MacSource::kNone);
     }},
    {kNetbiosMac, "", Shows::kAlways, false,
     [](const HostView& v) { return OrNull(v.netbiosMac); }},
    {kNameSource, "", Shows::kAlways, false,
     [](const HostView& v) { return OrNull(NameSourceText(v.nameSource)); }},
    {kWorkgroup, "", Shows::kAlways, false, [](const HostView& v) { return OrNull(v.workgroup); }},
    {kEvidence, "", Shows::kAlways, false,
     [](const HostView& v) { return OrNull(EvidenceText(v.evidence)); }},
    {kMacSharedBy, "", Shows::kWhenSet, false,
     [](const HostView& v) { return OrNull(v.macSharedBy); }, nullptr, ReadMacSharedBy},
    {kType, "TYPE", Shows::kWhenDeviceSaid, true,
     [](const HostView& v) { return OrNull(v.device.type); }, nullptr,
     [](const Json& value, SeenHost& host) { host.type = TextOrNothing(value, kType); }},
    {kMake, "", Shows::kWhenDeviceSaid, true,
     [](const HostView& v) { return OrNull(v.device.make); }},
    {kModel, "MODEL", Shows::kWhenDeviceSaid, true,
     [](const HostView& v) { return OrNull(v.device.model); },
     [](const HostView& v) { return MakeAndModel(v.device); },
     [](const Json& value, SeenHost& host) { host.model = TextOrNothing(value, kModel); }},
    {kTypeFrom, "", Shows::kWhenDeviceSaid, true,
     [](const HostView& v) { return OrNull(TypeSourceText(v.device.typeFrom)); }},
    {kServices, "", Shows::kWhenDeviceSaid, false,
     [](const HostView& v) { return Json(v.device.services); }},
    {kIpv6, "IPV6", Shows::kWithIpv6, true, [](const HostView& v) { return Json(v.ipv6); }, nullptr,
     ReadIpv6},
    {kChange, "CHANGE", Shows::kWhenCompared, true,
     [](const HostView& v) {
       return ChangeValue(v, [](const RowChange& c) { return ChangeText(c.change); });
     },
     ChangeColumn},
    {kPrevious, "", Shows::kWhenCompared, true,
     [](const HostView& v) {
       return ChangeValue(v, [](const RowChange& c) { return c.previous; });
     }},
    {kAlias, "ALIAS", Shows::kWithInventory, true,
     [](const HostView& v) {
       return KnownValue(v, [](const KnownFacts& k) { return OrNull(k.alias); });
     }},
    {kOwner, "", Shows::kWithInventory, true,
     [](const HostView& v) {
       return KnownValue(v, [](const KnownFacts& k) { return OrNull(k.owner); });
     }},
    {kKnown, "", Shows::kWithInventory, true,
     [](const HostView& v) { return KnownValue(v, [](const KnownFacts& k) { return k.known; }); }},
}};

// The columns of old, then each added since after them.
int CsvPlace(Shows shows) {
  switch (shows) {
    case Shows::kWithIpv6:
      return 1;
    case Shows::kWhenCompared:
      return 2;
    case Shows::kWhenDeviceSaid:
      return 3;
    case Shows::kWithInventory:
      return 4;
    case Shows::kAlways:
    case Shows::kWhenSet:
      break;
  }
  return 0;
}

}  // namespace

std::span<const RowField> RowFields() { return kRowFields; }

const std::vector<const RowField*>& CsvFields() {
  static const std::vector<const RowField*> fields = [] {
    std::vector<const RowField*> csv;
    for (const RowField& field : kRowFields) {
      if (field.csv) {
        csv.push_back(&field);
      }
    }
    std::stable_sort(csv.begin(), csv.end(), [](const RowField* a, const RowField* b) {
      return CsvPlace(a->shows) < CsvPlace(b->shows);
    });
    return csv;
  }();
  return fields;
}

bool OnRow(const RowField& field, const HostView& view, bool ipv6, bool fixedColumns) {
  switch (field.shows) {
    case Shows::kWhenSet:
      return fixedColumns || !field.value(view).is_null();
    case Shows::kWhenDeviceSaid:
      return fixedColumns || view.device != DeviceFacts{};
    case Shows::kWithIpv6:
      return ipv6;
    case Shows::kWhenCompared:
      return view.change.has_value();
    case Shows::kWithInventory:
      return view.known.has_value();
    case Shows::kAlways:
      break;
  }
  return true;
}

std::string FieldText(const Json& value) {
  if (value.is_null()) {
    return {};
  }
  if (value.is_string()) {
    return value.get<std::string>();
  }
  if (value.is_array()) {
    std::string joined;
    for (const Json& item : value) {
      joined += (joined.empty() ? "" : " ") + FieldText(item);
    }
    return joined;
  }
  return value.dump();
}

std::string ColumnText(const RowField& field, const HostView& view) {
  return field.column != nullptr ? field.column(view) : FieldText(field.value(view));
}

}  // namespace hostsweep::controller
